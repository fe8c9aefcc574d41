// WebKit for the suite: WebKitGTK's MiniBrowser driven by WebKitWebDriver
// over W3C WebDriver (HTTP and JSON), on an Xvfb display of its own (the
// MiniBrowser has no headless mode). launchWebKit() gives the few calls of
// puppeteer's Browser and Page that the suite uses, so that its steps are
// written once for every engine. Each page is a session of its own: a fresh
// MiniBrowser with fresh storage. WebDriver cannot run a script before the
// page's own, emulate touch or a network, or report the page's errors as
// they happen; the suite skips what needs them.
'use strict';

const {spawn} = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');

const Driver = process.env.KELVAR_WEBKIT_DRIVER || '/usr/bin/WebKitWebDriver';
const MiniBrowser = ['4.1', '4.0']
  .map((version) => `/usr/lib/x86_64-linux-gnu/webkit2gtk-${version}/MiniBrowser`)
  .find((file) => fs.existsSync(file));

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// WebDriver's codes for the keys the suite presses.
const Keys = {Enter: '\uE007', Escape: '\uE00C', Backspace: '\uE003'};

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const {port} = server.address();
      server.close(() => resolve(port));
    });
  });
}

// startXvfb: a display of its own (Xvfb picks the number), and the process.
function startXvfb() {
  return new Promise((resolve, reject) => {
    const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1600x1200x24', '-nolisten', 'tcp'], {
      stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
    });
    let text = '';
    xvfb.once('error', reject);
    xvfb.once('exit', (code) => reject(new Error(`Xvfb ended (${code})`)));
    xvfb.stdio[3].on('data', (data) => {
      text += data;
      if (text.includes('\n')) resolve({xvfb, display: ':' + text.trim()});
    });
  });
}

class WebDriverPage {
  constructor(base, session) {
    this.base = base;
    this.session = session;
    this.pointer = {x: 0, y: 0};
    this.mouse = {
      move: (x, y) => this.pointerActions('mouse', [{type: 'pointerMove', x: Math.floor(x), y: Math.floor(y)}]),
      down: () => this.pointerActions('mouse', [{type: 'pointerDown', button: 0}]),
      up: () => this.pointerActions('mouse', [{type: 'pointerUp', button: 0}]),
    };
    this.keyboard = {
      press: (key) => {
        const value = Keys[key] || key;
        return this.command('POST', '/actions', {
          actions: [{type: 'key', id: 'keys', actions: [{type: 'keyDown', value}, {type: 'keyUp', value}]}],
        });
      },
    };
  }

  async command(method, path, body) {
    const response = await fetch(`${this.base}/session/${this.session}${path}`, {
      method,
      headers: {'Content-Type': 'application/json'},
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const answer = await response.json();
    if (!response.ok) throw new Error(`WebDriver ${method} ${path}: ${answer.value.error}: ${answer.value.message}`);
    return answer.value;
  }

  pointerActions(id, actions) {
    return this.command('POST', '/actions', {
      actions: [{type: 'pointer', id, parameters: {pointerType: 'mouse'}, actions}],
    });
  }

  // evaluate: fn(...args) in the page, awaited there; the value as JSON.
  async evaluate(fn, ...args) {
    const script =
      'const done = arguments[arguments.length - 1];' +
      `Promise.resolve().then(() => (${fn}).apply(null, Array.prototype.slice.call(arguments, 0, -1)))` +
      '.then((value) => done({value}), (error) => done({error: String(error && error.stack || error)}));';
    const result = await this.command('POST', '/execute/async', {script, args});
    if (result.error) throw new Error(result.error);
    return result.value;
  }

  async waitForFunction(fn, options = {}, ...args) {
    const end = Date.now() + (options.timeout || 30000);
    for (;;) {
      if (await this.evaluate(fn, ...args)) return;
      if (Date.now() > end) throw new Error(`waitForFunction timed out: ${fn}`);
      await sleep(100);
    }
  }

  // setViewport: the window sized so that its page area is width x height
  // (as near as the MiniBrowser allows: it has a smallest width). Returns
  // once the page has that size: the window takes a size at once, the page
  // some time later.
  async setViewport({width, height}) {
    const innerSize = () => this.evaluate(() => ({width: window.innerWidth, height: window.innerHeight}));
    for (let tries = 0; tries < 3; ++tries) {
      const inner = await innerSize();
      if (inner.width === width && inner.height === height) return;
      const outer = await this.command('GET', '/window/rect');
      const asked = {width: outer.width + width - inner.width, height: outer.height + height - inner.height};
      const given = await this.command('POST', '/window/rect', asked);
      if (given.width !== asked.width || given.height !== asked.height) return;
      const changed = (width, height) => window.innerWidth !== width || window.innerHeight !== height;
      await this.waitForFunction(changed, {timeout: 5000}, inner.width, inner.height).catch(() => {});
    }
  }

  on() {} // the page's errors are not reported over WebDriver

  goto(url) {
    return this.command('POST', '/url', {url});
  }

  reload() {
    return this.command('POST', '/refresh', {});
  }

  async element(selector) {
    const found = await this.command('POST', '/element', {using: 'css selector', value: selector});
    return Object.values(found)[0];
  }

  async uploadFile(selector, file) {
    await this.command('POST', `/element/${await this.element(selector)}/value`, {text: file});
  }

  async click(selector) {
    await this.command('POST', `/element/${await this.element(selector)}/click`, {});
  }

  close() {
    return fetch(`${this.base}/session/${this.session}`, {method: 'DELETE'});
  }
}

async function launchWebKit() {
  if (!MiniBrowser) throw new Error('no MiniBrowser of webkit2gtk-4.x');
  const {xvfb, display} = await startXvfb();
  const port = await freePort();
  const driver = spawn(Driver, [`--port=${port}`], {env: {...process.env, DISPLAY: display}, stdio: 'ignore'});
  const base = `http://127.0.0.1:${port}`;
  const stop = () => {
    driver.kill();
    xvfb.kill();
  };
  try {
    for (let tries = 0; ; ++tries) {
      try {
        await fetch(`${base}/status`);
        break;
      } catch (error) {
        if (tries > 100) throw error;
        await sleep(100);
      }
    }
  } catch (error) {
    stop();
    throw error;
  }
  const newPage = async () => {
    const response = await fetch(`${base}/session`, {
      method: 'POST',
      headers: {'Content-Type': 'application/json'},
      body: JSON.stringify({
        capabilities: {
          alwaysMatch: {
            browserName: 'MiniBrowser',
            'webkitgtk:browserOptions': {binary: MiniBrowser, args: ['--automation']},
          },
        },
      }),
    });
    const answer = await response.json();
    if (!response.ok) throw new Error(`WebKitWebDriver: no session: ${answer.value.message}`);
    return new WebDriverPage(base, answer.value.sessionId);
  };
  return {
    newPage,
    // Every session is a fresh browser already; a context closes its own.
    createBrowserContext: async () => {
      const pages = [];
      return {
        newPage: async () => pages[pages.push(await newPage()) - 1],
        close: () => Promise.all(pages.map((page) => page.close())),
      };
    },
    version: async () => 'WebKitGTK',
    close: async () => stop(),
  };
}

module.exports = {launchWebKit, Driver, MiniBrowser};
