// The page's pictures for the README: a game after e7-e5 and the computer's
// answer, with d7 picked, taken in headless Chromium; on a desktop window
// with the mouse, or with --phone on a phone (360 x 640 at two device pixels
// per page pixel, touch) by taps.
//
//   node screenshot.js BUILD-WEB OUT.png [--phone]
'use strict';

const path = require('node:path');
const {launchBrowser, Phone, PhoneAgent} = require('./browser.js');
const {serve} = require('./server.js');
const screen = require('./screen.js');

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function main() {
  const [buildWeb, out, option] = process.argv.slice(2);
  if (!buildWeb || !out || (option && option !== '--phone'))
    throw new Error('usage: node screenshot.js BUILD-WEB OUT.png [--phone]');
  const phone = option === '--phone';
  const site = await serve(path.join(buildWeb, 'web'));
  const browser = await launchBrowser();
  try {
    const page = await browser.newPage();
    if (phone) {
      await page.setUserAgent(PhoneAgent);
      await page.setViewport({...Phone, deviceScaleFactor: 2});
    } else {
      await page.setViewport({width: 960, height: 540});
    }
    await page.goto(site.url);
    const press = async (square) => {
      const {x, y} = screen.squareCentre(square);
      const point = await page.evaluate(
        (x, y) => {
          const r = document.getElementById('screen').getBoundingClientRect();
          return {x: r.left + ((x + 0.5) * r.width) / 640, y: r.top + ((y + 0.5) * r.height) / 480};
        },
        x,
        y,
      );
      if (phone) {
        await page.touchscreen.tap(point.x, point.y);
      } else {
        await page.mouse.move(point.x, point.y);
        await sleep(100);
        await page.mouse.down();
        await page.mouse.up();
      }
      await sleep(600);
    };
    await page.waitForFunction(() => window.kelvarPage.frames > 0, {timeout: 60000});
    await sleep(2000);
    await press('e7');
    await press('e5');
    await sleep(3000);
    await press('d7');
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
