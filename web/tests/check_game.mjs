// Plays the browser build in Debian's chromium (headless) against vesquin-sim's answers.
// Usage: node check_game.mjs URL EXPECTED_DIR
// EXPECTED_DIR holds what vesquin-sim gave: win.vsim, win.txt (its transcript), best.dat
// (after that game), intro.wav (the first seconds of the mixed output) and speakers.wav (the
// speaker test's first clip from 600 ms).
// Exit 0 when every check passes; each failed check is printed.
import { chromium } from 'playwright-core';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join } from 'node:path';

const require = createRequire(import.meta.url);
const axeSource = readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const [url, expectedDir] = process.argv.slice(2);
if (!url || !expectedDir) {
  console.error('usage: node check_game.mjs URL EXPECTED_DIR');
  process.exit(2);
}
setTimeout(() => { console.error('browser check timed out'); process.exit(3); }, 170000).unref();

// Keys of the simulator's scripts, as the keyboard reports them (key, code).
const kNamed = { enter: ['Enter', 'Enter'], ctrl: ['Control', 'ControlLeft'], escape: ['Escape', 'Escape'],
  space: [' ', 'Space'], left: ['ArrowLeft', 'ArrowLeft'], up: ['ArrowUp', 'ArrowUp'],
  right: ['ArrowRight', 'ArrowRight'], down: ['ArrowDown', 'ArrowDown'], d: ['d', 'KeyD'], n: ['n', 'KeyN'],
  y: ['y', 'KeyY'] };
const kKeys = { ...kNamed, 13: kNamed.enter, 17: kNamed.ctrl, 27: kNamed.escape, 32: kNamed.space, 37: kNamed.left,
  38: kNamed.up, 39: kNamed.right, 40: kNamed.down, 68: kNamed.d, 78: kNamed.n, 89: kNamed.y };
// A key goes this long after its script time, so that the ticks due at that time come first
// as they do in the simulator. A line may come this much earlier or later than the
// simulator's: the page runs on the machine's real clock, and a busy machine holds it up.
const kKeyDelayMs = 15;
const kToleranceMs = 250;

const problems = [];
const check = (ok, what) => { if (!ok) problems.push(what); };

function parseTranscript(text) {
  return text.split('\n').filter((l) => l && !/^\d+ show /.test(l)).map((l) => {
    const space = l.indexOf(' ');
    return { t: Number(l.slice(0, space)), event: l.slice(space + 1) };
  });
}

