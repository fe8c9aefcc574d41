// The page around the game: it runs kelvar.js in a worker, shows its frames
// on the canvas at the largest whole scale that fits (below 640 x 480, the
// fraction that fits), sends it the pointer (mapped back to the 640 x 480
// screen) and the keys (as the desktop's key codes, from the keyboard or the
// on-screen keys of a touch screen), shows the text screen with "Play again"
// when the run ends, and keeps the game for offline play (sw.js).
'use strict';

(function () {
  const ScreenWidth = 640;
  const ScreenHeight = 480;

  const canvas = document.getElementById('screen');
  const context = canvas.getContext('2d', {alpha: false});
  const bar = document.getElementById('bar');
  const note = document.getElementById('note');
  const end = document.getElementById('end');
  const endTitle = document.getElementById('end-title');
  const textScreen = document.getElementById('text-screen');
  const chooser = document.getElementById('position');
  const again = document.getElementById('again');
  const stage = document.getElementById('stage');
  const keys = document.getElementById('keys');

  // What the tests (and a curious person in the console) can read.
  const state = {
    run: 0, // counts the runs started in this page
    phase: 'loading', // 'loading', 'playing', 'ended'
    frames: 0, // frames painted in this run
    firstFrameAt: null, // performance.now() of this run's first painted frame
    startedAt: null, // performance.now() when this run was started
    status: null, // exit status once ended
    output: [], // lines written on standard output and error, in order
    scale: 1, // page pixels per screen pixel
    keys: 'hidden', // the on-screen keys: 'hidden', 'below' or 'beside' the picture
    window: '', // the window's size ('360x640') at the last layout
  };
  window.kelvarPage = state;

  // ---- The game's files ------------------------------------------------------------

  // All three asked for while the page loads (by index.html, beside this
  // script): on a slow link each round trip costs seconds. The worker runs
  // kelvar.js from memory and is handed the other two.
  const early = window.kelvarFetches || [];
  // The answers as they came, for the offline copy to keep (keepOffline).
  const answers = [];
  function fetchBytes(name, k) {
    return Promise.resolve(early[k] || fetch(name)).then((response) => {
      if (response.error) throw response.error;
      if (!response.ok) throw new Error(`${name}: ${response.status} ${response.statusText}`);
      answers.push([name, response.clone()]);
      return response.arrayBuffer();
    });
  }
  // unpack: the bytes, gunzipped when they are gzip's (a host may have
  // unpacked them on the way already).
  function unpack(buffer) {
    const bytes = new Uint8Array(buffer);
    if (bytes.length < 2 || bytes[0] !== 0x1f || bytes[1] !== 0x8b) return Promise.resolve(buffer);
    return new Response(new Blob([bytes]).stream().pipeThrough(new DecompressionStream('gzip'))).arrayBuffer();
  }
  const gameFiles = Promise.all([
    fetchBytes('kelvar.js', 0)
      .then(unpack)
      .then((script) => URL.createObjectURL(new Blob([script], {type: 'text/javascript'}))),
    fetchBytes('kelvar.wasm', 1),
    fetchBytes('kelvar.data', 2),
  ]).then(([script, wasm, data]) => ({script, wasm, data}));
  // An unhandled rejection would be reported before a run could show it.
  gameFiles.catch(() => {});

  let worker = null;
  // The screen as the game last sent it, and the rows not yet painted.
  const image = new ImageData(ScreenWidth, ScreenHeight);
  let dirtyFirst = ScreenHeight;
  let dirtyLast = -1;
  let paintPending = false;
  let buttons = 0;

  // ---- Layout ---------------------------------------------------------------------

  // A touch screen has no keys of its own: the on-screen keys are shown where
  // the pointer is coarse, or once a touch is seen.
  const coarse = window.matchMedia('(any-pointer: coarse)');
  let touchSeen = false;

  // fit: page pixels per screen pixel in a w x h area: a whole scale when
  // one fits, else the fraction that does.
  function fit(width, height) {
    const scale = Math.min(width / ScreenWidth, height / ScreenHeight);
    return scale >= 1 ? Math.floor(scale) : Math.max(scale, 0.01);
  }

  // The header's words for the pointer in use.
  function playingNote() {
    return stage.classList.contains('touch')
      ? 'You play Black: tap a piece, then its square. Esc, then a tap, quits.'
      : 'You play Black: click a piece, then its square. Esc quits, Q adds a queen.';
  }

  function layout() {
    const width = document.documentElement.clientWidth;
    const height = window.innerHeight - Math.ceil(bar.getBoundingClientRect().height);
    const touch = coarse.matches || touchSeen;
    stage.classList.toggle('touch', touch);
    // The keys go where they leave the larger picture: below it or beside it.
    let scale = fit(width, height);
    let place = 'hidden';
    if (touch) {
      stage.classList.remove('keys-beside');
      const below = fit(width, height - keys.offsetHeight);
      stage.classList.add('keys-beside');
      const beside = fit(width - keys.offsetWidth, height);
      place = beside > below ? 'beside' : 'below';
      stage.classList.toggle('keys-beside', place === 'beside');
      scale = Math.max(below, beside);
    }
    state.scale = scale;
    state.keys = place;
    if (state.phase === 'playing') note.textContent = playingNote();
    state.window = `${width}x${window.innerHeight}`;
    const pictureWidth = ScreenWidth * scale;
    const pictureHeight = ScreenHeight * scale;
    const roomWidth = width - (place === 'beside' ? keys.offsetWidth : 0);
    const roomHeight = height - (place === 'below' ? keys.offsetHeight : 0);
    canvas.style.width = pictureWidth + 'px';
    canvas.style.height = pictureHeight + 'px';
    // Smooth only when a screen pixel is smaller than a device pixel.
    canvas.classList.toggle('smooth', scale * window.devicePixelRatio < 1);
    // Whole pixels, so every screen pixel covers the same number of page pixels.
    canvas.style.marginLeft = Math.max(0, Math.floor((roomWidth - pictureWidth) / 2)) + 'px';
    canvas.style.marginTop = Math.max(0, Math.floor((roomHeight - pictureHeight) / 2)) + 'px';
    stage.style.minHeight = Math.max(0, height) + 'px';
  }
  window.addEventListener('resize', layout);
  coarse.addEventListener('change', layout);
  // The header's height follows its note, which wraps on narrow screens.
  new ResizeObserver(() => layout()).observe(bar);

  // ---- Frames ----------------------------------------------------------------------

  function paint() {
    paintPending = false;
    if (dirtyLast < dirtyFirst) return;
    context.putImageData(image, 0, 0, 0, dirtyFirst, ScreenWidth, dirtyLast - dirtyFirst + 1);
    dirtyFirst = ScreenHeight;
    dirtyLast = -1;
    if (state.frames++ === 0) state.firstFrameAt = performance.now();
  }

  // showRows: changed rows from the game; whatever came since the last
  // animation frame is painted at the next one.
  function showRows(first, pixels) {
    const bytes = new Uint8ClampedArray(pixels);
    image.data.set(bytes, first * ScreenWidth * 4);
    dirtyFirst = Math.min(dirtyFirst, first);
    dirtyLast = Math.max(dirtyLast, first + bytes.length / (ScreenWidth * 4) - 1);
    if (!paintPending) {
      paintPending = true;
      requestAnimationFrame(paint);
    }
  }

  // ---- Input -----------------------------------------------------------------------

  function eventTime(event) {
    return performance.timeOrigin + event.timeStamp;
  }

  // ScreenPoint: a page point to the screen pixel under it; points beside
  // the picture go to its nearest edge.
  function screenPoint(event) {
    const rect = canvas.getBoundingClientRect();
    const x = Math.floor(((event.clientX - rect.left) * ScreenWidth) / rect.width);
    const y = Math.floor(((event.clientY - rect.top) * ScreenHeight) / rect.height);
    return {
      x: Math.min(Math.max(x, 0), ScreenWidth - 1),
      y: Math.min(Math.max(y, 0), ScreenHeight - 1),
    };
  }

  // The game's button bits: left 4, middle 2, right 1.
  function gameButtons(pageButtons) {
    return (pageButtons & 1 ? 4 : 0) | (pageButtons & 4 ? 2 : 0) | (pageButtons & 2 ? 1 : 0);
  }

  function sendPointer(event) {
    if (!worker || state.phase === 'ended') return;
    const point = screenPoint(event);
    buttons = gameButtons(event.buttons);
    worker.postMessage({type: 'pointer', x: point.x, y: point.y, buttons: buttons, time: eventTime(event)});
  }

  // The first touch on a page that did not know it was on a touch screen
  // brings the on-screen keys, which moves the picture: that waits until the
  // finger is lifted, so the press and its release are both taken where the
  // finger came down.
  let layoutAfterPress = false;
  function endPress(event) {
    sendPointer(event);
    if (!layoutAfterPress) return;
    layoutAfterPress = false;
    layout();
  }

  canvas.addEventListener('pointermove', sendPointer);
  canvas.addEventListener('pointerdown', (event) => {
    canvas.focus();
    // A press keeps the pointer's events coming while it is held outside.
    canvas.setPointerCapture(event.pointerId);
    event.preventDefault();
    sendPointer(event);
    if (event.pointerType === 'touch' && !touchSeen) {
      touchSeen = true;
      layoutAfterPress = true;
    }
  });
  canvas.addEventListener('pointerup', endPress);
  canvas.addEventListener('pointercancel', endPress);
  canvas.addEventListener('contextmenu', (event) => event.preventDefault());

  // The desktop's codes: extended keys as 0 and a scan code.
  const ExtendedKeys = {ArrowUp: 72, ArrowDown: 80, ArrowRight: 77, ArrowLeft: 75, PageDown: 81};
  const PlainKeys = {Escape: 27, Enter: 13, Backspace: 8};

  function keyCodes(event) {
    if (event.key in ExtendedKeys) return [0, ExtendedKeys[event.key]];
    if (event.key in PlainKeys) return [PlainKeys[event.key]];
    if (event.key.length === 1) {
      const code = event.key.charCodeAt(0);
      if (code >= 32 && code <= 126) return [code];
    }
    return null;
  }

  function sendKeys(codes, event) {
    if (!worker || state.phase === 'ended') return;
    worker.postMessage({type: 'key', codes: codes, time: eventTime(event)});
  }

  document.addEventListener('keydown', (event) => {
    if (!worker || state.phase === 'ended') return;
    // Keys for the page's own controls, and the browser's shortcuts, stay theirs.
    if (event.target instanceof HTMLInputElement || event.target instanceof HTMLButtonElement) return;
    if (event.ctrlKey || event.altKey || event.metaKey) return;
    const codes = keyCodes(event);
    if (!codes) return;
    event.preventDefault();
    sendKeys(codes, event);
  });

  // The on-screen keys send what their keys on a keyboard send (data-codes),
  // and leave the focus on the canvas.
  for (const button of keys.querySelectorAll('button')) {
    const codes = button.dataset.codes.split(' ').map(Number);
    button.addEventListener('pointerdown', (event) => event.preventDefault());
    button.addEventListener('click', (event) => sendKeys(codes, event));
  }

  // ---- Offline -------------------------------------------------------------------

  // sw.js keeps this build's files for play without a network. It is
  // registered once the first board shows, so that its downloads do not hold
  // up the game on a first visit, and it takes the game's files from the
  // page (in the cache Fetched) rather than fetching them again: a browser
  // may not keep them (WebKit's automated sessions keep nothing). Browsers
  // allow it on https and localhost.
  const Fetched = 'kelvar-fetched';
  let registered = false;
  let updated = false;
  // handOver: the game's files, as fetched, where sw.js looks for them; a
  // page the copy answered has nothing to hand.
  function handOver(handed) {
    if (navigator.serviceWorker.controller) return Promise.resolve();
    return caches.open(Fetched).then((cache) => Promise.all(handed.map(([name, response]) => cache.put(name, response))));
  }
  function keepOffline() {
    const handed = answers.splice(0);
    if (registered || !('serviceWorker' in navigator) || !window.isSecureContext) return;
    registered = true;
    const before = navigator.serviceWorker.controller;
    navigator.serviceWorker.addEventListener('controllerchange', () => {
      if (before) updated = true;
    });
    handOver(handed)
      .catch(() => {})
      .then(() => navigator.serviceWorker.register('sw.js'))
      // No new build to install: nothing takes the handed files.
      .then((registration) => registration.installing || caches.delete(Fetched))
      .catch((error) => {
        console.warn('kelvar: no offline copy: ' + error.message);
      });
  }

  // ---- Runs ------------------------------------------------------------------------

  function showEnd(title) {
    state.phase = 'ended';
    if (worker) worker.terminate();
    worker = null;
    endTitle.textContent = title;
    textScreen.textContent = state.output.join('\n');
    textScreen.hidden = state.output.length === 0;
    canvas.hidden = true;
    keys.hidden = true;
    end.hidden = false;
    note.textContent = '';
    again.focus();
  }

  function start(position) {
    if (worker) worker.terminate();
    worker = null;
    state.run += 1;
    state.phase = 'loading';
    state.frames = 0;
    state.firstFrameAt = null;
    state.startedAt = performance.now();
    state.status = null;
    state.output = [];
    dirtyFirst = ScreenHeight;
    dirtyLast = -1;
    end.hidden = true;
    canvas.hidden = false;
    keys.hidden = false;
    context.fillStyle = '#000';
    context.fillRect(0, 0, ScreenWidth, ScreenHeight);
    note.textContent = 'Loading…';
    layout();
    canvas.focus();

    const run = state.run;
    gameFiles.then(
      (files) => {
        if (state.run === run) runGame(files, position);
      },
      (error) => {
        if (state.run !== run) return;
        state.output.push('The game could not load: ' + error.message);
        state.status = -1;
        showEnd('The game could not run');
      },
    );
  }

  function runGame(files, position) {
    worker = new Worker(files.script);
    worker.onmessage = (event) => {
      const message = event.data;
      switch (message.type) {
        case 'rows':
          if (state.phase === 'loading') {
            state.phase = 'playing';
            note.textContent = playingNote();
            keepOffline();
          }
          showRows(message.first, message.pixels);
          break;
        case 'output':
          state.output.push(message.text);
          break;
        case 'show':
          break;
        case 'abort':
          state.output.push('The program crashed: ' + message.what);
          state.status = -1;
          showEnd('The game crashed');
          break;
        case 'exit':
          state.status = message.status;
          showEnd(
            message.status === 0
              ? 'The game has ended'
              : 'The game stopped with exit status ' + message.status,
          );
          break;
      }
    };
    worker.onerror = (event) => {
      event.preventDefault();
      if (state.phase === 'ended') return;
      state.output.push('The game could not run: ' + (event.message || 'the worker failed'));
      state.status = -1;
      showEnd('The game could not run');
    };
    // The module and data are copied, for the next run's worker.
    worker.postMessage({type: 'start', wasm: files.wasm, data: files.data, position: position}, position ? [position] : []);
  }

  chooser.addEventListener('change', () => {
    const file = chooser.files[0];
    if (!file) return;
    file.arrayBuffer().then((bytes) => {
      chooser.value = '';
      start(bytes);
    });
  });
  // A newer build took over while this page was open: the next game is its.
  again.addEventListener('click', () => (updated ? location.reload() : start(null)));

  layout();
  start(null);
})();
