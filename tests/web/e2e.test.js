// The browser build end to end: the page served on 127.0.0.1, the game in
// Debian's Chromium (headless), checked by what the canvas shows.
//
//   cd tests/web && npm ci && node --test
//
// KELVAR_WEB_BUILD names the build folder (default ../../build-web);
// KELVAR_WEB_NETWORK (one of puppeteer's PredefinedNetworkConditions, such
// as 'Fast 4G') slows the phone's network for its page-weight figures.
'use strict';

const {describe, test, before, after} = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const {PredefinedNetworkConditions} = require('puppeteer-core');
const {launchBrowser, Phone, PhoneAgent} = require('./browser.js');
const {serve} = require('./server.js');
const screen = require('./screen.js');

const BuildFolder = path.resolve(process.env.KELVAR_WEB_BUILD || path.join(__dirname, '..', '..', 'build-web'));
const TurnTimeout = 60000;

let site;
let browser;

before(async () => {
  assert.ok(fs.existsSync(path.join(BuildFolder, 'web', 'kelvar.wasm')), `no browser build in ${BuildFolder}`);
  site = await serve(path.join(BuildFolder, 'web'));
  browser = await launchBrowser();
});

after(async () => {
  if (browser) await browser.close();
  if (site) await site.close();
});

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// recordPresents: before the page loads, every screen the game presents
// (not only those the page paints, one per animation frame) is kept as its
// status word's cells and two squares, while window.kelvarRecording is set.
async function recordPresents(page, squares) {
  await page.evaluateOnNewDocument((squares) => {
    const Native = window.Worker;
    const screen = new Uint8ClampedArray(640 * 480 * 4);
    const cut = (x, y, w, h) => {
      const part = [];
      for (let row = y; row < y + h; ++row) part.push(...screen.subarray((row * 640 + x) * 4, (row * 640 + x + w) * 4));
      return part;
    };
    window.kelvarRecording = false;
    window.kelvarPresents = [];
    window.Worker = class extends Native {
      constructor(...args) {
        super(...args);
        this.addEventListener('message', (event) => {
          if (event.data.type !== 'rows') return;
          screen.set(new Uint8ClampedArray(event.data.pixels), event.data.first * 640 * 4);
          if (!window.kelvarRecording) return;
          window.kelvarPresents.push({
            status: cut(542, 470, 64, 8),
            squares: squares.map((square) => cut(square.x, square.y, 48, 48)),
          });
        });
      }
    };
  }, squares);
}

// presented: a recorded present as a picture (black but for its parts).
function presented(record, squares) {
  const bytes = new Uint8Array(screen.Width * screen.Height * 4);
  const put = (part, x, y, w, h) => {
    for (let row = 0; row < h; ++row) bytes.set(part.slice(row * w * 4, (row + 1) * w * 4), ((y + row) * screen.Width + x) * 4);
  };
  put(record.status, 542, 470, 64, 8);
  record.squares.forEach((part, i) => put(part, squares[i].x, squares[i].y, 48, 48));
  return new screen.Picture(bytes);
}

async function openGame(viewport, prepare, context = browser) {
  const page = await context.newPage();
  await page.setViewport(viewport);
  if (prepare) await prepare(page);
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  await page.goto(site.url);
  page.problems = problems;
  return page;
}

// shot: what the canvas shows now.
async function shot(page) {
  const base64 = await page.evaluate(() => {
    const canvas = document.getElementById('screen');
    const bytes = canvas.getContext('2d').getImageData(0, 0, 640, 480).data;
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000)
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
  });
  return new screen.Picture(Buffer.from(base64, 'base64'));
}

// waitForShot: polls the canvas until the picture passes the check.
async function waitForShot(page, check, timeout, what) {
  const end = Date.now() + timeout;
  for (;;) {
    const picture = await shot(page);
    if (check(picture)) return picture;
    const phase = await page.evaluate(() => window.kelvarPage.phase);
    if (phase === 'ended' || Date.now() > end) {
      const output = await page.evaluate(() => window.kelvarPage.output.join('\n'));
      assert.fail(`not seen: ${what} (page ${phase}; output: ${output}; errors: ${page.problems})`);
    }
    await sleep(50);
  }
}

