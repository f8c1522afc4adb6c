// The page on a plain static server of this test, which sends no isolation headers: the
// page's service worker adds them, the page says why it loads once more, and then the game
// starts and plays its intro. From an address that is not a secure origin (chromium, which
// can name one) no service worker can help: the page must say why it cannot start and what
// the operator must do, and say it again at Start. Without a sound device (firefox, which then
// keeps its output suspended) the page must say why nothing is heard.
// Usage: node check_static_host.mjs SITE BROWSER...
// Exit 0 when every check passes; each failed check is printed.
import { launch, serveSite, sleep, textOf } from './browsers.mjs';

const [site, ...browserNames] = process.argv.slice(2);
if (!site || browserNames.length === 0) {
  console.error('usage: node check_static_host.mjs SITE BROWSER...');
  process.exit(2);
}
// Every wait below has a time-out of its own; this one catches a browser that hangs between them
// (a launch or a close), and says where.
let step = 'starting';
setTimeout(() => { console.error(`static host check timed out while ${step}`); process.exit(3); },
           150000 * browserNames.length).unref();

const problems = [];
const server = await serveSite(site);
const plainUrl = `http://127.0.0.1:${server.port}/vesquin/play/`;

// Every text the status line shows, in order, across loads of the page.
function recordStatus(page) {
  const said = [];
  page.on('console', (m) => {
    if (m.text().startsWith('status: ')) said.push(m.text().slice(8));
  });
  return page.evaluateOnNewDocument(() => {
    addEventListener('DOMContentLoaded', () => {
      const line = document.getElementById('status');
      console.log(`status: ${line.textContent}`);
      new MutationObserver(() => { if (line.textContent) console.log(`status: ${line.textContent}`); })
        .observe(line, { childList: true, characterData: true, subtree: true });
    });
  }).then(() => said);
}

async function isolatedByWorker(browser, name) {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  const said = await recordStatus(page);
  await page.goto(plainUrl, { waitUntil: 'load' });
  try {
    await page.waitForFunction(() => window.crossOriginIsolated && !document.getElementById('start').disabled,
                               { timeout: 30000 });
  } catch {
    problems.push(`${name}: on a plain host the page never became isolated and ready; it said ${said.join(' / ')}`);
    return;
  }
  const reloads = said.filter((t) => /adds it itself and loads the page once more/.test(t)).length;
  if (reloads !== 1) problems.push(`${name}: the page said ${reloads} times that it loads once more: ${said.join(' / ')}`);
  await page.click('#start');
  try {
    await page.waitForFunction(() => window.vesquinPage.transcript.some((l) => / play game\\game_intro\.vgz/.test(l)),
                               { timeout: 10000 });
  } catch {
    problems.push(`${name}: the isolated page did not start the intro: ${await textOf(page, '#status')}`);
  }
  if (errors.length) problems.push(`${name}: page errors: ${errors.join('; ')}`);
  await page.close();
}

// Opens `url`, expects `reason` in the status line, presses Start and expects it said again.
async function refused(browser, name, url, reason, when) {
  const page = await browser.newPage();
  await page.goto(url, { waitUntil: 'load' });
  try {
    await page.waitForFunction((r) => new RegExp(r).test(document.getElementById('status').textContent),
                               { timeout: 10000 }, reason.source);
  } catch {
    problems.push(`${name} ${when}: the status line says "${await textOf(page, '#status')}"`);
    await page.close();
    return '';
  }
  const said = await textOf(page, '#status');
  await page.click('#start');
  await sleep(1000);
  if (await textOf(page, '#status') !== said) problems.push(`${name} ${when}: after Start the status line changed`);
  if (await page.$eval('#start', (e) => e.disabled)) problems.push(`${name} ${when}: Start is stuck`);
  await page.close();
  return said;
}

try {
  for (const name of browserNames) {
    step = `launching ${name}`;
    const browser = await launch(name, { args: ['--host-resolver-rules=MAP vesquin.test 127.0.0.1'] });
    try {
      step = `${name}: the page isolated by its worker`;
      await isolatedByWorker(browser, name);
      if (name === 'chromium') {
        step = `${name}: the page from an insecure origin`;
        const said = await refused(browser, name, `http://vesquin.test:${server.port}/vesquin/play/`, /cannot start/,
                                   'from an insecure origin');
        if (said && !(/HTTPS/.test(said) && /Cross-Origin-Opener-Policy: same-origin/.test(said) &&
                      /Cross-Origin-Embedder-Policy: require-corp/.test(said) && /vesquin-scored/.test(said))) {
          problems.push(`${name} from an insecure origin: the reason or the headers are missing from "${said}"`);
        }
      }
    } finally {
      step = `closing ${name}`;
      await browser.close();
    }
    if (name === 'firefox') {
      step = `${name} without a sound device`;
      const silent = await launch(name, { env: { PULSE_SERVER: 'unix:/nonexistent/vesquin-no-sound' } });
      try {
        const page = await silent.newPage();
        await page.goto(plainUrl.replace('127.0.0.1', 'localhost'), { waitUntil: 'load' });
        await page.waitForFunction(() => window.crossOriginIsolated && !document.getElementById('start').disabled,
                                   { timeout: 30000 });
        await page.click('#start');
        await page.waitForFunction(() => /sound has not started/.test(document.getElementById('status').textContent),
                                   { timeout: 10000 }).catch(() => {});
        const said = await textOf(page, '#status');
        if (!/sound has not started/.test(said)) problems.push(`${name} without a sound device: the status line says "${said}"`);
        if (await page.$eval('#start', (e) => e.disabled || e.hidden)) problems.push(`${name} without a sound device: Start cannot be pressed again`);
      } finally {
        step = `closing ${name} without a sound device`;
        await silent.close();
      }
    }
  }
} catch (e) {
  problems.push(`browser error: ${e.message}`);
} finally {
  await server.close();
}
for (const p of problems) console.error(p);
if (problems.length === 0) console.log(`the page on a plain static host: ${browserNames.join(', ')} checked`);
process.exit(problems.length ? 1 : 0);
