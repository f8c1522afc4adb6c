#!/usr/bin/env bash
# Figures of the browser build in headless chromium, served by a private vesquin-scored.
# Usage: web/tests/bench.sh NATIVE_BUILD WEB_SITE
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
native="$(cd "$1" && pwd)"
site="$(cd "$2" && pwd)"
work="$(mktemp -d)"
server_pid=""
pulse_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  if [ -n "$pulse_pid" ]; then kill "$pulse_pid" 2>/dev/null || true; wait "$pulse_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
source "$here/serve.sh"

# The sound goes through a private PulseAudio with a null sink, as a player's would go through
# theirs, and its monitor tells whether each start was heard; without PulseAudio, chromium's
# own headless output is measured.
if command -v pulseaudio > /dev/null; then
  mkdir -p "$work/pulse"
  XDG_RUNTIME_DIR="$work/pulse" HOME="$work/pulse" pulseaudio -n --log-level=info --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
    -L "module-null-sink sink_name=vesquin" \
    -L "module-native-protocol-unix socket=$work/pulse/socket auth-anonymous=1" > "$work/pulse.log" 2>&1 &
  pulse_pid=$!
  for _ in $(seq 100); do [ -S "$work/pulse/socket" ] && break; sleep 0.05; done
  export PULSE_SERVER="unix:$work/pulse/socket" PULSE_MONITOR=vesquin.monitor
  echo "(sound through a private PulseAudio null sink)" >&2
fi
node "$here/bench_game.mjs" "http://127.0.0.1:$port/vesquin/play/"
# What chromium's stream asked of the sound server, and how the server split it: the
# target fill of the stream (tlength), the size of each request for more, and the part
# spent in the sink.
if [ -n "$pulse_pid" ]; then
  prefix="web"
  [ -n "${BENCH_CONTEXT:-}" ] && prefix="web (comparison)"
  sed -n 's/.*Requested tlength=\([0-9.]*\) ms, minreq=\([0-9.]*\) ms.*/\1 \2/p' "$work/pulse.log" | tail -n 1 |
    while read -r tlength minreq; do
      echo "$prefix sound server stream target latency: $tlength ms"
      echo "$prefix sound server stream request size: $minreq ms"
    done
  # The playback stream's split (the monitor's record streams log their own): its queue,
  # then the sink's part.
  sed -n 's/.*Final latency [0-9.]* ms = \([0-9.]*\) ms + 2\*\([0-9.]*\) ms + \([0-9.]*\) ms.*/\1 \2 \3/p' "$work/pulse.log" |
    tail -n 1 | while read -r queue request sink; do
      echo "$prefix sound server stream queue: $(awk "BEGIN { printf \"%.2f\", $queue + 2 * $request }") ms"
      echo "$prefix sound server sink latency: $sink ms"
    done
  # Chromium streams at this rate whatever the page's: any other rate it converts itself.
  rate="$(pactl list short sinks 2> /dev/null | grep -o '[0-9]*Hz' | head -n 1 || true)"
  if [ -n "$rate" ]; then echo "$prefix sound server sink sample rate: ${rate%Hz} Hz"; fi
fi
