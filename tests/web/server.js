// A static file server for the suite: the build's web/ folder on
// 127.0.0.1, on a port the system picks. Like most static hosts it tags
// each file (ETag) and answers a browser that has the same one with 304 Not
// Modified; browsers may keep the files but must ask first (no-cache). It
// counts what it sends (the files' bytes, per path) for the page-weight figures.
'use strict';

const crypto = require('node:crypto');
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

// serve(folder): resolves to {url, sent(), replace(), close()} once
// listening; sent() lists the answers so far, {path, bytes, status} in order;
// replace(path, bytes) serves other bytes for a path (a new build's file).
function serve(folder) {
  const root = path.resolve(folder);
  const sent = [];
  const replaced = new Map();
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
    const file = path.join(root, name.endsWith('/') ? name + 'index.html' : name);
    if (!file.startsWith(root + path.sep)) {
      response.writeHead(403).end();
      return;
    }
    const read = replaced.get(name) ? (file, done) => done(null, replaced.get(name)) : fs.readFile;
    read(file, (error, bytes) => {
      if (error) {
        response.writeHead(404).end();
        return;
      }
      const tag = '"' + crypto.createHash('sha256').update(bytes).digest('hex').slice(0, 32) + '"';
      const headers = {
        'Content-Type': Types[path.extname(file)] || 'application/octet-stream',
        'Cache-Control': 'no-cache',
        ETag: tag,
      };
      if (request.headers['if-none-match'] === tag) {
        sent.push({path: name, bytes: 0, status: 304});
        response.writeHead(304, headers).end();
        return;
      }
      sent.push({path: name, bytes: bytes.length, status: 200});
      response.writeHead(200, headers);
      response.end(bytes);
    });
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      resolve({
        url: `http://127.0.0.1:${server.address().port}/`,
        sent: () => sent.slice(),
        replace: (name, bytes) => replaced.set(name, bytes),
        close: () => new Promise((done) => server.close(done)),
      });
    });
  });
}

module.exports = {serve};