// pagePoint: the page point (CSS pixels, from the viewport's corner) at the
// centre of a screen pixel.
async function pagePoint(page, x, y) {
  return page.evaluate(
    (x, y) => {
      const rect = document.getElementById('screen').getBoundingClientRect();
      return {x: rect.left + ((x + 0.5) * rect.width) / 640, y: rect.top + ((y + 0.5) * rect.height) / 480};
    },
    x,
    y,
  );
}

async function moveTo(page, x, y) {
  const point = await pagePoint(page, x, y);
  await page.mouse.move(point.x, point.y);
}

async function click(page, x, y) {
  await moveTo(page, x, y);
  await sleep(100);
  await page.mouse.down();
  await page.mouse.up();
  // Clicks closer than 0.3 seconds are not taken.
  await sleep(500);
}

// tap: a touch at the centre of a screen pixel.
async function tap(page, x, y) {
  const point = await pagePoint(page, x, y);
  await page.touchscreen.tap(point.x, point.y);
  await sleep(500);
}

// clickSquare: a click (or another press, such as tap) on a square's centre.
async function clickSquare(page, square, press = click) {
  const {x, y} = screen.squareCentre(square);
  await press(page, x, y);
}

// startFrom: the page's file chooser given a start-position file of this text.
async function startFrom(page, text) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'kelvar-web-'));
  const file = path.join(folder, 'start.in');
  fs.writeFileSync(file, text);
  try {
    const run = await page.evaluate(() => window.kelvarPage.run);
    const chooser = await page.$('#position');
    await chooser.uploadFile(file);
    await page.waitForFunction((run) => window.kelvarPage.run > run, {}, run);
  } finally {
    fs.rmSync(folder, {recursive: true, force: true});
  }
}

const isWaiting = (picture) => screen.showsStatus(picture, 'waiting');

// waitForTurn: waitForShot, then past the first 0.3 s of the person's turn,
// in which the game takes no click.
async function waitForTurn(page, check, what) {
  const picture = await waitForShot(page, check, TurnTimeout, what);
  await sleep(400);
  return picture;
}
const Refusal = 'That figure cannot be moved there, fool!';

function whitePieces(board) {
  return board.replace(/[^w]/g, '.');
}

// waitForAnswer: the board after from-to and the computer's answer to it.
function waitForAnswer(page, opening, from, to) {
  return waitForShot(
    page,
    (picture) => {
      const now = screen.occupancy(picture);
      return (
        isWaiting(picture) &&
        now[screen.squareIndex(from)] === '.' &&
        now[screen.squareIndex(to)] === 'b' &&
        whitePieces(now) !== whitePieces(opening)
      );
    },
    TurnTimeout,
    `${from}-${to} and the computer's answer`,
  );
}

// refuseMove: e5-e3, no pawn's move, pressed; the "Error" box shows.
async function refuseMove(page, press = click) {
  await clickSquare(page, 'e5', press);
  await clickSquare(page, 'e3', press);
  await waitForShot(page, (picture) => screen.showsMessageBox(picture, 'Error', Refusal), 10000, 'the Error box');
}

const withoutBox = (picture) => !screen.showsMessageBox(picture, 'Error', Refusal);

// layoutOf: where the canvas, the header's parts and the shown on-screen
// keys are, and how large the page is.
async function layoutOf(page) {
  return page.evaluate(() => {
    const box = (element) => {
      const r = element.getBoundingClientRect();
      return {left: r.left, top: r.top, right: r.right, bottom: r.bottom, width: r.width, height: r.height};
    };
    const canvas = document.getElementById('screen');
    const shown = (element) => element.getClientRects().length > 0;
    return {
      viewport: {width: document.documentElement.clientWidth, height: window.innerHeight},
      scrollWidth: document.documentElement.scrollWidth,
      scrollHeight: document.documentElement.scrollHeight,
      canvas: box(canvas),
      header: [...document.querySelectorAll('#bar > *')].filter(shown).map(box),
      keys: [...document.querySelectorAll('#keys button')].filter(shown).map((key) => ({name: key.textContent, ...box(key)})),
      scale: window.kelvarPage.scale,
      rendering: getComputedStyle(canvas).imageRendering,
    };
  });
}

