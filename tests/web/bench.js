// The computer's search in the browser against the native kelvar-bench, on
// the same positions, each searched the same number of times:
//
//   node bench.js BUILD-WEB [NATIVE-KELVAR-BENCH] [--repeat N]
//
// BUILD-WEB is the browser build folder (with kelvar-bench-web built); the
// native bench is run on ../../bench/positions when given. Prints both total
// lines and the ratio of the browser's nodes per second to the native one.
'use strict';

const {execFileSync} = require('node:child_process');
const path = require('node:path');
const {launchBrowser} = require('./browser.js');
const {serve} = require('./server.js');

const Positions = ['opening.in', 'middlegame.in', 'tactics.in', 'endgame.in', 'queens.in'];

function totalNps(lines) {
  const total = lines.find((line) => line.startsWith('total '));
  if (!total) throw new Error('no total line in:\n' + lines.join('\n'));
  return {line: total, nps: Number(/nps=(\d+)/.exec(total)[1])};
}

async function main() {
  const args = process.argv.slice(2);
  let repeat = 10;
  const at = args.indexOf('--repeat');
  if (at >= 0) {
    repeat = Number(args[at + 1]);
    args.splice(at, 2);
  }
  const [buildWeb, nativeBench] = args;
  if (!buildWeb) throw new Error('usage: node bench.js BUILD-WEB [NATIVE-KELVAR-BENCH] [--repeat N]');
  const files = [];
  for (let i = 0; i < repeat; ++i) files.push(...Positions);

  const site = await serve(path.join(buildWeb, 'web-bench'));
  const browser = await launchBrowser();
  let web;
  try {
    const page = await browser.newPage();
    await page.goto(site.url + '?' + files.map((name) => 'file=' + name).join('&'));
    await page.waitForFunction(() => window.benchStatus !== null, {timeout: 600000});
    const lines = await page.evaluate(() => window.benchLines);
    web = totalNps(lines);
    console.log('browser: ' + web.line);
  } finally {
    await browser.close();
    await site.close();
  }
  if (!nativeBench) return;
  const positions = path.join(__dirname, '..', '..', 'bench', 'positions');
  const output = execFileSync(nativeBench, files.map((name) => path.join(positions, name)), {
    encoding: 'utf8',
  });
  const native = totalNps(output.trim().split('\n'));
  console.log('native:  ' + native.line);
  console.log('ratio browser/native: ' + (web.nps / native.nps).toFixed(3));
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
