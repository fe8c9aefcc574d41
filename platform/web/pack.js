// Run by the build under node: makes the three files the page fetches for the
// game as small as a plain static server can send them, all gzip-compressed
// (the worker and the page unpack them with the browser's DecompressionStream):
//
//   node pack.js LINKED WEB DATA
//
// writes WEB/kelvar.js and WEB/kelvar.wasm from the linked LINKED/kelvar.js
// and LINKED/kelvar.wasm, and WEB/kelvar.data from the files of the folder
// DATA. The data package, before compression, is a 32-bit count of files,
// then per file a 16-bit name length, the name (UTF-8) and a 32-bit size, then
// the files' bytes in that order (all numbers little-endian). The output
// depends on nothing but the inputs (names sorted, no time stamps), so two
// builds of one tree ship the same bytes.
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const zlib = require('node:zlib');

function gzip(bytes) {
  return zlib.gzipSync(bytes, {level: 9, memLevel: 9});
}

function dataPackage(folder) {
  const names = fs.readdirSync(folder).sort();
  const parts = [];
  const count = Buffer.alloc(4);
  count.writeUInt32LE(names.length);
  parts.push(count);
  const contents = [];
  for (const name of names) {
    const file = path.join(folder, name);
    if (!fs.statSync(file).isFile()) throw new Error(`pack.js: ${file} is not a file`);
    const bytes = fs.readFileSync(file);
    const encoded = Buffer.from(name, 'utf8');
    const entry = Buffer.alloc(6 + encoded.length);
    entry.writeUInt16LE(encoded.length, 0);
    encoded.copy(entry, 2);
    entry.writeUInt32LE(bytes.length, 2 + encoded.length);
    parts.push(entry);
    contents.push(bytes);
  }
  return Buffer.concat([...parts, ...contents]);
}

// Written beside, then renamed, so a failed run leaves no half file behind.
function write(file, bytes) {
  fs.writeFileSync(file + '.part', bytes);
  fs.renameSync(file + '.part', file);
}

function main(argv) {
  if (argv.length !== 3) {
    process.stderr.write('usage: node pack.js LINKED WEB DATA\n');
    return 2;
  }
  const [linked, web, data] = argv;
  fs.mkdirSync(web, {recursive: true});
  for (const name of ['kelvar.js', 'kelvar.wasm']) write(path.join(web, name), gzip(fs.readFileSync(path.join(linked, name))));
  write(path.join(web, 'kelvar.data'), gzip(dataPackage(data)));
  return 0;
}

process.exitCode = main(process.argv.slice(2));
