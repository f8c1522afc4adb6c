// Replays the committed games of GAMES_DIR on the page by keys, each in a fresh browser
// profile, and compares the page's transcript and best.dat after the game with the committed
// ones. NAME.vsim is the script, NAME.txt its transcript, NAME.best.dat the best list after
// it; NAME.best-before.dat and NAME.config.dat, where they exist, are the player's files
// before it. The score table's requests are answered with the script's `reply` lines.
// The first browser replays every game; each other one, within kOtherBrowserScriptMs of script
// time, the games that talk to the score table first, then the shortest (the whole-game
// check already plays a win in each browser).
// Usage: node check_games.mjs GAMES_DIR SITE BROWSER...
import { existsSync, readdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { launch, offlineReady, serveSite, waitForStart } from './browsers.mjs';
import { compareTranscripts, parseScript, parseTranscript, playScript } from './replay.mjs';

const kOtherBrowserScriptMs = 40000;

const [gamesDir, site, ...browserNames] = process.argv.slice(2);
if (!gamesDir || !site || browserNames.length === 0) {
  console.error('usage: node check_games.mjs GAMES_DIR SITE BROWSER...');
  process.exit(2);
}

const games = readdirSync(gamesDir).filter((f) => f.endsWith('.vsim')).sort().map((file) => {
  const name = file.slice(0, -5);
  const path = (suffix) => join(gamesDir, name + suffix);
  const optional = (suffix) => (existsSync(path(suffix)) ? Array.from(readFileSync(path(suffix))) : null);
  return { name, script: parseScript(readFileSync(path('.vsim'), 'utf8')),
           transcript: parseTranscript(readFileSync(path('.txt'), 'utf8')), best: readFileSync(path('.best.dat')),
           bestBefore: optional('.best-before.dat'), config: optional('.config.dat') };
});
const replies = (g) => (g.script.steps.some((s) => s.reply !== undefined) ? 0 : 1);
let budget = 0;
const representative = [...games].sort((a, b) => replies(a) - replies(b) || a.script.duration - b.script.duration)
  .filter((g) => (budget += g.script.duration) <= kOtherBrowserScriptMs);
const total = games.reduce((t, g) => t + g.script.duration, 0);
setTimeout(() => { console.error('game replay timed out'); process.exit(3); },
           (total + kOtherBrowserScriptMs) * 3 + 60000 * browserNames.length + 40000 * games.length * 2).unref();

// The host of the score table is the build's: the page's requests go to the page's own.
const sameHost = (lines) => lines.map((l) => ({ ...l, event: l.event.replace(/^get https?:\/\/[^/]+/, 'get ') }));

const problems = [];
const server = await serveSite(site, { isolated: true });
const url = `http://127.0.0.1:${server.port}/vesquin/play/?test`;

// Each game in a browser of its own, with a fresh profile: firefox's extra contexts at times
// never finish loading the page.
async function replay(name, game) {
  const browser = await launch(name);
  try {
    const page = await browser.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    await page.goto(url, { waitUntil: 'load' });
    await waitForStart(page);
    await page.evaluate((best, config) => {
      if (best) window.vesquinPage.storeFile('best.dat', best);
      if (config) window.vesquinPage.storeFile('config.dat', config);
      return window.vesquinPage.persisted();
    }, game.bestBefore, game.config);
    server.replies.length = 0;
    // The first visit's service worker has kept the release, as it has long before a player's
    // first game: its downloads would otherwise hold up this one.
    await offlineReady(page);
    await page.click('#start');
    await page.waitForFunction(() => window.vesquinPage.transcript.some((l) => / play game\\game_intro\.vgz/.test(l)),
                               { timeout: 10000 });
    const run = await playScript(page, game.script, '/vesquin/test/reply', game.transcript);
    run.played = sameHost(run.played);
    const found = compareTranscripts(run, sameHost(game.transcript), game.script.keyTimes).problems;
    await page.evaluate(() => window.vesquinPage.persisted());
    const best = await page.evaluate(() => window.vesquinPage.readFile('/persist/best.dat'));
    if (!best || !Buffer.from(best).equals(game.best)) found.push('best.dat after the game differs from the committed one');
    if (errors.length) found.push(`page errors: ${errors.join('; ')}`);
    return found;
  } finally {
    await browser.close();
  }
}

try {
  for (const [i, name] of browserNames.entries()) {
    const chosen = i === 0 ? games : representative;
    for (const game of chosen) {
      // A page held up long enough on a busy machine merges two ticks, which the simulator's
      // virtual clock never does: the game then runs a tick behind. Such a game is played
      // once more before it counts as failed.
      let found = await replay(name, game).catch((e) => [`browser error: ${e.message}`]);
      if (found.length) {
        console.log(`${name}: ${game.name}: played again after: ${found.join('; ')}`);
        found = await replay(name, game).catch((e) => [`browser error: ${e.message}`]);
      }
      problems.push(...found.map((p) => `${name}: ${game.name}: ${p}`));
    }
    console.log(`${name}: replayed ${chosen.map((g) => g.name).join(', ') || 'no game'} of ${games.length}`);
  }
} finally {
  await server.close();
}
for (const p of problems) console.error(p);
process.exit(problems.length ? 1 : 0);
