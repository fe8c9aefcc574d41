// The wasm side's imports of the browser host. The program runs in a
// dedicated worker (see worker.js): these functions hand frames to the page
// and take the input the page sent, through the worker's KelvarInbox.
mergeInto(LibraryManager.library, {
  // kelvar_web_now: milliseconds since the epoch, to a fraction; the same
  // clock as the page's event stamps, so events can be aged.
  kelvar_web_now: function () {
    return performance.timeOrigin + performance.now();
  },

  // kelvar_web_present: rows firstRow..lastRow of the 640 x 480 RGB 5-6-5
  // screen at pixels to the page.
  kelvar_web_present: function (pixels, firstRow, lastRow) {
    var start = (pixels >> 1) + firstRow * 640;
    KelvarInbox.present(firstRow, HEAPU16.subarray(start, start + (lastRow - firstRow + 1) * 640));
  },

  // kelvar_web_wait: yields to the browser until input arrives or the
  // milliseconds pass (a negative count waits for input alone). The only
  // import that unwinds (ASYNCIFY_IMPORTS).
  kelvar_web_wait__deps: ['$Asyncify'],
  kelvar_web_wait: function (milliseconds) {
    return Asyncify.handleSleep(function (wakeUp) {
      KelvarInbox.wait(milliseconds, wakeUp);
    });
  },

  // kelvar_web_next_input: the oldest unread input into a WebInput
  // (web_host.cpp): kind (1 a key code, 2 the pointer), then for a key its
  // code, for the pointer x, y and buttons, and at byte 24 its time as a
  // double. 0 when none is waiting.
  kelvar_web_next_input: function (out) {
    var input = KelvarInbox.take();
    if (!input) return 0;
    HEAP32[out >> 2] = input.kind;
    HEAP32[(out >> 2) + 1] = input.code | 0;
    HEAP32[(out >> 2) + 2] = input.x | 0;
    HEAP32[(out >> 2) + 3] = input.y | 0;
    HEAP32[(out >> 2) + 4] = input.buttons | 0;
    HEAPF64[(out + 24) >> 3] = input.time;
    return 1;
  },

  // kelvar_web_show: the page shows the canvas (1) or the text screen (0).
  kelvar_web_show: function (graphics) {
    KelvarInbox.show(graphics !== 0);
  },
});
