// The page around the game: it runs kelvar.js in a worker, shows its frames
// on the canvas at the largest whole scale that fits, sends it the pointer
// (mapped back to the 640 x 480 screen) and the keys (as the desktop's key
// codes), and shows the text screen with "Play again" when the run ends.
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

  // What the tests (and a curious person in the console) can read.
  const state = {
    run: 0, // counts the runs started in this page
    phase: 'loading', // 'loading', 'playing', 'ended'
    frames: 0, // frames painted in this run
    firstFrameAt: null, // performance.now() of this run's first painted frame
    startedAt: null, // performance.now() when this run was started
    status: null, // exit status once ended
    output: [], // lines written on standard output and error, in order
    scale: 1,
  };
  window.kelvarPage = state;

  let worker = null;
  // The screen as the game last sent it, and the rows not yet painted.
  const image = new ImageData(ScreenWidth, ScreenHeight);
  let dirtyFirst = ScreenHeight;
  let dirtyLast = -1;
  let paintPending = false;
  let buttons = 0;

  // ---- Layout ---------------------------------------------------------------------

  function layout() {
    const width = document.documentElement.clientWidth;
    const height = window.innerHeight - bar.offsetHeight;
    const scale = Math.max(1, Math.floor(Math.min(width / ScreenWidth, height / ScreenHeight)));
    state.scale = scale;
    canvas.style.width = ScreenWidth * scale + 'px';
    canvas.style.height = ScreenHeight * scale + 'px';
    // Whole pixels, so every screen pixel covers the same number of page pixels.
    canvas.style.marginLeft = Math.max(0, Math.floor((width - ScreenWidth * scale) / 2)) + 'px';
    canvas.style.marginTop = Math.max(0, Math.floor((height - ScreenHeight * scale) / 2)) + 'px';
  }
  window.addEventListener('resize', layout);

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

  canvas.addEventListener('pointermove', sendPointer);
  canvas.addEventListener('pointerdown', (event) => {
    canvas.focus();
    // A press keeps the pointer's events coming while it is held outside.
    canvas.setPointerCapture(event.pointerId);
    event.preventDefault();
    sendPointer(event);
  });
  canvas.addEventListener('pointerup', sendPointer);
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

  document.addEventListener('keydown', (event) => {
    if (!worker || state.phase === 'ended') return;
    // Keys for the page's own controls, and the browser's shortcuts, stay theirs.
    if (event.target instanceof HTMLInputElement || event.target instanceof HTMLButtonElement) return;
    if (event.ctrlKey || event.altKey || event.metaKey) return;
    const codes = keyCodes(event);
    if (!codes) return;
    event.preventDefault();
    worker.postMessage({type: 'key', codes: codes, time: eventTime(event)});
  });

  // ---- Runs ------------------------------------------------------------------------

  function showEnd(title) {
    state.phase = 'ended';
    if (worker) worker.terminate();
    worker = null;
    endTitle.textContent = title;
    textScreen.textContent = state.output.join('\n');
    textScreen.hidden = state.output.length === 0;
    canvas.hidden = true;
    end.hidden = false;
    note.textContent = '';
    again.focus();
  }

  function start(position) {
    if (worker) worker.terminate();
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
    context.fillStyle = '#000';
    context.fillRect(0, 0, ScreenWidth, ScreenHeight);
    note.textContent = 'Loading…';
    layout();

    worker = new Worker('kelvar.js');
    worker.onmessage = (event) => {
      const message = event.data;
      switch (message.type) {
        case 'rows':
          if (state.phase === 'loading') {
            state.phase = 'playing';
            note.textContent = 'You play Black: click a piece, then its square. Esc quits, Q adds a queen.';
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
    worker.postMessage({type: 'start', position: position}, position ? [position] : []);
    canvas.focus();
  }

  chooser.addEventListener('change', () => {
    const file = chooser.files[0];
    if (!file) return;
    file.arrayBuffer().then((bytes) => {
      chooser.value = '';
      start(bytes);
    });
  });
  again.addEventListener('click', () => start(null));

  layout();
  start(null);
})();
