// Loads the score page in Debian's chromium (headless) and checks it with axe-core.
// Usage: node check_page.mjs URL [SCREENSHOT.png]   Exit 0 when the page passes.
import { launchChromium } from './launch.mjs';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const axeSource = readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const [url, screenshot] = process.argv.slice(2);
if (!url) {
  console.error('usage: node check_page.mjs URL [SCREENSHOT.png]');
  process.exit(2);
}
const browser = await launchChromium();
const problems = [];
try {
  const page = await browser.newPage();
  const dialogs = [];
  page.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss(); });
  const response = await page.goto(url, { waitUntil: 'load' });
  if (!response || response.status() !== 200) problems.push(`status ${response && response.status()}`);
  if (screenshot) await page.screenshot({ path: screenshot, fullPage: true });

  // DevTools evaluation is not subject to the page's CSP, so axe runs against the page as served.
  await page.evaluate(axeSource);
  const result = await page.evaluate(() => window.axe.run(document));
  for (const v of result.violations) {
    problems.push(`axe ${v.id} (${v.impact}): ${v.help} at ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
  }

  const facts = await page.evaluate(() => ({
    lang: document.documentElement.lang,
    title: document.title,
    scripts: document.scripts.length,
    caption: document.querySelector('table > caption')?.textContent ?? '',
    colHeaders: [...document.querySelectorAll('thead th[scope="col"]')].map((th) => th.textContent),
    cells: [...document.querySelectorAll('tbody tr')].map((tr) => [...tr.children].map((c) => c.textContent)),
  }));
  if (facts.lang !== 'en') problems.push(`lang is "${facts.lang}"`);
  if (!facts.title) problems.push('no title');
  if (facts.scripts !== 0) problems.push(`${facts.scripts} script elements on the page`);
  if (!facts.caption) problems.push('table has no caption');
  const expectedCols = ['Place', 'First name', 'Last name', 'Country', 'Score', 'Date'];
  if (JSON.stringify(facts.colHeaders) !== JSON.stringify(expectedCols)) {
    problems.push(`column headers ${JSON.stringify(facts.colHeaders)}`);
  }
  if (dialogs.length) problems.push(`page opened dialogs: ${dialogs.join(', ')}`);
  console.log(JSON.stringify({ violations: result.violations.length, passes: result.passes.length, rows: facts.cells }));
} catch (e) {
  problems.push(`browser error: ${e.message}`);
} finally {
  await browser.close();
}
for (const p of problems) console.error(p);
process.exit(problems.length ? 1 : 0);
