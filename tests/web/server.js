// A static file server for the suite: the build's web/ folder on
// 127.0.0.1, on a port the system picks. It counts what it sends (the
// files' bytes, per path) for the page-weight figures.
'use strict';

const http = require('node:http');
const fs = require('node:fs');
const path = require('node:path');

const Types = {
  '.html': 'text/html; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.wasm': 'application/wasm',
  '.data': 'application/octet-stream',
  '.png': 'image/png',
  '.webmanifest': 'application/manifest+json',
};

// serve(folder): resolves to {url, sent(), close()} once listening; sent()
// lists the files sent so far, {path, bytes} in order.
function serve(folder) {
  const root = path.resolve(folder);
  const sent = [];
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
    const file = path.join(root, name.endsWith('/') ? name + 'index.html' : name);
    if (!file.startsWith(root + path.sep)) {
      response.writeHead(403).end();
      return;
    }
    fs.readFile(file, (error, bytes) => {
      if (error) {
        response.writeHead(404).end();
        return;
      }
      response.writeHead(200, {
        'Content-Type': Types[path.extname(file)] || 'application/octet-stream',
        'Cache-Control': 'no-store',
      });
      sent.push({path: name, bytes: bytes.length});
      response.end(bytes);
    });
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      resolve({
        url: `http://127.0.0.1:${server.address().port}/`,
        sent: () => sent.slice(),
        close: () => new Promise((done) => server.close(done)),
      });
    });
  });
}

module.exports = {serve};
