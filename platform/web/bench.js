// Put in front of kelvar-bench-web.js: the bench runs on the page itself
// (it never waits), its lines go to window.benchLines, and its end sets
// window.benchStatus. The host's imports find a page that only collects.
var KelvarInbox = {
  present: function () {},
  show: function () {},
  take: function () {
    return undefined;
  },
  wait: function (milliseconds, wakeUp) {
    setTimeout(function () { wakeUp(0); }, Math.max(0, milliseconds));
  },
};
window.benchLines = [];
window.benchStatus = null;
Module['print'] = function (text) {
  window.benchLines.push(text);
};
Module['printErr'] = function (text) {
  window.benchLines.push(text);
};
Module['quit'] = function (status, toThrow) {
  window.benchStatus = status;
  throw toThrow;
};
Module['onRuntimeInitialized'] = function () {
  var files = new URLSearchParams(location.search).getAll('file');
  var status = Module['callMain'](files.map(function (name) { return '/positions/' + name; }));
  if (window.benchStatus === null) window.benchStatus = status;
};