// assertFits: the whole picture, the header and the keys inside the window,
// the keys off the picture, and nothing wider than the window.
function assertFits(layout, what) {
  const {viewport, canvas} = layout;
  const inside = (b) => b.left >= 0 && b.top >= 0 && b.right <= viewport.width + 0.01 && b.bottom <= viewport.height + 0.01;
  assert.ok(inside(canvas), `${what}: the canvas ${JSON.stringify(canvas)} leaves the window`);
  assert.ok(Math.abs(canvas.width - 640 * layout.scale) < 0.01 && Math.abs(canvas.height - 480 * layout.scale) < 0.01, `${what}: the canvas is not 640x480 at scale ${layout.scale}`);
  assert.ok(layout.scrollWidth <= viewport.width, `${what}: the page is ${layout.scrollWidth} px wide`);
  for (const part of [...layout.header, ...layout.keys]) assert.ok(inside(part), `${what}: ${JSON.stringify(part)} leaves the window`);
  for (const key of layout.keys) {
    const apart = key.right <= canvas.left || key.left >= canvas.right || key.bottom <= canvas.top || key.top >= canvas.bottom;
    assert.ok(apart, `${what}: the key ${key.name} covers the picture`);
  }
}

async function waitForEnd(page) {
  await page.waitForFunction(() => window.kelvarPage.phase === 'ended', {timeout: TurnTimeout});
  return page.evaluate(() => ({
    status: window.kelvarPage.status,
    title: document.getElementById('end-title').textContent,
    text: document.getElementById('text-screen').textContent,
    canvasHidden: document.getElementById('screen').hidden,
    againVisible: !document.getElementById('end').hidden && !!document.getElementById('again'),
  }));
}

