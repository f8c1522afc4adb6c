// Figures of the browser build in headless chromium, one per line ("name: value unit"):
// what a first visit downloads (as served, and with gzip where it helps), Start to the intro's
// first sample at the output, and key to sound (median and p95) for the menu's item clips.
// Usage: node bench_game.mjs URL
import { chromium } from 'playwright-core';
import { gzipSync } from 'node:zlib';

const [url] = process.argv.slice(2);
if (!url) {
  console.error('usage: node bench_game.mjs URL');
  process.exit(2);
}
setTimeout(() => { console.error('browser bench timed out'); process.exit(3); }, 170000).unref();

const kLoads = 5;
const kKeys = 40;

const median = (values) => {
  const s = [...values].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const percentile = (values, p) => {
  const s = [...values].sort((a, b) => a - b);
  return s[Math.min(s.length - 1, Math.ceil((p / 100) * s.length) - 1)];
};

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'],
});

async function freshPage() {
  const context = await browser.newContext();
  const page = await context.newPage();
  const bodies = [];
  page.on('response', async (response) => {
    try {
      bodies.push(await response.body());
    } catch {
      // A response without a body (a redirect) downloads nothing worth counting.
    }
  });
  await page.goto(url, { waitUntil: 'load' });
  await page.waitForFunction(() => !document.getElementById('start').disabled, null, { timeout: 30000 });
  return { context, page, bodies };
}

try {
  const starts = [];
  let silentStarts = 0;
  let served = 0;
  let compressed = 0;
  for (let i = 0; i < kLoads; ++i) {
    const { context, page, bodies } = await freshPage();
    if (i === 0) {
      for (const body of bodies) {
        served += body.length;
        compressed += Math.min(body.length, gzipSync(body, { level: 9 }).length);
      }
    }
    await page.click('#start');
    try {
      await page.waitForFunction(() => window.vesquinPage.firstSoundAt > 0, null, { timeout: 15000 });
      starts.push(await page.evaluate(() => window.vesquinPage.firstSoundAt - window.vesquinPage.startClickedAt));
    } catch {
      ++silentStarts;  // the sound output never asked for a sample
    }
    await context.close();
  }

  // Key to sound: Down in the menu stops one item clip and starts the next from its start.
  const { context, page } = await freshPage();
  await page.click('#start');
  await page.waitForFunction(() => window.vesquinPage.transcript.length >= 2, null, { timeout: 10000 });
  await page.keyboard.press('Control');
  await page.waitForTimeout(500);
  const firstKey = await page.evaluate(() => window.vesquinPage.keyTimes.length);
  for (let i = 0; i < kKeys; ++i) {
    await page.keyboard.press(i % 2 ? 'ArrowUp' : 'ArrowDown');
    await page.waitForTimeout(200 + (i % 7) * 11);
  }
  await page.waitForTimeout(300);
  const { keyTimes, marks } = await page.evaluate(() => ({ keyTimes: window.vesquinPage.keyTimes,
                                                          marks: window.vesquinPage.marks }));
  const latencies = [];
  const mixed = [];
  for (const key of keyTimes.slice(firstKey)) {
    const heard = marks.find((m) => m.at >= key);
    if (heard && heard.at - key < 500) {
      latencies.push(heard.at - key);
      mixed.push(heard.played - key);
    }
  }
  const device = await page.evaluate(() => window.vesquinPage.outputLatency());
  const { underruns } = await page.evaluate(() => window.vesquinPage.takeCapture());
  const lead = await page.evaluate(() => window.vesquinPage.leadFrames());
  await context.close();

  console.log(`web download as served: ${(served / 1e6).toFixed(2)} MB`);
  console.log(`web download compressed: ${(compressed / 1e6).toFixed(2)} MB`);
  console.log(`web start to first intro sample median: ${median(starts).toFixed(1)} ms`);
  console.log(`web starts without a first sample in 15 s: ${silentStarts} of ${kLoads}`);
  console.log(`web key to sound median: ${median(latencies).toFixed(1)} ms`);
  console.log(`web key to sound p95: ${percentile(latencies, 95).toFixed(1)} ms`);
  console.log(`web key to worklet output median: ${median(mixed).toFixed(1)} ms`);
  console.log(`web key to worklet output p95: ${percentile(mixed, 95).toFixed(1)} ms`);
  console.log(`web output latency reported by chromium: ${device.toFixed(1)} ms`);
  console.log(`web key to sound presses measured: ${latencies.length} keys`);
  console.log(`web output frames played as silence since Start: ${underruns} frames`);
  console.log(`web output lead after them: ${(lead / 48).toFixed(1)} ms`);
} finally {
  await browser.close();
}
