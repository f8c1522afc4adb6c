#!/usr/bin/env bash
# The game through a real sound server, as a player on a Debian desktop hears it: a private
# PulseAudio server (its own runtime folder, a null sink at 48 kHz), the game's output
# captured from the sink's monitor with parec, and dropouts counted against vesquin-sim's
# mix of the same script; once on an idle machine, once with two busy processes. Then the
# latency benchmark through the same server.
#
#   bench/pulse_session.sh BIN_DIR [SECONDS]
#
# BIN_DIR holds vesquin-bench-latency, vesquin-sim and the data folder. Needs pulseaudio,
# pulseaudio-utils and xvfb-run. Only processes this script started are stopped.
set -euo pipefail
bin=$(cd "$1" && pwd)
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cat > "$work/server.pa" <<PA
load-module module-native-protocol-unix socket=$work/native auth-anonymous=1
load-module module-null-sink sink_name=capture rate=48000 channels=2
set-default-sink capture
PA
XDG_RUNTIME_DIR=$work HOME=$work pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  --disallow-exit --disable-shm=no -F "$work/server.pa" --log-target=file:"$work/server.log" &
pids+=($!)
export PULSE_SERVER=unix:$work/native
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null

# The game's own mix of what the session plays: the intro, Ctrl at 12 s, then the menu.
printf 'wait 12000\nkey Ctrl\nwait %d\n' $((seconds * 1000 - 12000)) |
  "$bin/vesquin-sim" --data "$bin" --wav "$work/reference.wav" >/dev/null

session() {  # $1: label
  parec --device=capture.monitor --format=s16le --rate=48000 --channels=2 --raw --latency-msec=50 \
    > "$work/capture.raw" &
  local rec=$!
  sleep 0.5
  xvfb-run -a "$bin/vesquin-bench-latency" --child-session "$seconds" > "$work/session.txt" 2>&1 || {
    cat "$work/session.txt" >&2
    return 1
  }
  sleep 0.5
  kill "$rec"
  wait "$rec" 2>/dev/null || true
  echo "# session $1: $seconds s of the intro and the menu through PulseAudio"
  python3 "$here/count_dropouts.py" "$work/capture.raw" "$work/reference.wav" | sed "s/^\([a-z_]*\):/\1_$1:/"
  grep -E '^(callback|server)' "$work/session.txt" | sed "s/^\([a-z_0-9]*\):/\1_$1:/"
}

session idle
busy=()
for _ in 1 2; do
  sh -c 'while :; do :; done' &
  busy+=($!)
  pids+=($!)
done
session loaded
kill "${busy[@]}"

xvfb-run -a "$bin/vesquin-bench-latency"
