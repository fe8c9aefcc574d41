// kelvar.js runs as the page's dedicated worker (this file is put in front of
// it). The game's blocking waits yield here (Asyncify), so the worker's
// message loop runs only while the game waits: input sent meanwhile is
// queued and aged by its own time stamp. The page sends
//   {type: 'start', position: ArrayBuffer | null}   once, to start the game
//   {type: 'key', codes: [..], time}                 key codes as the desktop gives them
//   {type: 'pointer', x, y, buttons, time}           the pointer on the 640 x 480 screen
// and hears
//   {type: 'rows', first, pixels: ArrayBuffer}       RGBA rows of the 640 x 480 screen from row first
//   {type: 'show', graphics: bool}                   the graphics mode opened or closed
//   {type: 'output', stream: 'stdout' | 'stderr', text}
//   {type: 'exit', status}
//   {type: 'abort', what}                            the program crashed

Module['noInitialRun'] = true;

var KelvarInbox = (function () {
  var inputs = [];
  var waiting = null; // {wakeUp, timer} while the game waits
  var started = false;
  var runtimeReady = false;
  var startMessage = null;
  // 5-6-5 to RGBA (little-endian words), each channel's bits repeated.
  var toRgba = new Uint32Array(65536);
  for (var value = 0; value < 65536; ++value) {
    var r = value >> 11, g = (value >> 5) & 63, b = value & 31;
    toRgba[value] =
      (0xff << 24) | ((b << 3) | (b >> 2)) << 16 | ((g << 2) | (g >> 4)) << 8 | ((r << 3) | (r >> 2));
  }

  function wakeGame() {
    if (!waiting) return;
    var wakeUp = waiting.wakeUp;
    clearTimeout(waiting.timer);
    waiting = null;
    wakeUp(0);
  }

  function startGame() {
    if (started || !runtimeReady || !startMessage) return;
    started = true;
    if (startMessage.position) FS.writeFile('/kelvar.in', new Uint8Array(startMessage.position));
    // An exit() ends the program by throwing ExitStatus through it, after
    // Module.quit has told the page; that throw is the end, not an error.
    var ended = function (error) {
      if (!(error instanceof ExitStatus)) throw error;
    };
    var status;
    try {
      status = Module['ccall']('main', 'number', ['number', 'number'], [0, 0], {async: true});
    } catch (error) {
      ended(error);
      return;
    }
    Promise.resolve(status).then(function (code) {
      postMessage({type: 'exit', status: code | 0});
    }, ended);
  }

  self.onmessage = function (event) {
    var message = event.data;
    if (message.type === 'start') {
      startMessage = message;
      startGame();
    } else if (message.type === 'key') {
      for (var i = 0; i < message.codes.length; ++i)
        inputs.push({kind: 1, code: message.codes[i], time: message.time});
      wakeGame();
    } else if (message.type === 'pointer') {
      inputs.push({kind: 2, x: message.x, y: message.y, buttons: message.buttons, time: message.time});
      wakeGame();
    }
  };

  Module['onRuntimeInitialized'] = function () {
    runtimeReady = true;
    startGame();
  };
  Module['print'] = function (text) {
    postMessage({type: 'output', stream: 'stdout', text: text});
  };
  Module['printErr'] = function (text) {
    postMessage({type: 'output', stream: 'stderr', text: text});
  };
  // Every exit(status) of the program ends here (a return from main is
  // reported by startGame).
  Module['quit'] = function (status, toThrow) {
    postMessage({type: 'exit', status: status});
    throw toThrow;
  };

  Module['onAbort'] = function (what) {
    postMessage({type: 'abort', what: String(what)});
  };

  return {
    present: function (first, rows) {
      var rgba = new Uint32Array(rows.length);
      for (var i = 0; i < rgba.length; ++i) rgba[i] = toRgba[rows[i]];
      postMessage({type: 'rows', first: first, pixels: rgba.buffer}, [rgba.buffer]);
    },
    show: function (graphics) {
      postMessage({type: 'show', graphics: graphics});
    },
    take: function () {
      return inputs.shift();
    },
    wait: function (milliseconds, wakeUp) {
      if (inputs.length > 0) {
        setTimeout(function () { wakeUp(0); }, 0);
        return;
      }
      waiting = {wakeUp: wakeUp, timer: milliseconds >= 0 ? setTimeout(wakeGame, milliseconds) : 0};
    },
  };
})();
