// kelvar.js runs as the page's dedicated worker (this file is put in front of
// it). The game's blocking waits yield here (Asyncify), so the worker's
// message loop runs only while the game waits: input sent meanwhile is
// queued and aged by its own time stamp. The page fetches the game's module
// and data (so that it can ask for them at once, beside this script) and sends
//   {type: 'start', wasm, data, position}           once, to start the game:
//                                                    kelvar.wasm and kelvar.data as
//                                                    fetched, the position file or null
//   {type: 'key', codes: [..], time}                 key codes as the desktop gives them
//   {type: 'pointer', x, y, buttons, time}           the pointer on the 640 x 480 screen
// and hears
//   {type: 'rows', first, pixels: ArrayBuffer}       RGBA rows of the 640 x 480 screen from row first
//   {type: 'show', graphics: bool}                   the graphics mode opened or closed
//   {type: 'output', stream: 'stdout' | 'stderr', text}
//   {type: 'exit', status}
//   {type: 'abort', what}                            the program crashed

Module['noInitialRun'] = true;

// unpack: a fetched file's bytes, gunzipped when they are gzip's (a host
// may have unpacked them on the way already).
function kelvarUnpack(buffer) {
  var bytes = new Uint8Array(buffer);
  if (bytes.length < 2 || bytes[0] !== 0x1f || bytes[1] !== 0x8b) return Promise.resolve(buffer);
  var stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('gzip'));
  return new Response(stream).arrayBuffer();
}

// The files of the data package (pack.js) into the game's folder, /.
function kelvarWriteData(buffer) {
  var view = new DataView(buffer);
  var count = view.getUint32(0, true);
  var at = 4;
  var entries = [];
  for (var i = 0; i < count; ++i) {
    var length = view.getUint16(at, true);
    var name = new TextDecoder().decode(new Uint8Array(buffer, at + 2, length));
    entries.push({name: name, size: view.getUint32(at + 2 + length, true)});
    at += 6 + length;
  }
  for (var k = 0; k < entries.length; ++k) {
    if (at + entries[k].size > buffer.byteLength) throw new Error('kelvar.data is cut short');
    FS.writeFile('/' + entries[k].name, new Uint8Array(buffer, at, entries[k].size));
    at += entries[k].size;
  }
}

var KelvarInbox = (function () {
  var inputs = [];
  var waiting = null; // {wakeUp, timer} while the game waits
  var started = false;
  var runtimeReady = false;
  var startMessage = null;
  var filesArrived;
  var files = new Promise(function (resolve) {
    filesArrived = resolve;
  });
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
      filesArrived(message);
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

  // The module is compiled once the page has handed it over; the run-time
  // error report's offset converter reads the same bytes.
  Module['instantiateWasm'] = function (imports, receiveInstance) {
    files
      .then(function (message) {
        return kelvarUnpack(message.wasm);
      })
      .then(function (bytes) {
        return WebAssembly.instantiate(bytes, imports).then(function (result) {
          wasmOffsetConverter = new WasmOffsetConverter(new Uint8Array(bytes), result.module);
          receiveInstance(result.instance, result.module);
        });
      })
      .catch(function (error) {
        abort('the game\'s module did not load: ' + error);
      });
    return {};
  };
  // The game starts once its data is in its folder.
  Module['preRun'] = [
    function () {
      addRunDependency('kelvar.data');
      files
        .then(function (message) {
          return kelvarUnpack(message.data);
        })
        .then(function (buffer) {
          kelvarWriteData(buffer);
          removeRunDependency('kelvar.data');
        })
        .catch(function (error) {
          abort('the game\'s data did not load: ' + error);
        });
    },
  ];

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
