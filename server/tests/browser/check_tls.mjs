// Opens a page over TLS in Debian's chromium (headless), which must verify the certificate
// against its own store (HOME's NSS database), and sends a score from the page as the game does:
// top1, then top2 of the same query, to the page's own origin. Prints the place top2 answered.
// Usage: HOME=DIR node check_tls.mjs URL QUERY   Exit 0 when both requests were answered.
import { launchChromium } from './launch.mjs';

const [url, query] = process.argv.slice(2);
if (!url || !query) {
  console.error('usage: node check_tls.mjs URL QUERY');
  process.exit(2);
}
const browser = await launchChromium();
try {
  const page = await browser.newPage();
  const response = await page.goto(url, { waitUntil: 'load' });
  if (!response || response.status() !== 200) throw new Error(`the page answered ${response && response.status()}`);
  const place = await page.evaluate(async (q) => {
    const stored = await fetch(`/vesquin/top1.php?${q}`, { cache: 'no-store', credentials: 'same-origin' });
    if (stored.status !== 200) return `top1 answered ${stored.status}`;
    const asked = await fetch(`/vesquin/top2.php?${q}`, { cache: 'no-store', credentials: 'same-origin' });
    return asked.text();
  }, query);
  console.log(place);
} catch (e) {
  console.error(e.message);
  process.exitCode = 1;
} finally {
  await browser.close();
}
