// Plays a script of vesquin-sim's commands on the page by keys, at its times, and compares the
// page's transcript with vesquin-sim's.

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
// A request to the score table takes no time in the simulator; in the page it takes the
// network's, which the lines after it may come that much later for.
const kRequestToleranceMs = 2000;

export function parseTranscript(text) {
  return text.split('\n').filter((l) => l && !/^\d+ show /.test(l)).map((l) => {
    const space = l.indexOf(' ');
    return { t: Number(l.slice(0, space)), event: l.slice(space + 1) };
  });
}

// The script as steps for the page: keys at their script times, forced random values and
// the score table's replies in their order among them. Throws on a command keys cannot play.
export function parseScript(text) {
  let time = 0;
  const steps = [];
  const keyTimes = [];
  for (const raw of text.split('\n')) {
    const line = raw.trim();
    if (!line || line.startsWith('#')) continue;
    const [command, ...args] = line.split(/\s+/);
    if (command === 'wait') {
      time += Number(args[0]);
    } else if (command === 'rand') {
      steps.push({ rand: args.map(Number) });
    } else if (command === 'reply') {
      steps.push({ reply: line.slice(line.indexOf('reply') + 6) });
    } else if (command === 'key' || command === 'keyup') {
      const key = kKeys[args[0].toLowerCase()];
      if (!key) throw new Error(`no key for "${args[0]}"`);
      keyTimes.push(time);
      steps.push({ time, type: command === 'key' ? 'keydown' : 'keyup', key });
    } else if (command !== 'show') {
      throw new Error(`the script's "${command}" cannot be played by keys`);
    }
  }
  return { steps, keyTimes, duration: time };
}

// Plays the steps on a page whose game has started, counted from a tick soon after now (the
// page's start-up took time, the simulator's none), until the script's end or the time of
// `expected`'s last line (the simulator's transcript), which a blocking wait may put after
// it; and, for the time requests may take, until as many lines have come. Returns
// { shift, startupLines, played }. `replyUrl`: where a reply step is posted for the server
// that answers the score requests.
export async function playScript(page, script, replyUrl, expected) {
  const startup = await page.evaluate(() => window.vesquinPage.transcript.length);
  const shift = await page.evaluate(() => {
    const now = performance.now() - window.vesquinPage.origin();
    return Math.ceil(now / 50) * 50 + 50;
  });
  const origin = await page.evaluate(() => window.vesquinPage.origin()) + shift;
  // The page itself sends the keys to the game area at their times: a round trip through the
  // test driver for every key would come late on a busy machine. As in the simulator, the
  // ticks due by a key's time come first: on a page thread held up, the key waits for them.
  await page.evaluate((steps, start, replies, delay) => new Promise((resolve, reject) => {
    const area = document.getElementById('game');
    let next = 0;
    const run = async () => {
      while (next < steps.length) {
        const step = steps[next];
        if (step.rand) {
          window.vesquinPage.forceRandom(step.rand);
        } else if (step.reply !== undefined) {
          await fetch(replies, { method: 'POST', body: step.reply });
        } else if (performance.now() >= start + step.time + delay &&
                   !(window.vesquinPage.nextTick() > 0 && window.vesquinPage.nextTick() <= start + step.time)) {
          const [key, code] = step.key;
          area.dispatchEvent(new KeyboardEvent(step.type, { key, code, bubbles: true, cancelable: true }));
          if (step.type === 'keydown') area.dispatchEvent(new KeyboardEvent('keyup', { key, code, bubbles: true }));
        } else {
          setTimeout(() => run().catch(reject), Math.max(0, Math.min(4, start + step.time + delay - performance.now())));
          return;
        }
        ++next;
      }
      resolve();
    };
    run().catch(reject);
  }), script.steps, origin, replyUrl, kKeyDelayMs);
  const end = origin + Math.max(script.duration, expected.at(-1).t) + 200;
  await page.waitForFunction((t, lines, late) => performance.now() >= t &&
                             (window.vesquinPage.transcript.filter((l) => !/^\d+ show /.test(l)).length >= lines ||
                              performance.now() >= t + late),
                             { timeout: end - origin + 60000 }, end, expected.length, kRequestToleranceMs);
  const played = parseTranscript((await page.evaluate(() => window.vesquinPage.transcript)).join('\n'));
  return { shift, startupLines: startup, played };
}

// Problems where the page's transcript differs from vesquin-sim's, and how far its lines came
// from their times. The lines of the start-up come at once in the simulator. Lines the
// simulator gives at the same time come in the page after whatever work the game does between
// them (writing best.dat and loading a clip, say): the page's clock runs on meanwhile, and if
// the timer's ticks that fell due are merged, the lines after come that much later. That
// stall, itself held to the tolerance, is allowed to the lines after it until the next key,
// which the test sends at its own time again. So is a request's time to the lines after it.
export function compareTranscripts({ played: web, shift, startupLines }, sim, keyTimes) {
  const problems = [];
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
      break;
    }
    if (i > startupLines && keyTimes.some((k) => k > sim[i - 1].t && k <= s.t)) stalled = 0;
    if (i > startupLines && sim[i - 1].event.startsWith('get ')) {
      const request = (w.t - s.t) - (web[i - 1].t - shift - sim[i - 1].t);
      if (request > kRequestToleranceMs) {
        problems.push(`line ${i + 1} "${s.event}" came ${request} ms late after a request`);
        break;
      }
      if (request > 0) stalled += request;
    }
    if (i > startupLines && s.t === sim[i - 1].t) {
      const stall = w.t - (web[i - 1].t - shift);
      if (stall > kToleranceMs) {
        problems.push(`line ${i + 1} "${s.event}" came ${stall} ms after line ${i}, at once in vesquin-sim`);
        break;
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
      break;
    }
    deviation = Math.max(deviation, off);
  }
  return { problems, deviation, stalls };
}