// `shift`: how much later than the simulator's the page's game runs, as its start-up takes time.
// The lines of the start-up itself come at once in the simulator.
// Lines the simulator gives at the same time come in the page after whatever work the game
// does between them (writing best.dat and loading a clip, say): the page's clock runs on meanwhile, and if the
// timer's ticks that fell due are merged, the lines after come that much later. That stall,
// itself held to the tolerance, is allowed to the lines after it until the next key, which
// the test sends at its own time again. `keyTimes`: the script times of the keys.
function compareTranscripts(web, sim, shift, startupLines, keyTimes) {
  let deviation = 0;
  let stalled = 0;
  let stalls = 0;
  const n = Math.max(web.length, sim.length);
  for (let i = 0; i < n; ++i) {
    const w = web[i] && { t: web[i].t - (i < startupLines ? web[i].t : shift), event: web[i].event };
    const s = sim[i];
    if (!w || !s || w.event !== s.event) {
      problems.push(`transcript differs at line ${i + 1}: web "${w ? `${w.t} ${w.event}` : '(end)'}", ` +
                    `vesquin-sim "${s ? `${s.t} ${s.event}` : '(end)'}"`);
      return { deviation, stalls };
    }
    if (i > startupLines && keyTimes.some((k) => k > sim[i - 1].t && k <= s.t)) stalled = 0;
    if (i > startupLines && s.t === sim[i - 1].t) {
      const previous = web[i - 1].t - shift;
      const stall = w.t - previous;
      if (stall > kToleranceMs) {
        problems.push(`line ${i + 1} "${s.event}" came ${stall} ms after line ${i}, at once in vesquin-sim`);
        return { deviation, stalls };
      }
      if (stall > 0) {
        stalled += stall;
        stalls = Math.max(stalls, stalled);
      }
    }
    // Whether the ticks that fell due in the stall were merged (a stall of more than a tick)
    // or not, the line is on time in one reading or the other.
    const off = Math.min(Math.abs(w.t - s.t), Math.abs(w.t - stalled - s.t));
    if (off > kToleranceMs) {
      problems.push(`line ${i + 1} "${s.event}" at ${w.t} ms${stalled ? ` (${stalled} ms of it the game's work)` : ''}, ` +
                    `vesquin-sim ${s.t} ms`);
      return { deviation, stalls };
    }
    deviation = Math.max(deviation, off);
  }
  return { deviation, stalls };
}

// RMS of the left channel in windows of 20 ms, from the first sound on.
function envelope(samples, channels, frames) {
  let first = 0;
  while (first < frames && !(Math.abs(samples[first * channels]) >= 1e-3)) ++first;
  const out = [];
  for (let start = first; start + 960 <= frames; start += 960) {
    let sum = 0;
    for (let i = start; i < start + 960; ++i) sum += samples[i * channels] ** 2;
    out.push(Math.sqrt(sum / 960));
  }
  return out;
}

function readWav(path) {
  const bytes = readFileSync(path);
  const channels = bytes.readUInt16LE(22);
  const frames = (bytes.length - 44) / (2 * channels);
  const samples = new Float32Array(frames * channels);
  for (let i = 0; i < frames * channels; ++i) samples[i] = bytes.readInt16LE(44 + 2 * i) / 32768;
  return { samples, channels, frames };
}

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  // Playwright gives every launch a fresh, empty user-data-dir of its own.
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'],
});

async function openPage(page) {
  const response = await page.goto(url, { waitUntil: 'load' });
  check(response && response.status() === 200, `page status ${response && response.status()}`);
  await page.waitForFunction(() => !document.getElementById('start').disabled, null, { timeout: 30000 });
}

