// Figures of the browser build in one headless browser, one per line ("BROWSER name: value
// unit"), with its sound through the PulseAudio server of PULSE_SERVER, whose sink's monitor
// PULSE_MONITOR is listened to:
// - what the page downloads on a first visit, and Start to the intro's first sample at the output;
// - key to sound at the sound server (median, p95): Down and Up in the menu, each timed from
//   the key event on the page to the answer's first sample leaving the sound server, found in
//   the monitor's recording by the worklet's own output at the answer;
// - the browser's own: the same from a trivial page (click/) that plays a click in an
//   AudioWorklet on a key, through the same AudioContext options; what the browser reports
//   of its output latency (AudioContext baseLatency + outputLatency), and the sound server's
//   view of the browser's stream (its buffer plus the sink's latency);
// - the game's share: the game's key to sound less the browser's own (median, p95);
// - the trivial page again for other AudioContext options (latency hint, sample rate, render
//   size), to show what each gives in this browser.
// Usage: node bench_game.mjs BROWSER SITE_URL CLICK_URL
import { spawn, execFileSync } from 'node:child_process';
import { launch, sleep, waitForStart } from './browsers.mjs';

const [browserName, url, clickUrl] = process.argv.slice(2);
if (!browserName || !url || !clickUrl || !process.env.PULSE_SERVER || !process.env.PULSE_MONITOR) {
  console.error('usage: PULSE_SERVER=... PULSE_MONITOR=... node bench_game.mjs BROWSER SITE_URL CLICK_URL');
  process.exit(2);
}
setTimeout(() => { console.error(`${browserName}: browser bench timed out`); process.exit(3); }, 400000).unref();

const kRate = 48000;
const kLoads = 5;
const kKeys = 40;
const kPageOptions = { sampleRate: 48000, latencyHint: 0 };
const kOtherOptions = [
  { sampleRate: 48000, latencyHint: 'interactive' },
  { latencyHint: 0 },
  { sampleRate: 48000, latencyHint: 0, renderSizeHint: 'hardware' },
];
const print = (name, value, unit) => console.log(`${browserName} ${name}: ${value} ${unit}`);
const describe = (options) => Object.entries(options).map(([k, v]) => `${k}=${v}`).join(' ');

