// The browser build end to end: the page served on 127.0.0.1, the game in
// each engine (Debian's Chromium and Firefox ESR through puppeteer-core,
// WebKitGTK's MiniBrowser through WebKitWebDriver), checked by what the
// canvas shows. The steps are written once; what an engine cannot be made to
// do (see Engines) is skipped there with a line saying why.
//
//   cd tests/web && npm ci && node --test
//
// KELVAR_WEB_BUILD names the build folder (default ../../build-web);
// KELVAR_WEB_ENGINES the engines to run (default 'chromium,firefox,webkit').
'use strict';

const {describe, test, before, after, afterEach} = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const {PredefinedNetworkConditions} = require('puppeteer-core');
const {launchBrowser, launchFirefox, Executable, FirefoxExecutable, Phone, PhoneAgent} = require('./browser.js');
const {launchWebKit, Driver} = require('./webdriver.js');
const {serve} = require('./server.js');
const screen = require('./screen.js');

const BuildFolder = path.resolve(process.env.KELVAR_WEB_BUILD || path.join(__dirname, '..', '..', 'build-web'));
const TurnTimeout = 60000;

// What each engine's driver can make it do: touch (taps, as pointerType
// 'touch'), a coarse pointer reported from the start (touch emulation),
// scripts run before the page's own, the network off or slowed, a window
// narrower than 447 px, Chromium's installability report, and an HTTP cache
// (WebKit's automated sessions keep none: what the browser itself fetched,
// the page and its script and style, is fetched again for the offline copy).
const Engines = [
  {
    id: 'chromium', name: 'Chromium', executable: Executable, launch: launchBrowser,
    can: {touch: true, coarse: true, beforeLoad: true, offline: true, network: true, narrow: true, install: true, httpCache: true},
  },
  {
    id: 'firefox', name: 'Firefox ESR', executable: FirefoxExecutable, launch: launchFirefox,
    can: {touch: true, coarse: false, beforeLoad: true, offline: true, network: false, narrow: true, install: false, httpCache: true},
  },
  {
    id: 'webkit', name: 'WebKit', executable: Driver, launch: launchWebKit,
    can: {touch: false, coarse: false, beforeLoad: false, offline: false, network: false, narrow: false, install: false, httpCache: false},
  },
];
const Why = {
  touch: 'its driver cannot touch the page',
  coarse: 'it does not emulate a touch screen',
  beforeLoad: 'its driver cannot run a script before the page\'s',
  offline: 'its driver cannot take the network away',
  network: 'its driver cannot slow the network',
  narrow: 'its window cannot be made that narrow',
  install: 'only Chromium reports whether it would install the page',
};
const Chosen = (process.env.KELVAR_WEB_ENGINES || 'chromium,firefox,webkit').split(',');

let site;
let browser;
let engine;

before(async () => {
  assert.ok(fs.existsSync(path.join(BuildFolder, 'web', 'kelvar.wasm')), `no browser build in ${BuildFolder}`);
  site = await serve(path.join(BuildFolder, 'web'));
});

after(async () => {
  if (site) await site.close();
});

// A test of the engine's suite, skipped with one line where it needs what
// the engine cannot do.
function step(name, abilities, body) {
  test(name, async (t) => {
    const missing = abilities.find((ability) => !engine.can[ability]);
    if (missing) return t.skip(`${engine.name}: ${Why[missing]}`);
    return body(t);
  });
}

// skipPart: one line for a part of a test the engine cannot drive; true
// when it is skipped.
function skipPart(t, ability, what) {
  if (engine.can[ability]) return false;
  t.diagnostic(`skipped in ${engine.name}: ${what} (${Why[ability]})`);
  return true;
}

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

// What a case opened and has not closed yet: closed after the case, however
// it ended, so that a failure leaves no page behind (WebKitWebDriver runs
// one session at a time).
const unclosed = new Set();

// closedAfterCase: a page or browser context, its close() made safe to
// call twice, to be closed once the case ends.
function closedAfterCase(thing) {
  const close = thing.close.bind(thing);
  let closing = null;
  thing.close = () => {
    unclosed.delete(thing);
    return (closing ||= close());
  };
  unclosed.add(thing);
  return thing;
}