describe('a game in the browser', () => {
  test('the first board, a move answered, a refusal closed with Enter, Esc and the end page', async (t) => {
    const corner = (square) => {
      const centre = screen.squareCentre(square);
      return {x: centre.x - 24, y: centre.y - 24};
    };
    const recorded = [corner('e7'), corner('e5')];
    const page = await openGame({width: 1400, height: 1050}, (page) => recordPresents(page, recorded));
    const first = await waitForShot(
      page,
      (picture) => isWaiting(picture) && screen.occupancy(picture) !== '',
      TurnTimeout,
      'the board with the status "waiting"',
    );
    const firstBoardAt = await page.evaluate(() => performance.now());
    t.diagnostic(`first board seen ${Math.round(firstBoardAt)} ms after the page's start`);
    const opening = screen.occupancy(first);
    assert.equal(opening.slice(0, 16), 'b'.repeat(16));
    assert.equal(screen.count(opening, 'b'), 16);
    assert.equal(screen.count(opening, 'w'), 16);
    assert.notEqual(opening.slice(48), 'w'.repeat(16), 'the computer has not moved');

    // e7-e5 is taken and answered; the move shows while the computer thinks.
    await clickSquare(page, 'e7');
    await page.evaluate(() => (window.kelvarRecording = true));
    await clickSquare(page, 'e5');
    const answered = await waitForAnswer(page, opening, 'e7', 'e5');
    const beforeRefusal = screen.occupancy(answered);
    const presents = await page.evaluate(() => window.kelvarPresents);
    const thinking = presents
      .map((record) => presented(record, recorded))
      .filter((picture) => screen.showsStatus(picture, 'thinking'));
    assert.ok(thinking.length > 0, 'no screen was presented while the computer thought');
    const occupied = (picture, square) => {
      const [x, y] = [corner(square).x, corner(square).y];
      let green = 0;
      for (let dy = 0; dy < 48; ++dy) for (let dx = 0; dx < 48; ++dx) if (picture.at(x + dx, y + dy)[1] > 40) ++green;
      return green > 100;
    };
    assert.ok(!occupied(thinking[0], 'e7') && occupied(thinking[0], 'e5'), 'e7-e5 not shown while the computer thought');

    // e5-e3 is no pawn's move: refused in the "Error" box.
    await refuseMove(page);
    // A click while the box waits for its key is stale once the box is gone:
    // it must not pick e7.
    await clickSquare(page, 'e7');
    await page.keyboard.press('Enter');
    const redrawn = await waitForShot(page, withoutBox, 10000, 'the board without the box');
    assert.equal(screen.occupancy(redrawn), beforeRefusal);
    await sleep(500);
    const settled = await shot(page);
    // The top line of the frame e7 would get, one pixel above the square.
    const e7 = screen.squareCentre('e7');
    assert.ok(!settled.is(e7.x, e7.y - 25, screen.Colours.white), 'a stale click picked e7');

    // With the mouse, keys are looked at after the next pointer event.
    await page.keyboard.press('Escape');
    await sleep(200);
    await moveTo(page, 600, 120);
    const end = await waitForEnd(page);
    assert.equal(end.status, 0);
    assert.equal(end.title, 'The game has ended');
    assert.ok(end.canvasHidden);
    assert.ok(end.againVisible);
    assert.deepEqual(page.problems, []);
    await page.close();
  });

  test('the canvas scale, the pointer mapped back at 2x, 1x and shrunk below 640x480, the cursor', async () => {
    const page = await openGame({width: 1400, height: 1050});
    await waitForShot(page, isWaiting, TurnTimeout, 'the first board');
    const style = await page.evaluate(() => {
      const canvas = document.getElementById('screen');
      const computed = getComputedStyle(canvas);
      return {
        width: canvas.getBoundingClientRect().width,
        height: canvas.getBoundingClientRect().height,
        rendering: computed.imageRendering,
        cursor: computed.cursor,
        pageCursor: getComputedStyle(document.body).cursor,
      };
    });
    assert.deepEqual(style, {width: 1280, height: 960, rendering: 'pixelated', cursor: 'none', pageCursor: 'auto'});

    const checkPointer = async (x, y, what) => {
      await moveTo(page, x, y);
      await waitForShot(page, (picture) => screen.showsPointer(picture, x, y), 5000, `the arrow at (${x}, ${y}) ${what}`);
    };
    await checkPointer(40, 100, 'at 2x');
    await checkPointer(101, 333, 'at 2x');

    await page.setViewport({width: 800, height: 600});
    await page.waitForFunction(() => window.kelvarPage.scale === 1);
    await checkPointer(57, 211, 'at 1x');

    // With a mouse and keyboard, no on-screen keys.
    assert.deepEqual((await layoutOf(page)).keys, []);

    // Smaller than the screen: the picture shrinks to fit, whole, with no
    // scrolling; the mapping follows, to the pixel.
    for (const [width, height] of [[500, 400], [320, 240], [200, 150]]) {
      await page.setViewport({width, height});
      await page.waitForFunction((width, height) => window.kelvarPage.window === `${width}x${height}`, {}, width, height);
      const layout = await layoutOf(page);
      assertFits(layout, `${width}x${height}`);
      assert.equal(layout.scrollHeight, height, `${width}x${height} scrolls`);
      assert.equal(layout.rendering, 'auto', 'a shrunk picture is smoothed');
      await checkPointer(80, 301, `at ${width}x${height}`);
      await checkPointer(517, 29, `at ${width}x${height}`);
    }
    assert.deepEqual(page.problems, []);
    await page.close();
  });

  test('Q from a position of the file chooser: the extra queen shows at the next redraw', async () => {
    const page = await openGame({width: 1000, height: 700});
    await waitForShot(page, isWaiting, TurnTimeout, 'the first board');
    // Black without its h-pawn: 15 pieces, so there is room for a queen.
    await startFrom(page, 'a2 b2 c2 d2 e2 f2 g2 h2\nb1 g1\nc1 f1\na1 h1\nd1\ne1\na7 b7 c7 d7 e7 f7 g7\nb8 g8\nc8 f8\na8 h8\nd8\ne8\n');
    const first = await waitForShot(page, isWaiting, TurnTimeout, 'the board of the chosen position');
    const before = screen.occupancy(first);
    assert.equal(screen.count(before, 'b'), 15);
    assert.equal(before[screen.squareIndex('h7')], '.');

    // Q is acted on at the next pointer movement; the board is not redrawn for it.
    await page.keyboard.press('Q');
    await sleep(100);
    await moveTo(page, 600, 100);
    await sleep(500);
    assert.equal(screen.count(screen.occupancy(await shot(page)), 'b'), 15);

    // A refused move redraws the board: now with the queen.
    await clickSquare(page, 'e7');
    await clickSquare(page, 'e3');
    await waitForShot(page, (picture) => screen.showsMessageBox(picture, 'Error', Refusal), 10000, 'the Error box');
    await page.keyboard.press(' ');
    const redrawn = await waitForShot(page, withoutBox, 10000, 'the board without the box');
    const after = screen.occupancy(redrawn);
    assert.equal(screen.count(after, 'b'), 16, 'the extra queen');
    assert.equal(whitePieces(after), whitePieces(before));
    assert.deepEqual(page.problems, []);
    await page.close();
  });

  test('promotion: the chooser waits for the click on the queen, which then stands on a1', async () => {
    const page = await openGame({width: 1000, height: 700});
    await waitForShot(page, isWaiting, TurnTimeout, 'the first board');
    // White: a pawn on h2 and the king on h1; Black: a pawn on a2 and the king on e8.
    await startFrom(page, 'h2\n\n\n\n\nh1\na2\n\n\n\n\ne8\n');
    await waitForTurn(page, isWaiting, 'the board of the chosen position');
    await clickSquare(page, 'a2');
    await clickSquare(page, 'a1');
    // The chooser's picture covers the whole screen, the status box too; the
    // queen is the fourth choice.
    await waitForShot(page, (picture) => !isWaiting(picture), 10000, 'the chooser');
    await click(page, 224 + 3 * 48 + 24, 216 + 24);
    const after = await waitForShot(
      page,
      (picture) => isWaiting(picture) && screen.occupancy(picture)[screen.squareIndex('a1')] === 'b',
      TurnTimeout,
      'the board after the promotion and the computer\'s answer',
    );
    // The queen's own picture (fig5.x), drawn in Black's green over the square.
    const queen = fs.readFileSync(path.join(BuildFolder, 'data', 'fig5.x'));
    const corner = screen.squareCentre('a1');
    for (let row = 0; row < 48; ++row)
      for (let column = 0; column < 48; ++column) {
        const grey = queen[row * 48 + column];
        if (grey === 0) continue;
        const green = grey >> 2;
        assert.deepEqual(after.at(corner.x - 24 + column, corner.y - 24 + row), [0, (green << 2) | (green >> 4), 0]);
      }
    assert.deepEqual(page.problems, []);
    await page.close();
  });

  test('the computer mates: its box, closed with Enter, then any key ends the game', async () => {
    const page = await openGame({width: 1000, height: 700});
    await waitForShot(page, isWaiting, TurnTimeout, 'the first board');
    await startFrom(page, fs.readFileSync(path.join(__dirname, '..', '..', 'bench', 'positions', 'tactics.in'), 'utf8'));
    const mated = 'Black is mated|Game Over';
    await waitForShot(page, (picture) => screen.showsMessageBox(picture, 'Computer', mated), TurnTimeout, 'the mate box');
    await page.keyboard.press('Enter');
    await sleep(300);
    assert.equal(await page.evaluate(() => window.kelvarPage.phase), 'playing', 'the game ended before its closing key');
    await page.keyboard.press('x');
    const end = await waitForEnd(page);
    assert.equal(end.status, 0);
    assert.equal(end.title, 'The game has ended');
    assert.deepEqual(page.problems, []);
    await page.close();
  });

  test('a broken start-position file from the chooser ends with the run-time error page', async () => {
    const page = await openGame({width: 1000, height: 700});
    await waitForShot(page, isWaiting, TurnTimeout, 'the first board');
    await startFrom(page, 'a2 b2 z9\nb1 g1\nc1 f1\na1 h1\nd1\ne1\na7\nb8\nc8\na8\nd8\ne8\n');
    const end = await waitForEnd(page);
    assert.equal(end.status, 201);
    assert.equal(end.title, 'The game stopped with exit status 201');
    assert.match(end.text, /^kelvar\.in:1: bad square "z9"/m);
    assert.match(end.text, /^Runtime error 201 at 0x[0-9A-F]{8}$/m);
    assert.ok(end.text.indexOf('kelvar.in:1:') < end.text.indexOf('Runtime error'));

    // Play again starts a fresh game with the usual opening.
    await page.click('#again');
    const fresh = await waitForShot(page, isWaiting, TurnTimeout, 'a fresh board after "Play again"');
    assert.equal(screen.count(screen.occupancy(fresh), 'b'), 16);
    assert.deepEqual(page.problems, []);
    await page.close();
  });
});

