// Debian's Chromium, headless, with a fresh profile that is removed on close.
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');

const Executable = process.env.KELVAR_CHROMIUM || '/usr/bin/chromium';

async function launchBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kelvar-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: Executable,
    headless: true,
    args: [
      '--no-sandbox',
      '--headless',
      '--disable-gpu',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      '--no-first-run',
      `--user-data-dir=${profile}`,
    ],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    try {
      await close();
    } finally {
      fs.rmSync(profile, {recursive: true, force: true});
    }
  };
  return browser;
}

module.exports = {launchBrowser};
