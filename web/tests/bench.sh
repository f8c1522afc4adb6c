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
  XDG_RUNTIME_DIR="$work/pulse" HOME="$work/pulse" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
    -L "module-null-sink sink_name=vesquin" \
    -L "module-native-protocol-unix socket=$work/pulse/socket auth-anonymous=1" > "$work/pulse.log" 2>&1 &
  pulse_pid=$!
  for _ in $(seq 100); do [ -S "$work/pulse/socket" ] && break; sleep 0.05; done
  export PULSE_SERVER="unix:$work/pulse/socket" PULSE_MONITOR=vesquin.monitor
  echo "(sound through a private PulseAudio null sink)" >&2
fi
node "$here/bench_game.mjs" "http://127.0.0.1:$port/vesquin/play/"
