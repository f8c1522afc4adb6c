// Debian's chromium, headless, as every browser check of the score server launches it; a check
// that hangs is ended after a minute.
import { chromium } from 'playwright-core';

export async function launchChromium() {
  setTimeout(() => { console.error('browser check timed out'); process.exit(3); }, 60000).unref();
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    // Playwright gives every launch a fresh, empty user-data-dir of its own.
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
  });
}