const asPhone = (page) => page.setUserAgent(PhoneAgent);

// tapKey: a tap on the on-screen key of that name.
async function tapKey(page, name) {
  const key = (await layoutOf(page)).keys.find((key) => key.name === name);
  assert.ok(key, `no on-screen key ${name}`);
  await page.touchscreen.tap(key.left + key.width / 2, key.top + key.height / 2);
  await sleep(300);
}

// firstBoard: the opening's board, and when it showed (ms after the page's
// start); returns once the turn takes clicks.
async function firstBoard(page) {
  const picture = await waitForShot(page, (picture) => isWaiting(picture) && screen.occupancy(picture) !== '', TurnTimeout, 'the first board');
  const at = Math.round(await page.evaluate(() => performance.now()));
  await waitForTurn(page, isWaiting, 'the first board');
  return {opening: screen.occupancy(picture), at};
}

// sentSince: what the server sent from entry `from` of its list on, split
// at sw.js: the page's own loads, then the offline copy's.
function sentSince(from) {
  const files = site.sent().slice(from);
  const worker = files.findIndex((file) => file.path === '/sw.js');
  const bytes = (list) => list.reduce((sum, file) => sum + file.bytes, 0);
  const own = worker < 0 ? files : files.slice(0, worker);
  return {bytes: bytes(files), own: bytes(own), copy: bytes(files) - bytes(own), paths: files.map((file) => file.path)};
}

