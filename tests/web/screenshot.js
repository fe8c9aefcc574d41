// The page's picture for the README: a game after e7-e5 and the computer's
// answer, taken in headless Chromium.
//
//   node screenshot.js BUILD-WEB OUT.png
'use strict';

const path = require('node:path');
const {launchBrowser} = require('./browser.js');
const {serve} = require('./server.js');
const screen = require('./screen.js');

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function main() {
  const [buildWeb, out] = process.argv.slice(2);
  if (!buildWeb || !out) throw new Error('usage: node screenshot.js BUILD-WEB OUT.png');
  const site = await serve(path.join(buildWeb, 'web'));
  const browser = await launchBrowser();
  try {
    const page = await browser.newPage();
    await page.setViewport({width: 960, height: 540});
    await page.goto(site.url);
    const click = async (square) => {
      const {x, y} = screen.squareCentre(square);
      const rect = await page.evaluate(() => {
        const r = document.getElementById('screen').getBoundingClientRect();
        return {left: r.left, top: r.top};
      });
      await page.mouse.move(rect.left + x + 0.5, rect.top + y + 0.5);
      await sleep(100);
      await page.mouse.down();
      await page.mouse.up();
      await sleep(600);
    };
    await page.waitForFunction(() => window.kelvarPage.frames > 0, {timeout: 60000});
    await sleep(2000);
    await click('e7');
    await click('e5');
    await sleep(3000);
    await click('d7');
    await page.screenshot({path: out});
  } finally {
    await browser.close();
    await site.close();
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
