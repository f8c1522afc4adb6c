// Plays the browser build in one browser (headless firefox-esr or chromium) against vesquin-sim's
// answers, served by a private vesquin-scored.
// Usage: node check_game.mjs BROWSER URL EXPECTED_DIR
// EXPECTED_DIR holds what vesquin-sim gave: win.vsim, win.txt (its transcript), best.dat
// (after that game), intro.wav (the first seconds of the mixed output) and speakers.wav (the
// speaker test's first clip from 600 ms). With SERVER_PID set, that server is stopped at the
// end and the page started again without it, from what its service worker kept.
// Exit 0 when every check passes; each failed check is printed.
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join } from 'node:path';
import { launch, offlineReady, sleep, textOf, waitForStart } from './browsers.mjs';
import { compareTranscripts, parseScript, parseTranscript, playScript } from './replay.mjs';

const require = createRequire(import.meta.url);
const axeSource = readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const [browserName, url, expectedDir] = process.argv.slice(2);
if (!browserName || !url || !expectedDir) {
  console.error('usage: node check_game.mjs BROWSER URL EXPECTED_DIR');
  process.exit(2);
}
setTimeout(() => { console.error(`${browserName}: browser check timed out`); process.exit(3); }, 200000).unref();

const problems = [];
const check = (ok, what) => { if (!ok) problems.push(what); };

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

// The sound server of the firefox checks is a private PulseAudio (firefox plays nothing
// without one); chromium's headless output needs none.
const browser = await launch(browserName);

async function openPage(page) {
  const response = await page.goto(url, { waitUntil: 'load' });
  check(response && response.status() === 200, `page status ${response && response.status()}`);
  await waitForStart(page);
}