const median = (values) => {
  const s = [...values].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const percentile = (values, p) => {
  const s = [...values].sort((a, b) => a - b);
  return s[Math.min(s.length - 1, Math.ceil((p / 100) * s.length) - 1)];
};
const hostNow = () => performance.timeOrigin + performance.now();

// The sink's monitor, recorded from now on: the left channel, and the host time of frame 0,
// taken from the chunk that came soonest after its frames were played.
function record() {
  const chunks = [];
  let frames = 0;
  let origin = Infinity;
  let rest = Buffer.alloc(0);
  const rec = spawn('parec', ['-d', process.env.PULSE_MONITOR, '--format=s16le', `--rate=${kRate}`, '--channels=2',
                              '--raw', '--latency-msec=2'], { stdio: ['ignore', 'pipe', 'ignore'] });
  rec.stdout.on('data', (chunk) => {
    const now = hostNow();
    const bytes = Buffer.concat([rest, chunk]);
    const whole = bytes.length - (bytes.length % 4);
    const left = new Float32Array(whole / 4);
    for (let i = 0; i < left.length; ++i) left[i] = bytes.readInt16LE(4 * i) / 32768;
    chunks.push(left);
    frames += left.length;
    rest = bytes.subarray(whole);
    origin = Math.min(origin, now - (frames / kRate) * 1000);
  });
  return {
    stop: () => new Promise((resolve) => {
      rec.on('close', () => {
        const samples = new Float32Array(frames);
        let at = 0;
        for (const c of chunks) {
          samples.set(c, at);
          at += c.length;
        }
        resolve({ samples, origin, frameOf: (t) => Math.round(((t - origin) / 1000) * kRate),
                  timeOf: (f) => origin + (f / kRate) * 1000 });
      });
      rec.kill();
    }),
  };
}

// What to add to the page's performance time for the host's, from the quickest of several
// round trips.
async function pageOffset(page) {
  let best = { rtt: Infinity, offset: 0 };
  for (let i = 0; i < 15; ++i) {
    const before = hostNow();
    const there = await page.evaluate(() => performance.now());
    const after = hostNow();
    if (after - before < best.rtt) best = { rtt: after - before, offset: (before + after) / 2 - there };
  }
  return best;
}

// The browser's stream as the sound server sees it: its buffer and the sink's latency.
function serverView() {
  try {
    const text = execFileSync('pactl', ['list', 'sink-inputs'], { encoding: 'utf8' });
    const buffer = /Buffer Latency: (\d+) usec/.exec(text);
    const sink = /Sink Latency: (\d+) usec/.exec(text);
    return buffer && sink ? { buffer: Number(buffer[1]) / 1000, sink: Number(sink[1]) / 1000 } : null;
  } catch {
    return null;
  }
}

// Where in `samples`, from frame `from` for `span` frames, `snippet` fits best (normalised
// correlation), or null if nowhere above 0.9.
function find(samples, snippet, from, span) {
  let energy = 0;
  for (const v of snippet) energy += v * v;
  let best = { at: null, score: 0.9 };
  for (let lag = Math.max(0, from); lag < Math.min(from + span, samples.length - snippet.length); ++lag) {
    let dot = 0;
    let own = 0;
    for (let i = 0; i < snippet.length; ++i) {
      dot += samples[lag + i] * snippet[i];
      own += samples[lag + i] * samples[lag + i];
    }
    const score = dot / Math.sqrt(energy * own || 1);
    if (score > best.score) best = { at: lag, score };
  }
  return best.at;
}

async function pressKeys(page, count) {
  for (let i = 0; i < count; ++i) {
    await page.keyboard.press(i % 2 ? 'ArrowUp' : 'ArrowDown');
    await sleep(230 + (i % 7) * 13);
  }
  await sleep(400);
}

// The game: key to sound at the sound server, from the page's key events and the worklet's
// output found in the monitor's recording.
async function gameKeys(browser) {
  const page = await browser.newPage();
  await page.goto(url, { waitUntil: 'load' });
  await waitForStart(page);
  await page.click('#start');
  await page.waitForFunction(() => window.vesquinPage.transcript.length >= 2, { timeout: 15000 });
  await page.keyboard.press('Control');
  await sleep(800);
  const sync = await pageOffset(page);
  const first = await page.evaluate(() => window.vesquinPage.keyTimes.length);
  const recording = record();
  await page.evaluate((frames) => window.vesquinPage.capture(frames), kRate * 25);
  await sleep(300);
  await pressKeys(page, kKeys);
  const heard = await recording.stop();
  const { keyTimes, marks, own, from, reported, plays } = await page.evaluate(async () => {
    const taken = await window.vesquinPage.takeCapture();
    const origin = window.vesquinPage.origin();
    return { keyTimes: window.vesquinPage.keyTimes, marks: window.vesquinPage.marks, from: taken.from,
             own: Array.from(taken.capture.filter((_, i) => i % 2 === 0)), reported: window.vesquinPage.outputLatency(),
             plays: window.vesquinPage.transcript.filter((l) => / play menu\\/.test(l))
               .map((l) => origin + Number(l.slice(0, l.indexOf(' ')))) };
  });
  const viewed = serverView();
  const latencies = [];
  for (const key of keyTimes.slice(first)) {
    // The answer: the first voice the worklet told of after the game played the key's clip.
    const play = plays.find((t) => t >= Math.floor(key));
    const mark = play === undefined ? undefined : marks.find((m) => m.received >= play);
    if (!mark || mark.received - key > 500 || from === null) continue;
    const start = mark.frame - from;
    if (start < 0 || start + 960 > own.length) continue;
    const keyAtHost = key + sync.offset;
    const at = find(heard.samples, own.slice(start, start + 960), heard.frameOf(keyAtHost), kRate / 2);
    if (at !== null) latencies.push(heard.timeOf(at) - keyAtHost);
  }
  await page.close();
  return { latencies, reported, view: viewed, sync, presses: keyTimes.length - first };
}

// The trivial page: the click's first frame in the monitor's recording after each key.
async function clickKeys(browser, options) {
  const page = await browser.newPage();
  // A page whose context never ran (the browser refused its options) is closed all the same.
  try {
    await page.goto(`${clickUrl}?options=${encodeURIComponent(JSON.stringify(options))}`, { waitUntil: 'load' });
    await page.click('#start');
    await page.waitForFunction(() => window.clickPage.running, { timeout: 15000 });
    await sleep(500);
    const sync = await pageOffset(page);
    const recording = record();
    await sleep(300);
    await pressKeys(page, kKeys);
    const heard = await recording.stop();
    const view = serverView();
    const { keyTimes, reported, rate, quantum } = await page.evaluate(() => {
      const c = window.clickPage.context;
      return { keyTimes: window.clickPage.keyTimes, rate: c.sampleRate, quantum: c.renderQuantumSize || 128,
               reported: ((c.baseLatency || 0) + (c.outputLatency || 0)) * 1000 };
    });
    const latencies = [];
    for (const key of keyTimes) {
      const keyAtHost = key + sync.offset;
      let f = Math.max(0, heard.frameOf(keyAtHost));
      const end = Math.min(heard.samples.length, f + kRate / 2);
      while (f < end && Math.abs(heard.samples[f]) < 0.1) ++f;
      if (f < end) latencies.push(heard.timeOf(f) - keyAtHost);
    }
    return { latencies, reported, view, rate, quantum, sync };
  } finally {
    await page.close().catch(() => {});
  }
}

const browser = await launch(browserName, { audible: true });
try {
  // A first visit, and Start to the intro's first sample at the output, over fresh profiles.
  const starts = [];
  let served = 0;
  for (let i = 0; i < kLoads; ++i) {
    const context = await browser.createBrowserContext();
    const page = await context.newPage();
    await page.goto(url, { waitUntil: 'load' });
    await waitForStart(page);
    if (i === 0) {
      served = await page.evaluate(() => [...performance.getEntriesByType('navigation'),
                                          ...performance.getEntriesByType('resource')]
        .reduce((sum, e) => sum + e.encodedBodySize, 0));
    }
    await page.click('#start');
    try {
      await page.waitForFunction(() => window.vesquinPage.firstSoundAt > 0, { timeout: 15000 });
      starts.push(await page.evaluate(() => window.vesquinPage.firstSoundAt - window.vesquinPage.startClickedAt));
    } catch {
      // no first sample: counted below
    }
    await context.close();
  }
  print('download of the page as served', (served / 1e6).toFixed(2), 'MB');
  print('start to first intro sample median', median(starts).toFixed(1), 'ms');
  print('starts without a first sample in 15 s', kLoads - starts.length, `of ${kLoads}`);

  const game = await gameKeys(browser);
  const own = await clickKeys(browser, kPageOptions);
  const line = (name, values) => {
    if (values.length === 0) return print(name, 'none', '(no key was heard)');
    print(`${name} median`, median(values).toFixed(1), 'ms');
    print(`${name} p95`, percentile(values, 95).toFixed(1), 'ms');
  };
  line('game key to sound at the sound server', game.latencies);
  line('own key to sound at the sound server', own.latencies);
  if (game.latencies.length && own.latencies.length) {
    print('game share of key to sound median', (median(game.latencies) - median(own.latencies)).toFixed(1), 'ms');
    print('game share of key to sound p95',
          (percentile(game.latencies, 95) - percentile(own.latencies, 95)).toFixed(1), 'ms');
  }
  print('game keys heard', `${game.latencies.length} of ${game.presses}`, 'keys');
  print('own keys heard', `${own.latencies.length} of ${kKeys}`, 'keys');
  print('output latency reported by the browser', own.reported.toFixed(1), 'ms');
  print('output latency reported by the browser to the game', game.reported.toFixed(1), 'ms');
  if (own.view) {
    print('sound server stream buffer latency', own.view.buffer.toFixed(1), 'ms');
    print('sound server sink latency', own.view.sink.toFixed(1), 'ms');
  }
  print('page clock sync round trip', Math.max(game.sync.rtt, own.sync.rtt).toFixed(2), 'ms');
  print('output sample rate', own.rate, 'Hz');

  // What other options give this browser's own path.
  for (const options of kOtherOptions) {
    // An option the browser takes badly is given a minute, so that the others are still tried.
    const other = await Promise.race([clickKeys(browser, options), sleep(60000).then(() => null)]).catch(() => null);
    const label = `own (AudioContext ${describe(options)})`;
    if (!other) {
      print(`${label} key to sound`, 'refused', '');
      continue;
    }
    line(`${label} key to sound at the sound server`, other.latencies);
    print(`${label} output latency reported`, other.reported.toFixed(1), 'ms');
    print(`${label} rate and render size`, `${other.rate} Hz, ${other.quantum}`, 'frames');
  }
} finally {
  await browser.close();
}
