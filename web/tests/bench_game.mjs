// Figures of the browser build in headless chromium, one per line ("name: value unit"):
// what a first visit downloads (as served, and with gzip where it helps), Start to the intro's
// first sample at the output, and key to sound (median and p95) for the menu's item clips,
// with its parts: key to the game's handling of it, to the worklet's rendering of the answer,
// and the output latency chromium reports after that. With PULSE_SERVER and PULSE_MONITOR
// set, every start is also listened to at the sound server: a start heard as silence counts.
// BENCH_CONTEXT (JSON) replaces options of the page's AudioContext, for comparing others
// with the page's own; its figures are labelled with it. A null option is left out, so that
// the browser's default (the device's rate, say) applies.
// Usage: node bench_game.mjs URL
import { chromium } from 'playwright-core';
import { spawn } from 'node:child_process';
import { gzipSync } from 'node:zlib';

const [url] = process.argv.slice(2);
if (!url) {
  console.error('usage: node bench_game.mjs URL');
  process.exit(2);
}
setTimeout(() => { console.error('browser bench timed out'); process.exit(3); }, 170000).unref();

const kLoads = 8;
const kKeys = 40;
const contextOptions = process.env.BENCH_CONTEXT ? JSON.parse(process.env.BENCH_CONTEXT) : null;
const label = contextOptions
  ? `web (comparison, AudioContext ${Object.entries(contextOptions).map(([k, v]) => `${k}=${v ?? 'default'}`).join(' ')})`
  : 'web';

const median = (values) => {
  const s = [...values].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const percentile = (values, p) => {
  const s = [...values].sort((a, b) => a - b);
  return s[Math.min(s.length - 1, Math.ceil((p / 100) * s.length) - 1)];
};

// Playwright mutes chromium unless told otherwise; a player's browser plays its sound.
const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  ignoreDefaultArgs: ['--mute-audio'],
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'],
});

// The loudest sample the sound server plays in the next `ms` milliseconds, or null without one.
function listen(ms) {
  if (!process.env.PULSE_SERVER || !process.env.PULSE_MONITOR) return Promise.resolve(null);
  return new Promise((resolve) => {
    let peak = 0;
    let rest = Buffer.alloc(0);
    const rec = spawn('parec', ['-d', process.env.PULSE_MONITOR, '--format=s16le', '--rate=48000', '--channels=2',
                                '--raw', '--latency-msec=20'], { stdio: ['ignore', 'pipe', 'ignore'] });
    rec.stdout.on('data', (chunk) => {
      const bytes = Buffer.concat([rest, chunk]);
      const whole = bytes.length - (bytes.length % 2);
      for (let i = 0; i < whole; i += 2) peak = Math.max(peak, Math.abs(bytes.readInt16LE(i)));
      rest = bytes.subarray(whole);
    });
    const timer = setTimeout(() => rec.kill(), ms);
    rec.on('error', () => { clearTimeout(timer); resolve(null); });
    rec.on('close', () => { clearTimeout(timer); resolve(peak / 32768); });
  });
}

async function freshPage() {
  const context = await browser.newContext();
  const page = await context.newPage();
  if (contextOptions) {
    await page.addInitScript((replaced) => {
      const Base = window.AudioContext;
      window.AudioContext = class extends Base {
        constructor(options) {
          const merged = { ...options, ...replaced };
          for (const name of Object.keys(merged)) if (merged[name] === null) delete merged[name];
          super(merged);
        }
      };
    }, contextOptions);
  }
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
  let heardSilent = 0;
  let heard = 0;
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
    const listening = listen(2500);
    await page.click('#start');
    try {
      await page.waitForFunction(() => window.vesquinPage.firstSoundAt > 0, null, { timeout: 15000 });
      starts.push(await page.evaluate(() => window.vesquinPage.firstSoundAt - window.vesquinPage.startClickedAt));
    } catch {
      ++silentStarts;  // the intro's first frame never got a time at the output
    }
    const peak = await listening;
    if (peak !== null) {
      ++heard;
      if (peak < 0.01) ++heardSilent;
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
  const { keyTimes, marks, transcript, origin } = await page.evaluate(() => ({
    keyTimes: window.vesquinPage.keyTimes, marks: window.vesquinPage.marks,
    transcript: window.vesquinPage.transcript, origin: window.vesquinPage.origin() }));
  // When the game played each item clip, on the page's clock (whole milliseconds).
  const plays = transcript.filter((l) => / play menu\\/.test(l)).map((l) => origin + Number(l.slice(0, l.indexOf(' '))));
  const latencies = [];
  const mixed = [];
  const handled = [];
  const reported = [];
  for (const key of keyTimes.slice(firstKey)) {
    const sound = marks.find((m) => m.at >= key);
    if (sound && sound.at - key < 500) {
      latencies.push(sound.at - key);
      mixed.push(sound.played - key);
      reported.push(sound.latency);
      const play = plays.find((t) => t >= Math.floor(key));
      if (play !== undefined && play - key < 100) handled.push(play - key);
    }
  }
  const device = await page.evaluate(() => window.vesquinPage.outputLatency());
  const rate = await page.evaluate(() => window.vesquinPage.sampleRate());
  const stats = await page.evaluate(() => window.vesquinPage.playbackStats());
  if (process.env.BENCH_DUMP) console.error(JSON.stringify({ latencies, reported, mixed, handled }));
  await context.close();

  console.log(`${label} download as served: ${(served / 1e6).toFixed(2)} MB`);
  console.log(`${label} download compressed: ${(compressed / 1e6).toFixed(2)} MB`);
  console.log(`${label} start to first intro sample median: ${median(starts).toFixed(1)} ms`);
  console.log(`${label} starts without a first sample in 15 s: ${silentStarts} of ${kLoads}`);
  if (heard > 0) console.log(`${label} starts heard as silence at the sound server: ${heardSilent} of ${heard}`);
  console.log(`${label} key to sound median: ${median(latencies).toFixed(1)} ms`);
  console.log(`${label} key to sound p95: ${percentile(latencies, 95).toFixed(1)} ms`);
  console.log(`${label} key to game handling median: ${median(handled).toFixed(1)} ms`);
  console.log(`${label} key to game handling p95: ${percentile(handled, 95).toFixed(1)} ms`);
  console.log(`${label} key to worklet output median: ${median(mixed).toFixed(1)} ms`);
  console.log(`${label} key to worklet output p95: ${percentile(mixed, 95).toFixed(1)} ms`);
  console.log(`${label} output latency reported by chromium median: ${median(reported).toFixed(1)} ms`);
  console.log(`${label} output latency reported by chromium p95: ${percentile(reported, 95).toFixed(1)} ms`);
  console.log(`${label} output latency reported by chromium at the end: ${device.toFixed(1)} ms`);
  console.log(`${label} output sample rate: ${rate} Hz`);
  console.log(`${label} key to sound presses measured: ${latencies.length} keys`);
  if (stats) {
    console.log(`${label} output underruns reported by chromium: ${stats.underruns} in ${stats.seconds.toFixed(1)} s`);
    console.log(`${label} output silence from underruns: ${stats.underrunMs.toFixed(1)} ms`);
  }
} finally {
  await browser.close();
}