async function axe(page, when) {
  // The driver's evaluation is not subject to the page's CSP, so axe runs against the page as served.
  await page.evaluate(axeSource);
  const result = await page.evaluate(() => window.axe.run(document));
  for (const v of result.violations) {
    problems.push(`axe ${when}: ${v.id} (${v.impact}): ${v.help} at ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
  }
}

const transcriptOf = (page) => page.evaluate(() => window.vesquinPage.transcript.slice());

// Waits for a line that matches, after the first `from` lines.
async function waitForLine(page, pattern, timeout, from = 0) {
  await page.waitForFunction((p, f) => window.vesquinPage.transcript.slice(f).some((l) => new RegExp(p).test(l)),
                             { timeout }, pattern.source, from);
}

// Every text written into the live regions, in order, from now on.
async function recordLiveRegions(page) {
  await page.evaluate(() => {
    window.liveWrites = { status: [], 'details-status': [] };
    for (const id of Object.keys(window.liveWrites)) {
      new MutationObserver(() => window.liveWrites[id].push(document.getElementById(id).textContent))
        .observe(document.getElementById(id), { childList: true, characterData: true, subtree: true });
    }
  });
}
const liveWrites = (page, id) => page.evaluate((i) => window.liveWrites[i].slice(), id);

// Chooses the menu's send item and answers Y; gives the lines from then until the menu is back.
async function sendScore(page) {
  for (let i = 0; i < 10; ++i) {
    const lines = await transcriptOf(page);
    if (/play menu\\send_score\.vgz/.test(lines[lines.length - 1])) break;
    await page.keyboard.press('ArrowDown');
    await sleep(150);
  }
  await page.keyboard.press('Enter');
  await waitForLine(page, /play game\\check_connected\.vgz/, 5000);
  const beforeSending = (await transcriptOf(page)).length;
  await page.keyboard.press('y');
  await waitForLine(page, /state 1$/, 20000, beforeSending);
  return (await transcriptOf(page)).slice(beforeSending).map((l) => l.replace(/^\d+ /, ''));
}

async function typeDetails(page, values) {
  for (const [id, value] of Object.entries(values)) await page.$eval(`#${id}`, (e, v) => { e.value = v; }, value);
  const before = await liveWrites(page, 'details-status');
  await page.click('#save-details');
  await page.waitForFunction((n) => window.liveWrites['details-status'].filter((t) => t).length > n,
                             { timeout: 5000 }, before.filter((t) => t).length);
  return (await liveWrites(page, 'details-status')).slice(before.length).filter((t) => t).pop();
}


try {
  const page = await browser.newPage();
  const pageErrors = [];
  page.on('pageerror', (e) => pageErrors.push(e.message));
  page.on('console', (m) => { if (m.type() === 'error') pageErrors.push(m.text()); });
  await openPage(page);
  // CHECK_CPU_SLOWDOWN=N runs the page's thread N times slower, as on a very busy machine (chromium).
  if (process.env.CHECK_CPU_SLOWDOWN) await page.emulateCPUThrottling(Number(process.env.CHECK_CPU_SLOWDOWN));
  await axe(page, 'before Start');
  check(await page.$eval('#game', (e) => e.textContent.trim() === ''),
        'the application region holds text, which a screen reader cannot browse there');
  // Chromium can install the page as an app: its manifest, icons and service worker.
  if (browserName === 'chromium') {
    await offlineReady(page);
    const devtools = await page.createCDPSession();
    const { installabilityErrors } = await devtools.send('Page.getInstallabilityErrors');
    check(installabilityErrors.length === 0,
          `chromium cannot install the page: ${installabilityErrors.map((e) => e.errorId).join(', ')}`);
  }

  // The details form keeps the rules of vesquin-details, then writes config.dat.
  await recordLiveRegions(page);
  const refused = await typeDetails(page, { 'first-name': 'Ada`', 'last-name': 'Lovelace', address: 'London',
                                           country: 'England' });
  check(/not saved/.test(refused), `a grave accent was taken: "${refused}"`);
  check(/grave accent/.test(await textOf(page, '#first-name-problem')), 'no note on the first name');
  const saved = await typeDetails(page, { 'first-name': 'Ada' });
  check(/saved/.test(saved) && !/not/.test(saved), `details not saved: "${saved}"`);
  // The same message again is written after a blank, so that a screen reader says it again.
  await typeDetails(page, {});
  const detailWrites = await liveWrites(page, 'details-status');
  check(detailWrites.slice(-3).join('|') === `${saved}||${saved}`, `saved twice, the details status had ${detailWrites}`);
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
    await page.waitForFunction(() => window.vesquinPage.firstSoundAt > window.vesquinPage.startClickedAt,
                               { timeout: 5000 });
  } catch {
    problems.push(`no first sound after Start: ${await page.evaluate(() => window.vesquinPage.firstSoundAt)}`);
  }
  const focused = await page.evaluate(() => document.activeElement && document.activeElement.getAttribute('role'));
  check(focused === 'application', `focus is on ${focused} after Start`);
  // Messages that came at once are each written, in order, none lost.
  await page.waitForFunction(() => window.liveWrites.status.includes('Vesquin is running.'), { timeout: 5000 })
    .catch(() => {});
  const statusWrites = await liveWrites(page, 'status');
  check(statusWrites.join('|') === 'Starting the sound.|Vesquin is running.', `the status line had ${statusWrites}`);

  // The whole won game of the example script, key by key at its times.
  const script = parseScript(readFileSync(join(expectedDir, 'win.vsim'), 'utf8'));
  const expected = parseTranscript(readFileSync(join(expectedDir, 'win.txt'), 'utf8'));
  const run = await playScript(page, script, null, expected);
  const { problems: differences, deviation, stalls } = compareTranscripts(run, expected, script.keyTimes);
  problems.push(...differences);
  // axe holds the page's thread for a while: run during the game, it would merge ticks.
  await axe(page, 'while playing');
  const played = run.played;

  // The sound that came out is the game's: not silent, and the mixer's for the same events.
  const capture = await page.evaluate(async () => {
    const m = await window.vesquinPage.takeCapture();
    return { peak: m.capture.reduce((p, v) => (Math.abs(v) > p ? Math.abs(v) : p), 0) };
  });
  check(capture.peak > 0.05, `the output was silent (peak ${capture.peak})`);

  // The score of that game goes to the local score table, which answers place 1.
  const sent = await sendScore(page);
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
  check(await page.$eval('#first-name', (e) => e.value) === 'Ada', 'the details form forgot the first name');

  // The intro through the worklet against vesquin-sim's mixed output of it.
  await page.evaluate(() => { window.vesquinPage.captureOnStart = 48000 * 3; });
  await page.click('#start');
  // The page's thread held for 400 ms into the intro: the sound, rendered on the audio
  // thread, goes on all the same.
  await sleep(1000);
  await page.evaluate(() => {
    const until = performance.now() + 400;
    while (performance.now() < until);
  });
  await sleep(2100);
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
  await sleep(200);
  await page.keyboard.press('ArrowDown');
  await sleep(200);
  await page.keyboard.press('ArrowDown');
  await waitForLine(page, /play menu\\test_speakers\.vgz/, 3000);
  await page.evaluate(() => window.vesquinPage.capture(48000 * 2));
  await page.keyboard.press('Enter');
  await sleep(1400);
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
  await page.waitForFunction(() => window.vesquinPage.ended, { timeout: 10000 });
  const quit = (await transcriptOf(page)).slice(beforeQuit).map((l) => l.replace(/^\d+ /, ''));
  check(quit.includes('play game\\exit_game.vgz pan=0 vol=0') && quit[quit.length - 1] === 'close',
        `Escape in the menu gave ${quit}`);
  check(await page.$eval('#game', (e) => e.hidden), 'the game area stays after the game ended');

  // Started again with the server stopped: the service worker serves the page, its module
  // and its clips, isolated as before.
  if (process.env.SERVER_PID) {
    await offlineReady(page);
    process.kill(Number(process.env.SERVER_PID));
    await sleep(200);
    await page.close();
    const offline = await browser.newPage();
    await offline.bringToFront();
    await openPage(offline);
    check(await offline.evaluate(() => window.crossOriginIsolated), 'the page from the cache is not isolated');
    await offline.click('#start');
    await waitForLine(offline, /play game\\game_intro\.vgz/, 10000);
    await offline.keyboard.press('Control');
    await waitForLine(offline, /state 1$/, 5000);
    // The score table is the network's alone: its requests find no connection, which the game
    // answers as it does on any machine without one.
    const reached = await offline.evaluate(() => fetch('../top1.php?score=1').then(() => true, () => false));
    check(!reached, 'with the server stopped, a score request was answered');
  }

  console.log(`${browserName}: ` + JSON.stringify({ lines: played.length, maxDeviationMs: deviation, stallMs: stalls, similarity: Number(similarity.toFixed(4)),
                               levelDb: Number(levelDb.toFixed(3)),
                               earsDb: [Number(webEars.toFixed(2)), Number(simEars.toFixed(2))] }));
} catch (e) {
  problems.push(`browser error: ${e.message}`);
} finally {
  await browser.close();
}
for (const p of problems) console.error(`${browserName}: ${p}`);
process.exit(problems.length ? 1 : 0);
