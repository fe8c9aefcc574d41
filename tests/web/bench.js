// The computer's search in the browser against the native kelvar-bench, on
// the same positions, each searched the same number of times:
//
//   node bench.js BUILD-WEB [NATIVE-KELVAR-BENCH] [--repeat N] [--rounds R]
//
// BUILD-WEB is the browser build folder (with kelvar-bench-web built); the
// native bench is run on ../../bench/positions when given. Each round runs
// the browser's bench and then the native one, every position N times (10);
// on a machine shared with other work the fastest of R rounds (3) counts.
// Prints each round's total lines, then the best of each and the ratio of the
// browser's nodes per second to the native one.
'use strict';

const {execFileSync} = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const {serve} = require('./server.js');

const Positions = ['opening.in', 'middlegame.in', 'tactics.in', 'endgame.in', 'queens.in'];

function totalNps(lines) {
  const total = lines.find((line) => line.startsWith('total '));
  if (!total) throw new Error('no total line in:\n' + lines.join('\n'));
  return {line: total, nps: Number(/nps=(\d+)/.exec(total)[1])};
}

function option(args, name, fallback) {
  const at = args.indexOf(name);
  if (at < 0) return fallback;
  const value = Number(args[at + 1]);
  args.splice(at, 2);
  return value;
}

async function main() {
  const args = process.argv.slice(2);
  const repeat = option(args, '--repeat', 10);
  const rounds = option(args, '--rounds', 3);
  const [buildWeb, nativeBench] = args;
  if (!buildWeb) {
    console.error('usage: node bench.js BUILD-WEB [NATIVE-KELVAR-BENCH] [--repeat N] [--rounds R]');
    process.exit(2);
  }
  // The browser's bench is not built by default: say how to build it.
  const benchPage = path.join(buildWeb, 'web-bench', 'index.html');
  if (!fs.existsSync(benchPage) || !fs.existsSync(path.join(buildWeb, 'web-bench', 'kelvar-bench-web.js'))) {
    console.error(`bench.js: ${path.join(buildWeb, 'web-bench')} holds no kelvar-bench-web; build it first:\n` +
                  `  cmake --build ${buildWeb} --target kelvar-bench-web`);
    process.exit(2);
  }
  if (nativeBench && !fs.existsSync(nativeBench)) {
    console.error(`bench.js: no ${nativeBench}; build it with: cmake --build build --target kelvar-bench`);
    process.exit(2);
  }
  const {launchBrowser} = require('./browser.js');
  const files = [];
  for (let i = 0; i < repeat; ++i) files.push(...Positions);
  const positions = path.join(__dirname, '..', '..', 'bench', 'positions');

  const site = await serve(path.join(buildWeb, 'web-bench'));
  const browser = await launchBrowser();
  let web = null;
  let native = null;
  try {
    for (let round = 1; round <= rounds; ++round) {
      const page = await browser.newPage();
      await page.goto(site.url + '?' + files.map((name) => 'file=' + name).join('&'));
      await page.waitForFunction(() => window.benchStatus !== null, {timeout: 600000});
      const lines = await page.evaluate(() => window.benchLines);
      await page.close();
      if (!Array.isArray(lines)) throw new Error(`the page at ${site.url} ran no bench`);
      const webRound = totalNps(lines);
      console.log(`round ${round} browser: ${webRound.line}`);
      if (!web || webRound.nps > web.nps) web = webRound;
      if (!nativeBench) continue;
      const output = execFileSync(nativeBench, files.map((name) => path.join(positions, name)), {
        encoding: 'utf8',
      });
      const nativeRound = totalNps(output.trim().split('\n'));
      console.log(`round ${round} native:  ${nativeRound.line}`);
      if (!native || nativeRound.nps > native.nps) native = nativeRound;
    }
  } finally {
    await browser.close();
    await site.close();
  }
  console.log('best browser: ' + web.line);
  if (!native) return;
  console.log('best native:  ' + native.line);
  console.log('ratio browser/native: ' + (web.nps / native.nps).toFixed(3));
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
