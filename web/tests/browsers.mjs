// What the browser checks and the bench share: Debian's firefox-esr (over WebDriver BiDi)
// and chromium, both driven by puppeteer-core, which never downloads a browser; and a plain
// static server of the site for tests, with or without the isolation headers.
import puppeteer from 'puppeteer-core';
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';

export const kBrowserNames = ['chromium', 'firefox'];

// `audible`: the browser's sound is heard, through the sound server of PULSE_SERVER; chromium
// otherwise plays to a headless output of its own (its driver mutes it), which needs none.
// `env`: more of the browser's environment. `args`: more chromium switches.
export function launch(name, { audible = false, env = {}, args = [] } = {}) {
  const environment = { ...process.env, ...env };
  if (name === 'chromium' && !audible) delete environment.PULSE_SERVER;
  if (name === 'firefox') {
    return puppeteer.launch({
      browser: 'firefox',
      executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr',
      headless: true,
      env: environment,
      // A page may start its sound without a gesture of the player's, as the driver's clicks
      // would not always count as one.
      extraPrefsFirefox: { 'media.autoplay.default': 0, 'media.autoplay.blocking_policy': 0 },
    });
  }
  if (name !== 'chromium') throw new Error(`no browser "${name}"`);
  return puppeteer.launch({
    browser: 'chrome',
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    env: environment,
    ignoreDefaultArgs: audible ? ['--mute-audio'] : [],
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required', ...args],
  });
}

const kTypes = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.mjs': 'text/javascript',
  '.css': 'text/css', '.json': 'application/json', '.wasm': 'application/wasm', '.ico': 'image/x-icon',
  '.opus': 'audio/ogg', '.png': 'image/png', '.svg': 'image/svg+xml', '.webmanifest': 'application/manifest+json' };
const kIsolation = { 'Cross-Origin-Opener-Policy': 'same-origin', 'Cross-Origin-Embedder-Policy': 'require-corp',
  'Cross-Origin-Resource-Policy': 'same-origin' };

// Serves `site` at /vesquin/play/ on a free port of 127.0.0.1, with the isolation headers when
// `isolated`. The score table's requests (/vesquin/top1.php, top2.php) are answered from
// `replies`, in order, as vesquin-sim's `reply` lines are: a body, '-' for an empty one, or
// 'fail' (and any request past the last) for no connection; a POST of a reply to
// /vesquin/test/reply queues it. Resolves to
// { port, requested: [paths], replies, close() }.
// `more` maps further path prefixes (such as '/bench/') to folders served the same way.
export async function serveSite(site, { isolated = false, more = {} } = {}) {
  const state = { requested: [], replies: [] };
  const server = createServer(async (request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    state.requested.push(path);
    if (path === '/vesquin/test/reply' && request.method === 'POST') {
      let body = '';
      for await (const chunk of request) body += chunk;
      state.replies.push(body);
      response.writeHead(204);
      response.end();
      return;
    }
    if (/^\/vesquin\/top[12]\.php$/.test(path)) {
      const reply = state.replies.shift();
      if (reply === undefined || reply === 'fail') {
        request.socket.destroy();
        return;
      }
      response.writeHead(200, { 'Content-Type': 'text/html', 'Cache-Control': 'no-store', ...(isolated ? kIsolation : {}) });
      response.end(reply === '-' ? '' : reply.replaceAll('\\n', '\n'));
      return;
    }
    const [prefix, folder] = Object.entries({ '/vesquin/play/': site, ...more }).find(([p]) => path.startsWith(p)) || [];
    const relative = prefix ? path.slice(prefix.length - 1) : path;
    const file = folder && normalize(join(folder, relative.endsWith('/') ? relative + 'index.html' : relative));
    try {
      if (!file || !file.startsWith(normalize(folder))) throw new Error('outside');
      const body = await readFile(file);
      response.writeHead(200, { 'Content-Type': kTypes[extname(file)] || 'application/octet-stream',
                                'Cache-Control': 'no-cache', ...(isolated ? kIsolation : {}) });
      response.end(body);
    } catch {
      response.writeHead(404);
      response.end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return Object.assign(state, {
    port: server.address().port,
    close: () => {
      server.closeAllConnections();
      return new Promise((resolve) => server.close(resolve));
    },
  });
}

// Waits until the page's Start button can be pressed.
export async function waitForStart(page, timeout = 30000) {
  try {
    await page.waitForFunction(() => !document.getElementById('start').disabled, { timeout });
  } catch (e) {
    const status = await page.evaluate(() => document.getElementById('status').textContent).catch(() => '(none)');
    throw new Error(`Start not ready in ${timeout} ms; the status line says "${status}"`);
  }
}

export const textOf = (page, selector) => page.$eval(selector, (e) => e.textContent);
export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// `promise`, or an error saying `what` did not happen within `ms`.
export function within(ms, promise, what) {
  let timer;
  const late = new Promise((resolve, reject) => {
    timer = setTimeout(() => reject(new Error(`${what} did not happen within ${ms} ms`)), ms);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

// Waits until the page's service worker has kept the release, for play without a network.
export const offlineReady = (page) =>
  within(30000, page.evaluate(() => window.vesquinPage.offlineReady()), 'the service worker keeping the release');
