#!/usr/bin/env bash
# The browser build's checks in headless firefox-esr and chromium: a whole game by keys against
# vesquin-sim, persistence across a reload, a score sent to a private vesquin-scored, the
# intro's sound against the mixer's, axe-core, and the page started again with the server
# stopped; the committed games of tests/games replayed by keys; and the page on a plain static
# server without isolation headers. BROWSERS (default "chromium firefox") chooses.
# Usage: web/tests/run.sh NATIVE_BUILD WEB_SITE
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
native="$(cd "$1" && pwd)"
site="$(cd "$2" && pwd)"
browsers="${BROWSERS:-chromium firefox}"
work="$(mktemp -d)"
server_pid=""
pulse_pid=""
listener_pid=""
cleanup() {
  for pid in $server_pid $listener_pid $pulse_pid; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# What vesquin-sim gives for the same game, from a fresh game folder.
mkdir -p "$work/game" "$work/expected"
cp -r "$root/data/." "$work/game/"
cp "$root/examples/win.vsim" "$work/expected/"
"$native/bin/vesquin-sim" --data "$work/game" "$work/expected/win.vsim" > "$work/expected/win.txt"
cp "$work/game/best.dat" "$work/expected/best.dat"
cp "$root/data/best.dat" "$work/game/best.dat"
printf 'wait 3000\n' | "$native/bin/vesquin-sim" --data "$work/game" --wav "$work/expected/intro.wav" > /dev/null
# The speaker test from the menu: Enter at 600 ms starts the clip placed ahead and a little left.
printf 'key Ctrl\nwait 200\nkey Down\nwait 200\nkey Down\nwait 200\nkey Enter\nwait 1800\n' |
  "$native/bin/vesquin-sim" --data "$work/game" --wav "$work/expected/speakers.wav" > /dev/null

# Firefox plays nothing without a sound server: a private PulseAudio with a null sink. Chromium
# keeps its headless output of its own.
source "$here/pulse.sh"
export PULSE_SERVER

status=0
for browser in $browsers; do
  source "$here/serve.sh"
  SERVER_PID=$server_pid node "$here/check_game.mjs" "$browser" "http://127.0.0.1:$port/vesquin/play/?test" \
    "$work/expected" || status=1
  # The check stops the server itself for its last part; a check that failed before may not have.
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
done
node "$here/check_games.mjs" "$root/tests/games" "$site" $browsers || status=1
node "$here/check_static_host.mjs" "$site" $browsers || status=1
exit $status