async function axe(page, when) {
  // DevTools evaluation is not subject to the page's CSP, so axe runs against the page as served.
  await page.evaluate(axeSource);
  const result = await page.evaluate(() => window.axe.run(document));
  for (const v of result.violations) {
    problems.push(`axe ${when}: ${v.id} (${v.impact}): ${v.help} at ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
  }
}

const transcriptOf = (page) => page.evaluate(() => window.vesquinPage.transcript.slice());

// Waits for a line that matches, after the first `from` lines.
async function waitForLine(page, pattern, timeout, from = 0) {
  await page.waitForFunction(([p, f]) => window.vesquinPage.transcript.slice(f).some((l) => new RegExp(p).test(l)),
                             [pattern.source, from], { timeout });
}

async function typeDetails(page, values) {
  for (const [id, value] of Object.entries(values)) await page.fill(`#${id}`, value);
  await page.click('#save-details');
  return page.textContent('#details-status');
}

try {
  const context = await browser.newContext();
  const page = await context.newPage();
  const pageErrors = [];
  page.on('pageerror', (e) => pageErrors.push(e.message));
  page.on('console', (m) => { if (m.type() === 'error') pageErrors.push(m.text()); });
  await openPage(page);
  // CHECK_CPU_SLOWDOWN=N runs the page's thread N times slower, as on a very busy machine.
  if (process.env.CHECK_CPU_SLOWDOWN) {
    const devtools = await context.newCDPSession(page);
    await devtools.send('Emulation.setCPUThrottlingRate', { rate: Number(process.env.CHECK_CPU_SLOWDOWN) });
  }
  await axe(page, 'before Start');

  // The details form keeps the rules of vesquin-details, then writes config.dat.
  const refused = await typeDetails(page, { 'first-name': 'Ada`', 'last-name': 'Lovelace', address: 'London',
                                           country: 'England' });
  check(/not saved/.test(refused), `a grave accent was taken: "${refused}"`);
  check(/grave accent/.test(await page.textContent('#first-name-problem')), 'no note on the first name');
  const saved = await typeDetails(page, { 'first-name': 'Ada' });
  check(/saved/.test(saved) && !/not/.test(saved), `details not saved: "${saved}"`);
  // Read once the page has written its storage, as a reload would find it.
  await page.evaluate(() => window.vesquinPage.persisted());
  const config = await page.evaluate(() => window.vesquinPage.readFile('/persist/config.dat'));
  check(config && Buffer.from(config).toString() === 'Ada\nLovelace\nLondon\nEngland\n',
        `config.dat holds ${JSON.stringify(config && Buffer.from(config).toString())}`);

  // Start: the intro plays, and the game area takes the keys.
  await page.evaluate(() => { window.vesquinPage.captureOnStart = 48000 * 5; });
  await page.click('#start');
  await waitForLine(page, /^\d+ play game\\game_intro\.vgz pan=0 vol=0$/, 10000);
  // The intro's first frame is heard, at a time after Start on the page's clock.
  try {
    await page.waitForFunction(() => window.vesquinPage.firstSoundAt > window.vesquinPage.startClickedAt, null,
                               { timeout: 5000 });
  } catch {
    problems.push(`no first sound after Start: ${await page.evaluate(() => window.vesquinPage.firstSoundAt)}`);
  }
  const focused = await page.evaluate(() => document.activeElement && document.activeElement.getAttribute('role'));
  check(focused === 'application', `focus is on ${focused} after Start`);
  await axe(page, 'while playing');

  // The whole won game of the example script, key by key at its times, counted from a tick
  // soon after now: the page's start-up took time, the simulator's none.
  const startup = await transcriptOf(page);
  const now = await page.evaluate(() => performance.now() - window.vesquinPage.origin());
  const shift = Math.ceil(now / 50) * 50 + 50;
  const origin = await page.evaluate(() => window.vesquinPage.origin()) + shift;
  let scriptTime = 0;
  const steps = [];
  const keyTimes = [];
  for (const raw of readFileSync(join(expectedDir, 'win.vsim'), 'utf8').split('\n')) {
    const words = raw.trim().split(/\s+/);
    if (!words[0] || words[0].startsWith('#')) continue;
    const [command, ...args] = words;
    if (command === 'wait') {
      scriptTime += Number(args[0]);
    } else if (command === 'rand') {
      steps.push({ rand: args.map(Number) });
    } else if (command === 'key' || command === 'keyup') {
      const key = kKeys[args[0].toLowerCase()];
      if (!key) throw new Error(`no key for "${args[0]}"`);
      keyTimes.push(scriptTime);
      steps.push({ at: origin + scriptTime + kKeyDelayMs, after: origin + scriptTime,
                   type: command === 'key' ? 'keydown' : 'keyup', key });
    } else if (command !== 'show') {
      throw new Error(`the script's "${command}" cannot be played by keys`);
    }
  }
  // The page itself sends the keys to the game area at their times: a round trip through the
  // test driver for every key would come late on a busy machine. As in the simulator, the
  // ticks due by a key's time come first: on a page thread held up, the key waits for them.
  await page.evaluate((plan) => new Promise((resolve) => {
    const area = document.getElementById('game');
    let next = 0;
    const run = () => {
      while (next < plan.length) {
        const step = plan[next];
        if (step.rand) {
          window.vesquinPage.forceRandom(step.rand);
        } else if (performance.now() >= step.at && !(window.vesquinPage.nextTick() > 0 &&
                                                     window.vesquinPage.nextTick() <= step.after)) {
          const [key, code] = step.key;
          area.dispatchEvent(new KeyboardEvent(step.type, { key, code, bubbles: true, cancelable: true }));
          if (step.type === 'keydown') area.dispatchEvent(new KeyboardEvent('keyup', { key, code, bubbles: true }));
        } else {
          setTimeout(run, Math.max(0, Math.min(4, step.at - performance.now())));
          return;
        }
        ++next;
      }
      resolve();
    };
    run();
  }), steps);
  await page.waitForFunction((t) => performance.now() >= t, origin + scriptTime + 200, { timeout: 60000 });
  const expected = parseTranscript(readFileSync(join(expectedDir, 'win.txt'), 'utf8'));
  const played = parseTranscript((await transcriptOf(page)).join('\n'));
  const { deviation, stalls } = compareTranscripts(played, expected, shift, startup.length, keyTimes);

  // The sound that came out is the game's: not silent, and the mixer's for the same events.
  const capture = await page.evaluate(async () => {
    const m = await window.vesquinPage.takeCapture();
    return { peak: m.capture.reduce((p, v) => (Math.abs(v) > p ? Math.abs(v) : p), 0) };
  });
  check(capture.peak > 0.05, `the output was silent (peak ${capture.peak})`);

  // The score of that game goes to the local score table, which answers place 1.
  for (let i = 0; i < 10; ++i) {
    const lines = await transcriptOf(page);
    if (/play menu\\send_score\.vgz/.test(lines[lines.length - 1])) break;
    await page.keyboard.press('ArrowDown');
    await page.waitForTimeout(150);
  }
  await page.keyboard.press('Enter');
  await waitForLine(page, /play game\\check_connected\.vgz/, 5000);
  const beforeSending = (await transcriptOf(page)).length;
  await page.keyboard.press('y');
  await waitForLine(page, /state 1$/, 20000, beforeSending);
  const sent = (await transcriptOf(page)).slice(-12).map((l) => l.replace(/^\d+ /, ''));
  const query = 'first_name=Ada&last_name=Lovelace&addr=London&country=England&score=68';
  check(sent.includes(`get http://page-origin/vesquin/top1.php?${query}`), `no top1 request in ${sent}`);
  check(sent.includes(`get http://page-origin/vesquin/top2.php?${query}`), `no top2 request in ${sent}`);
  const madeIt = sent.indexOf('play game\\made_it.vgz pan=0 vol=0');
  check(madeIt >= 0 && sent[madeIt + 1] === 'play score\\1.vgz pan=0 vol=0', `the place was not spoken: ${sent}`);
  check(pageErrors.length === 0, `page errors: ${pageErrors.join('; ')}`);

  // best.dat and config.dat are the player's after a reload.
  await page.evaluate(() => window.vesquinPage.persisted());
  await openPage(page);
  const best = await page.evaluate(() => window.vesquinPage.readFile('/persist/best.dat'));
  const simBest = readFileSync(join(expectedDir, 'best.dat'));
  check(best && Buffer.from(best).equals(simBest), 'best.dat after the reload differs from vesquin-sim\'s');
  check(await page.inputValue('#first-name') === 'Ada', 'the details form forgot the first name');

  // The intro through the worklet against vesquin-sim's mixed output of it.
  await page.evaluate(() => { window.vesquinPage.captureOnStart = 48000 * 3; });
  await page.click('#start');
  // The page's thread held for 400 ms into the intro: the sound, rendered on the audio
  // thread, goes on all the same.
  await page.waitForTimeout(1000);
  await page.evaluate(() => {
    const until = performance.now() + 400;
    while (performance.now() < until);
  });
  await page.waitForTimeout(2100);
  const intro = await page.evaluate(async () => Array.from((await window.vesquinPage.takeCapture()).capture));
  const web = envelope(Float32Array.from(intro), 2, intro.length / 2);
  const wav = readWav(join(expectedDir, 'intro.wav'));
  const sim = envelope(wav.samples, wav.channels, wav.frames);
  const n = Math.min(web.length, sim.length, 100);
  let dot = 0, ww = 0, ss = 0, compared = 0;
  for (let i = 0; i < n; ++i) {
    ++compared;
    dot += web[i] * sim[i];
    ww += web[i] ** 2;
    ss += sim[i] ** 2;
  }
  const similarity = dot / Math.sqrt(ww * ss);
  const levelDb = 10 * Math.log10(ww / ss);
  check(compared >= 50, `only ${compared} windows of the intro were heard`);
  check(similarity > 0.95, `the intro's loudness follows vesquin-sim's only by ${similarity.toFixed(3)}`);
  check(Math.abs(levelDb) < 1.0, `the intro is ${levelDb.toFixed(2)} dB off vesquin-sim's level`);

  // The speaker test's first clip, heard from ahead and a little to the left through the
  // filter table: the two ears as vesquin-sim's libmysofa filters give them.
  await page.keyboard.press('Control');
  await page.waitForTimeout(200);
  await page.keyboard.press('ArrowDown');
  await page.waitForTimeout(200);
  await page.keyboard.press('ArrowDown');
  await waitForLine(page, /play menu\\test_speakers\.vgz/, 3000);
  await page.evaluate(() => window.vesquinPage.capture(48000 * 2));
  await page.keyboard.press('Enter');
  await page.waitForTimeout(1400);
  check(await page.evaluate(() => window.vesquinPage.hasHrtf()), 'the speaker test has no head-related filters');
  const speakers = await page.evaluate(async () => Array.from((await window.vesquinPage.takeCapture()).capture));
  const earsDb = (samples, from, to) => {
    let l = 0, r = 0;
    for (let i = from; i < to; ++i) {
      l += samples[2 * i] ** 2;
      r += samples[2 * i + 1] ** 2;
    }
    return 10 * Math.log10(l / r);
  };
  const simSpeakers = readWav(join(expectedDir, 'speakers.wav'));
  // The clip starts when the page has handled Enter: find that moment by the loudness of both
  // ears in 5 ms steps against vesquin-sim's from its Enter at 600 ms.
  const loudness = (samples, from, count) => Array.from({ length: count }, (_, w) => {
    let sum = 0;
    for (let i = from + 240 * w; i < from + 240 * (w + 1); ++i) sum += (samples[2 * i] || 0) ** 2 + (samples[2 * i + 1] || 0) ** 2;
    return Math.sqrt(sum);
  });
  const simLoudness = loudness(simSpeakers.samples, 48 * 600, 160);
  let lag = 0, bestMatch = -1;
  for (let l = 0; l <= 60; ++l) {
    const webLoudness = loudness(speakers, 240 * l, 160);
    let dot = 0, ww = 0;
    for (let w = 0; w < 160; ++w) {
      dot += webLoudness[w] * simLoudness[w];
      ww += webLoudness[w] ** 2;
    }
    const score = dot / Math.sqrt(ww || 1);
    if (score > bestMatch) {
      bestMatch = score;
      lag = l;
    }
  }
  const webEars = earsDb(speakers, 240 * lag + 2400, 240 * lag + 50400);
  const simEars = earsDb(simSpeakers.samples, 48 * 650, 48 * 1650);
  check(Math.abs(webEars - simEars) < 1.0 && webEars > 0.5,
        `left over right ear: ${webEars.toFixed(2)} dB in the page, ${simEars.toFixed(2)} dB in vesquin-sim`);

  // Escape reaches the game through the application area: from the menu it plays the exit
  // clip and ends the game.
  const beforeQuit = (await transcriptOf(page)).length;
  await waitForLine(page, /state 1$/, 15000, beforeQuit);
  await page.keyboard.press('Escape');
  await page.waitForFunction(() => window.vesquinPage.ended, null, { timeout: 10000 });
  const quit = (await transcriptOf(page)).slice(beforeQuit).map((l) => l.replace(/^\d+ /, ''));
  check(quit.includes('play game\\exit_game.vgz pan=0 vol=0') && quit[quit.length - 1] === 'close',
        `Escape in the menu gave ${quit}`);
  check(await page.isHidden('#game'), 'the game area stays after the game ended');

  console.log(JSON.stringify({ lines: played.length, maxDeviationMs: deviation, stallMs: stalls, similarity: Number(similarity.toFixed(4)),
                               levelDb: Number(levelDb.toFixed(3)),
                               earsDb: [Number(webEars.toFixed(2)), Number(simEars.toFixed(2))] }));
} catch (e) {
  problems.push(`browser error: ${e.message}`);
} finally {
  await browser.close();
}
for (const p of problems) console.error(p);
process.exit(problems.length ? 1 : 0);
