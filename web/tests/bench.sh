#!/usr/bin/env bash
# Figures of the browser build in headless chromium and firefox-esr (BROWSERS to choose), each
# with its sound through a private PulseAudio server of its own (a null sink at 48 kHz, as a
# player's sound server), served with the isolation headers by a static server of the test,
# beside the trivial click page that measures the browser's own key to sound.
# Usage: web/tests/bench.sh WEB_SITE
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
site="$(cd "$1" && pwd)"
browsers="${BROWSERS:-chromium firefox}"
work="$(mktemp -d)"
pulse_pid=""
listener_pid=""
server_pid=""
stop() {
  for pid in $listener_pid $server_pid $pulse_pid; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  listener_pid="" server_pid="" pulse_pid=""
}
cleanup() {
  stop
  rm -rf "$work"
}
trap cleanup EXIT

node --input-type=module -e "
  import { serveSite } from '$here/browsers.mjs';
  const server = await serveSite('$site', { isolated: true, more: { '/bench/': '$here/click' } });
  console.log(server.port);
" > "$work/port" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port="$(cat "$work/port")"
server="$server_pid"

echo "# browser figures with sound through a private PulseAudio null sink (load average $(cut -d' ' -f1-3 /proc/loadavg))"
for browser in $browsers; do
  source "$here/pulse.sh"
  export PULSE_SERVER PULSE_MONITOR=vesquin.monitor
  node "$here/bench_game.mjs" "$browser" "http://127.0.0.1:$port/vesquin/play/" "http://127.0.0.1:$port/bench/"
  # What the browser's stream asked of the sound server, and how the server split it.
  sed -n 's/.*Requested tlength=\([0-9.]*\) ms, minreq=\([0-9.]*\) ms.*/\1 \2/p' "$work/pulse.log" | tail -n 1 |
    while read -r tlength minreq; do
      echo "$browser sound server stream target latency: $tlength ms"
      echo "$browser sound server stream request size: $minreq ms"
    done
  kill "$listener_pid" "$pulse_pid" 2>/dev/null || true
  wait "$listener_pid" "$pulse_pid" 2>/dev/null || true
  listener_pid="" pulse_pid=""
  rm -rf "$work/pulse"
done
server_pid="$server"
