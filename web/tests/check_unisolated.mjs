// The page served the way it cannot run, by a plain static server of this test: without the
// cross-origin isolation headers, and from an address that is not a secure origin. The status
// line must say why the game cannot start and what the operator must do, and Start must
// answer with that again instead of leaving the page stuck.
// Usage: node check_unisolated.mjs SITE_DIR
// Exit 0 when every check passes; each failed check is printed.
import { chromium } from 'playwright-core';
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';

const [site] = process.argv.slice(2);
if (!site) {
  console.error('usage: node check_unisolated.mjs SITE_DIR');
  process.exit(2);
}
setTimeout(() => { console.error('unisolated check timed out'); process.exit(3); }, 60000).unref();

const kTypes = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css',
  '.json': 'application/json', '.wasm': 'application/wasm', '.ico': 'image/x-icon' };
const requested = [];
const server = createServer(async (request, response) => {
  const path = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/^\/vesquin\/play\//, '/');
  requested.push(path);
  const file = normalize(join(site, path.endsWith('/') ? path + 'index.html' : path));
  try {
    if (!file.startsWith(normalize(site))) throw new Error('outside');
    const body = await readFile(file);
    response.writeHead(200, { 'Content-Type': kTypes[extname(file)] || 'application/octet-stream' });
    response.end(body);
  } catch {
    response.writeHead(404);
    response.end();
  }
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const { port } = server.address();

const problems = [];
const check = (ok, what) => { if (!ok) problems.push(what); };

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  // A name for this machine that is not localhost: a page from it is not a secure origin, as
  // one from another computer on the network would not be.
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--host-resolver-rules=MAP vesquin.test 127.0.0.1'],
});

// Opens the page at `url`, expects `reason` in the status line, presses Start and expects it
// said again, with the game never shown.
async function refused(url, reason, when) {
  const context = await browser.newContext();
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  await page.goto(url, { waitUntil: 'load' });
  const status = '#status';
  check(await page.getAttribute(status, 'role') === 'status', `${when}: the status line is not a live region`);
  try {
    await page.waitForFunction(() => /cannot start/.test(document.getElementById('status').textContent), null,
                               { timeout: 10000 });
  } catch {
    problems.push(`${when}: the status line says "${await page.textContent(status)}"`);
  }
  const said = await page.textContent(status);
  check(reason.test(said), `${when}: the reason is missing from "${said}"`);
  check(/Cross-Origin-Opener-Policy: same-origin/.test(said) && /Cross-Origin-Embedder-Policy: require-corp/.test(said),
        `${when}: the headers to send are not named in "${said}"`);
  check(/vesquin-scored/.test(said), `${when}: the server that sends them is not named in "${said}"`);

  check(await page.isEnabled('#start'), `${when}: Start cannot be pressed`);
  await page.click('#start', { timeout: 3000 });
  await page.waitForTimeout(50);
  await page.waitForFunction(() => /cannot start/.test(document.getElementById('status').textContent), null,
                             { timeout: 5000 }).catch(() => {});
  check(await page.textContent(status) === said, `${when}: after Start the status line says "${await page.textContent(status)}"`);
  check(await page.isEnabled('#start'), `${when}: Start is stuck after being pressed`);
  check(await page.isHidden('#game'), `${when}: the game area is shown`);
  check(!requested.includes('/vesquin.wasm'), `${when}: the game was downloaded all the same`);
  check(errors.length === 0, `${when}: page errors: ${errors.join('; ')}`);
  await context.close();
}

try {
  await refused(`http://127.0.0.1:${port}/vesquin/play/`, /without cross-origin isolation/, 'without the headers');
  await refused(`http://vesquin.test:${port}/vesquin/play/`, /HTTPS/, 'from an insecure origin');
} catch (e) {
  problems.push(`browser error: ${e.message}`);
} finally {
  await browser.close();
  server.close();
}
for (const p of problems) console.error(p);
if (problems.length === 0) console.log('the page says why it cannot start: 2 ways checked');
process.exit(problems.length ? 1 : 0);