async function closeUnclosed() {
  const left = [...unclosed].reverse();
  for (const thing of left) await thing.close().catch(() => {});
}

async function newContext() {
  return closedAfterCase(await browser.createBrowserContext());
}

async function openGame(viewport, prepare, context = browser) {
  const page = closedAfterCase(await context.newPage());
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

// wholePoint: the whole page pixel nearest the middle of screen pixel k of
// n across a picture at start of that size, with the screen pixel it lies
// in (Firefox and WebKit take whole page pixels only; a shrunk picture's
// screen pixel may hold none).
function wholePoint(start, size, k, n) {
  const middle = start + ((k + 0.5) * size) / n;
  const under = (point) => Math.min(Math.max(Math.floor(((point - start) * n) / size), 0), n - 1);
  let best = Math.round(middle);
  for (let point = Math.floor(middle) - 1; point <= Math.ceil(middle) + 1; ++point)
    if (under(point) === k && (under(best) !== k || Math.abs(point - middle) < Math.abs(best - middle))) best = point;
  return {at: best, pixel: under(best)};
}

// pagePoint: the page point (whole CSS pixels, from the viewport's corner)
// for a screen pixel, and the screen pixel the page maps it to.
async function pagePoint(page, x, y) {
  const rect = await page.evaluate(() => {
    const rect = document.getElementById('screen').getBoundingClientRect();
    return {left: rect.left, top: rect.top, width: rect.width, height: rect.height};
  });
  const across = wholePoint(rect.left, rect.width, x, 640);
  const down = wholePoint(rect.top, rect.height, y, 480);
  return {x: across.at, y: down.at, pixel: {x: across.pixel, y: down.pixel}};
}

// moveTo: the mouse to a screen pixel; returns the pixel it went to (the
// one asked for, or beside it where a shrunk pixel holds no whole point).
async function moveTo(page, x, y) {
  const point = await pagePoint(page, x, y);
  await page.mouse.move(point.x, point.y);
  return point.pixel;
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
    if (page.uploadFile) await page.uploadFile('#position', file);
    else await (await page.$('#position')).uploadFile(file);
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

function desktopCases() {
  test('the first board, a move answered, a refusal closed with Enter, Esc and the end page', async (t) => {
    const corner = (square) => {
      const centre = screen.squareCentre(square);
      return {x: centre.x - 24, y: centre.y - 24};
    };
    const recorded = [corner('e7'), corner('e5')];
    const recording = !skipPart(t, 'beforeLoad', 'the screens presented while the computer thinks');
    const page = await openGame({width: 1400, height: 1050}, recording ? (page) => recordPresents(page, recorded) : null);
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
    if (recording) await page.evaluate(() => (window.kelvarRecording = true));
    await clickSquare(page, 'e5');
    const answered = await waitForAnswer(page, opening, 'e7', 'e5');
    const beforeRefusal = screen.occupancy(answered);
    if (recording) {
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
    }

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

  test('the canvas scale, the pointer mapped back at 2x, 1x and shrunk below 640x480, the cursor', async (t) => {
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
      const at = await moveTo(page, x, y);
      assert.ok(Math.abs(at.x - x) <= 1 && Math.abs(at.y - y) <= 1, `no page point near (${x}, ${y}) ${what}`);
      await waitForShot(page, (picture) => screen.showsPointer(picture, at.x, at.y), 5000, `the arrow at (${at.x}, ${at.y}) ${what}`);
    };
    await checkPointer(40, 100, 'at 2x');
    await checkPointer(101, 333, 'at 2x');

    // The scale is 1 already on the way to 800x600 (WebKit's window passes
    // 800x562): the point is taken once the page is laid out for the end size.
    await page.setViewport({width: 800, height: 600});
    await page.waitForFunction(() => window.kelvarPage.window === '800x600');
    assert.equal(await page.evaluate(() => window.kelvarPage.scale), 1);
    await checkPointer(57, 211, 'at 1x');

    // With a mouse and keyboard, no on-screen keys.
    assert.deepEqual((await layoutOf(page)).keys, []);

    // Smaller than the screen: the picture shrinks to fit, whole, with no
    // scrolling; the mapping follows, to the pixel.
    const shrunk = skipPart(t, 'narrow', 'windows of 500x400, 320x240 and 200x150') ? [] : [[500, 400], [320, 240], [200, 150]];
    for (const [width, height] of shrunk) {
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
}

const asPhone = async (page) => page.setUserAgent && page.setUserAgent(PhoneAgent);

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
  const paths = (list) => list.map((file) => file.path);
  return {bytes: bytes(files), own: bytes(own), copy: bytes(files) - bytes(own), paths: paths(files), ownPaths: paths(own)};
}

// pressFor: how the engine's driver presses on a phone: a tap, or where it
// cannot touch, a click.
const pressFor = () => (engine.can.touch ? tap : click);

// waitUntil: fn(...args) in the page until true, through reloads and
// navigations (whose evaluations fail while the page changes).
async function waitUntil(page, fn, timeout, ...args) {
  const end = Date.now() + timeout;
  for (;;) {
    const done = await page.evaluate(fn, ...args).catch(() => false);
    if (done) return;
    if (Date.now() > end) assert.fail(`not seen: ${fn}`);
    await sleep(100);
  }
}

// firstVisit: a fresh browser's first visit on a phone: what the server sent
// for the page and the game, and when the first board showed.
async function firstVisit(network) {
  const context = await newContext();
  try {
    const from = site.sent().length;
    const page = await openGame(Phone, async (page) => {
      await asPhone(page);
      if (network) await page.emulateNetworkConditions(PredefinedNetworkConditions[network]);
    }, context);
    const board = await firstBoard(page);
    return {sent: sentSince(from), from, at: board.at, page, context};
  } catch (error) {
    await context.close();
    throw error;
  }
}

function phoneCases() {
  step('the whole picture, e7-e5 by taps, the on-screen Enter closes a refusal, Esc and a tap end the game', ['touch'], async () => {
    const context = await newContext();
    const page = await openGame(Phone, asPhone, context);
    const {opening} = await firstBoard(page);
    // Where the browser does not say it is a touch screen, the first touch
    // (beside the board) brings the keys.
    if (!engine.can.coarse) await tap(page, 600, 120);
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

  // A page that loaded not knowing it is on a touch screen (a hybrid laptop,
  // a browser that reports touch late) shows the keys at the first touch,
  // which moves the picture: that touch still lands where it was made.
  step('the first touch on a page that learnt of touch late: e7 framed, e5 played, the header speaks of taps', ['touch', 'beforeLoad'], async () => {
    const context = await newContext();
    const page = await openGame(Phone, async (page) => {
      await asPhone(page);
      await page.evaluateOnNewDocument(() => {
        const matchMedia = window.matchMedia.bind(window);
        window.matchMedia = (query) => {
          if (!query.includes('coarse')) return matchMedia(query);
          return {matches: false, media: query, addEventListener() {}, removeEventListener() {}};
        };
      });
    }, context);
    const {opening} = await firstBoard(page);
    const before = await layoutOf(page);
    assert.deepEqual(before.keys, [], 'the keys showed before any touch');
    assert.match(await page.evaluate(() => document.getElementById('note').textContent), /click a piece/);

    await clickSquare(page, 'e7', tap);
    const e7 = screen.squareCentre('e7');
    await waitForShot(page, (picture) => picture.is(e7.x, e7.y - 25, screen.Colours.white), 5000, 'the frame on e7');
    const after = await layoutOf(page);
    assert.equal(after.keys.length, 4, 'the first touch did not bring the keys');
    assert.notEqual(after.canvas.top, before.canvas.top, 'the keys did not move the picture (the test proves nothing)');
    assert.match(await page.evaluate(() => document.getElementById('note').textContent), /tap a piece/);
    await clickSquare(page, 'e5', tap);
    await waitForAnswer(page, opening, 'e7', 'e5');
    assert.deepEqual(page.problems, []);
    await context.close();
  });

  // Figures, not checks: the bytes of a first visit and the time to its
  // first board, on the machine's network and on puppeteer's "Slow 3G".
  test('the first visit\'s weight and its first board on a normal network and on Slow 3G', async (t) => {
    for (const network of [null, 'Slow 3G']) {
      if (network && skipPart(t, 'network', `the first visit on ${network}`)) continue;
      const visit = await firstVisit(network);
      t.diagnostic(
        `${engine.name}, first visit on ${network || 'a normal network'}: ${visit.sent.own} bytes for the page and the game, ` +
          `first board at ${visit.at} ms; then ${visit.sent.copy} bytes for sw.js and the offline copy`,
      );
      await visit.context.close();
    }
  });

  test('installable and offline: the manifest\'s icons, a cached visit, a reload offline plays, a new build replaces the copy', async (t) => {
    const press = pressFor();
    const visit = await firstVisit(null);
    const {page, context} = visit;

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
    const own = ['/', '/page.js', '/kelvar.css', '/kelvar.js', '/kelvar.wasm', '/kelvar.data'];
    const fetched = visit.sent.ownPaths;
    for (const file of own) assert.equal(fetched.filter((path) => path === file).length, 1, `${file} not fetched once: ${fetched}`);
    assert.ok(visit.sent.own <= 250 * 1024, `the first visit took ${visit.sent.own} bytes`);
    // The copy takes the game's files from the page, and the rest from the
    // browser's HTTP cache where it keeps one: nothing is sent twice.
    const sent = site.sent().slice(visit.from).filter((file) => file.bytes > 0).map((file) => file.path);
    const twice = sent.filter((file, k) => sent.indexOf(file) !== k);
    const game = ['/kelvar.js', '/kelvar.wasm', '/kelvar.data'];
    assert.deepEqual(twice.filter((file) => engine.can.httpCache || game.includes(file)), [], `sent twice: ${sent}`);

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
    if (!skipPart(t, 'install', 'the installability report')) {
      const session = await page.createCDPSession();
      // The test's own browser context counts as incognito, where nothing installs.
      const {installabilityErrors} = await session.send('Page.getInstallabilityErrors');
      const errors = installabilityErrors.map((error) => error.errorId).filter((id) => id !== 'in-incognito');
      assert.deepEqual(errors, [], 'Chromium would not install the page');
      await session.detach();
    }

    // A second visit takes nothing of the game from the server.
    const from = site.sent().length;
    await page.reload();
    const cached = await firstBoard(page);
    const cachedVisit = sentSince(from);
    // WebKit asks for sw.js afresh at every visit, to look for a new build.
    const again = site.sent().slice(from).filter((file) => file.bytes > 0 && (file.path !== '/sw.js' || engine.id !== 'webkit'));
    assert.deepEqual(again.map((file) => file.path), [], 'files sent again');
    t.diagnostic(`${engine.name}, cached visit: ${cachedVisit.bytes} bytes (${cachedVisit.paths.length} requests), first board at ${cached.at} ms`);

    // Without a network: the page, the board, and a move answered.
    if (!skipPart(t, 'offline', 'the reload without a network')) {
      await page.setOfflineMode(true);
      await page.reload();
      const offline = await firstBoard(page);
      t.diagnostic(`${engine.name}, offline visit: first board at ${offline.at} ms`);
      await clickSquare(page, 'e7', press);
      await clickSquare(page, 'e5', press);
      await waitForAnswer(page, offline.opening, 'e7', 'e5');
      await page.setOfflineMode(false);
    }

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
      await page.keyboard.press('Escape');
      await press(page, 600, 120);
      await waitForEnd(page);
      await page.evaluate(() => (window.kelvarOldPage = true));
      await page.click('#again');
      await waitUntil(page, () => !window.kelvarOldPage && window.kelvarPage.run === 1, TurnTimeout);
      await firstBoard(page);
    } finally {
      site.replace('/sw.js', null);
    }
    assert.deepEqual(page.problems, []);
    await context.close();
  });
}

for (const chosen of Engines) {
  const skip = !Chosen.includes(chosen.id)
    ? 'not in KELVAR_WEB_ENGINES'
    : !fs.existsSync(chosen.executable) && `no ${chosen.executable}`;
  describe(chosen.name, {skip}, () => {
    before(async () => {
      engine = chosen;
      browser = await engine.launch();
    });
    afterEach(closeUnclosed);
    after(async () => {
      await closeUnclosed();
      if (browser) await browser.close();
      browser = null;
    });
    describe('a game in the browser', desktopCases);
    describe('on a phone', phoneCases);
  });
}
