#!/usr/bin/env bash
# The browser build's checks in headless chromium: a whole game by keys against vesquin-sim,
# persistence across a reload, a score sent to a private vesquin-scored, axe-core; and the
# page served without cross-origin isolation, which must say why it cannot start.
# Usage: web/tests/run.sh NATIVE_BUILD WEB_SITE
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
native="$(cd "$1" && pwd)"
site="$(cd "$2" && pwd)"
work="$(mktemp -d)"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
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

source "$here/serve.sh"

node "$here/check_game.mjs" "http://127.0.0.1:$port/vesquin/play/?test" "$work/expected"
node "$here/check_unisolated.mjs" "$site"
