// The suite's browsers through puppeteer-core: Debian's Chromium (over the
// DevTools protocol) and Firefox ESR (over WebDriver BiDi), headless, each
// with a fresh profile that is removed on close.
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');

const Executable = process.env.KELVAR_CHROMIUM || '/usr/bin/chromium';
const FirefoxExecutable = process.env.KELVAR_FIREFOX || '/usr/bin/firefox-esr';

// removeProfileOnClose: browser.close() also removes the profile folder.
function removeProfileOnClose(browser, profile) {
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
  return removeProfileOnClose(browser, profile);
}

async function launchFirefox() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kelvar-firefox-'));
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: FirefoxExecutable,
    headless: true,
    userDataDir: profile,
    // Service workers on http://127.0.0.1 and no first-run pages or updates.
    extraPrefsFirefox: {'dom.serviceWorkers.testing.enabled': true, 'app.update.disabledForTesting': true},
  });
  return removeProfileOnClose(browser, profile);
}

// A phone: a 360 x 640 touch screen, with a phone browser's user agent
// (for page.setViewport and page.setUserAgent).
const Phone = {width: 360, height: 640, hasTouch: true, isMobile: true};
const PhoneAgent =
  'Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/131.0.0.0 Mobile Safari/537.36';

module.exports = {launchBrowser, launchFirefox, Executable, FirefoxExecutable, Phone, PhoneAgent};