describe('on a phone', () => {
  test('the whole picture, e7-e5 by taps, the on-screen Enter closes a refusal, Esc and a tap end the game', async () => {
    const context = await browser.createBrowserContext();
    const page = await openGame(Phone, asPhone, context);
    const {opening} = await firstBoard(page);
    const layout = await layoutOf(page);
    assertFits(layout, 'the phone');
    assert.deepEqual(layout.keys.map((key) => key.name), ['Enter', 'Esc', 'Space', 'Q']);
    for (const key of layout.keys) assert.ok(key.height >= 40, `the key ${key.name} is too small for a finger`);
    // A narrower phone, and one turned sideways (the keys beside the picture).
    for (const [width, height, keys] of [[320, 568, 'below'], [640, 360, 'beside'], [360, 640, 'below']]) {
      await page.setViewport({...Phone, width, height});
      await page.waitForFunction((size) => window.kelvarPage.window === size, {}, `${width}x${height}`);
      const turned = await layoutOf(page);
      assertFits(turned, `the phone at ${width}x${height}`);
      assert.equal(turned.keys.length, 4);
      assert.equal(await page.evaluate(() => window.kelvarPage.keys), keys);
    }

    await clickSquare(page, 'e7', tap);
    await clickSquare(page, 'e5', tap);
    await waitForAnswer(page, opening, 'e7', 'e5');
    await refuseMove(page, tap);
    await tapKey(page, 'Enter');
    await waitForShot(page, withoutBox, 10000, 'the board without the box after the on-screen Enter');

    // Esc, like the keyboard's, is acted on at the next pointer event: a tap.
    await tapKey(page, 'Esc');
    assert.equal(await page.evaluate(() => window.kelvarPage.phase), 'playing');
    await tap(page, 600, 120);
    const end = await waitForEnd(page);
    assert.equal(end.status, 0);
    assert.equal(end.title, 'The game has ended');
    assert.deepEqual((await layoutOf(page)).keys, [], 'the keys stay on the end page');
    assert.deepEqual(page.problems, []);
    await context.close();
  });

  test('installable and offline: the manifest\'s icons, a cached visit, a reload offline plays, a new build replaces the copy', async (t) => {
    const context = await browser.createBrowserContext();
    let from = site.sent().length;
    const network = process.env.KELVAR_WEB_NETWORK;
    if (network) assert.ok(network in PredefinedNetworkConditions, `KELVAR_WEB_NETWORK: no network "${network}"`);
    const page = await openGame(Phone, async (page) => {
      await asPhone(page);
      if (network) await page.emulateNetworkConditions(PredefinedNetworkConditions[network]);
    }, context);
    const first = await firstBoard(page);

    // The offline copy: every file of the build, in the cache named by sw.js.
    const copy = await page.evaluate(async () => {
      await navigator.serviceWorker.ready;
      const names = await caches.keys();
      const cache = await caches.open(names[0]);
      return {names, files: (await cache.keys()).map((request) => new URL(request.url).pathname)};
    });
    const worker = fs.readFileSync(path.join(BuildFolder, 'web', 'sw.js'), 'utf8');
    const build = worker.match(/const Build = '([0-9a-f]{16})';/)[1];
    assert.deepEqual(copy.names, ['kelvar-' + build]);
    const kept = ['/', '/index.html', '/kelvar.css', '/page.js', '/manifest.webmanifest', '/icon-192.png', '/icon-512.png', '/kelvar.js', '/kelvar.wasm', '/kelvar.data'];
    assert.deepEqual(copy.files.sort(), kept.sort());
    const firstVisit = sentSince(from);

    // The manifest, and its icons at their sizes.
    const manifest = await page.evaluate(async () => {
      const link = document.querySelector('link[rel=manifest]');
      const manifest = await (await fetch(link.href)).json();
      for (const icon of manifest.icons) {
        const picture = await createImageBitmap(await (await fetch(new URL(icon.src, link.href))).blob());
        icon.drawn = `${picture.width}x${picture.height}`;
      }
      return manifest;
    });
    assert.ok(['standalone', 'fullscreen'].includes(manifest.display));
    assert.ok(manifest.name && manifest.short_name && manifest.theme_color && manifest.background_color);
    assert.deepEqual(manifest.icons.map((icon) => [icon.sizes, icon.drawn]), [['192x192', '192x192'], ['512x512', '512x512']]);
    const session = await page.createCDPSession();
    // The test's own browser context counts as incognito, where nothing installs.
    const {installabilityErrors} = await session.send('Page.getInstallabilityErrors');
    const errors = installabilityErrors.map((error) => error.errorId).filter((id) => id !== 'in-incognito');
    assert.deepEqual(errors, [], 'Chromium would not install the page');
    await session.detach();

    // A second visit takes nothing of the game from the server.
    from = site.sent().length;
    await page.reload();
    const cached = await firstBoard(page);
    const cachedVisit = sentSince(from);
    assert.equal(cachedVisit.bytes, 0, `files sent again: ${cachedVisit.paths}`);
    if (network) t.diagnostic(`network: ${network}`);
    t.diagnostic(`first visit: ${firstVisit.own} bytes for the page and the game, first board at ${first.at} ms; then ${firstVisit.copy} bytes for sw.js and the offline copy`);
    t.diagnostic(`cached visit: ${cachedVisit.bytes} bytes (${cachedVisit.paths.length} requests), first board at ${cached.at} ms`);

    // Without a network: the page, the board, and a move answered.
    if (network) await page.emulateNetworkConditions(null);
    await page.setOfflineMode(true);
    await page.reload();
    const offline = await firstBoard(page);
    t.diagnostic(`offline visit: first board at ${offline.at} ms`);
    await clickSquare(page, 'e7', tap);
    await clickSquare(page, 'e5', tap);
    await waitForAnswer(page, offline.opening, 'e7', 'e5');
    await page.setOfflineMode(false);

    // A new build (another sw.js) takes over and drops the old copy; the
    // next "Play again" loads the new page.
    site.replace('/sw.js', Buffer.from(worker.replace(build, 'f'.repeat(16))));
    try {
      const names = await page.evaluate(async () => {
        const registration = await navigator.serviceWorker.getRegistration();
        const changed = new Promise((resolve) => navigator.serviceWorker.addEventListener('controllerchange', resolve));
        await registration.update();
        await changed;
        const worker = navigator.serviceWorker.controller;
        if (worker.state !== 'activated') await new Promise((resolve) => worker.addEventListener('statechange', () => worker.state === 'activated' && resolve()));
        return caches.keys();
      });
      assert.deepEqual(names, ['kelvar-' + 'f'.repeat(16)]);
      await tapKey(page, 'Esc');
      await tap(page, 600, 120);
      await waitForEnd(page);
      const run = await page.evaluate(() => window.kelvarPage.run);
      await Promise.all([page.waitForNavigation(), page.tap('#again')]);
      await firstBoard(page);
      assert.equal(await page.evaluate(() => window.kelvarPage.run), 1, `Play again did not load the new page (run ${run})`);
    } finally {
      site.replace('/sw.js', null);
    }
    assert.deepEqual(page.problems, []);
    await context.close();
  });
});
