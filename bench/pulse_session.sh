#!/usr/bin/env bash
# The game through a real sound server, as a player on a Debian desktop hears it: a private
# PulseAudio server (its own runtime folder, a null sink at 48 kHz), the game's output
# captured from the sink's monitor with parec, and dropouts counted against vesquin-sim's
# mix of the same script; ROUNDS times (default 3) on an idle machine and as often with two
# busy processes, with the median and the worst of each. Then the latency benchmark through
# the same server.
#
#   bench/pulse_session.sh BIN_DIR [SECONDS]
#
# The server runs as a desktop's does: a daemon in a session of its own (so that the
# scheduler weighs it apart from the programs started here), real-time sink thread, default
# fragments, nice -11 main thread.
#
# BIN_DIR holds vesquin-bench-latency, vesquin-sim and the data folder. Needs pulseaudio,
# pulseaudio-utils and xvfb-run. Only processes this script started are stopped.
set -euo pipefail
bin=$(cd "$1" && pwd)
seconds=${2:-60}
rounds=${ROUNDS:-3}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=()
autogroup_nice=$(sed -n 's/.* nice //p' /proc/self/autogroup 2>/dev/null || true)
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "${AUTOGROUP_NICE:-}" ] && [ -n "$autogroup_nice" ]; then echo "$autogroup_nice" > /proc/self/autogroup || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cat > "$work/server.pa" <<PA
load-module module-native-protocol-unix socket=$work/native auth-anonymous=1
load-module module-null-sink sink_name=capture rate=48000 channels=2
set-default-sink capture
PA
XDG_RUNTIME_DIR=$work HOME=$work setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  --disallow-exit --disable-shm=no -F "$work/server.pa" --log-target=file:"$work/server.log" &
pids+=($!)
export PULSE_SERVER=unix:$work/native
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null
# On a machine shared with other people's sessions, AUTOGROUP_NICE (e.g. -15, as root) weighs
# this session and the server's against theirs, as nice does between processes.
if [ -n "${AUTOGROUP_NICE:-}" ]; then
  echo "$AUTOGROUP_NICE" > /proc/self/autogroup
  echo "$AUTOGROUP_NICE" > "/proc/${pids[0]}/autogroup"
fi

# The game's own mix of what the session plays: the intro, Ctrl at 12 s, then the menu.
printf 'wait 12000\nkey Ctrl\nwait %d\n' $((seconds * 1000 - 12000)) |
  "$bin/vesquin-sim" --data "$bin" --wav "$work/reference.wav" >/dev/null

session() {  # $1: label, $2: round
  parec --device=capture.monitor --format=s16le --rate=48000 --channels=2 --raw --latency-msec=50 \
    > "$work/capture.raw" &
  local rec=$!
  rm -f "$work/stop"
  python3 "$here/server_waits.py" "${pids[0]}" "$work/stop" > "$work/waits.txt" &
  local watch=$!
  sleep 0.5
  xvfb-run -a "$bin/vesquin-bench-latency" --child-session "$seconds" > "$work/session.txt" 2>&1 || {
    cat "$work/session.txt" >&2
    return 1
  }
  sleep 0.5
  kill "$rec"
  wait "$rec" 2>/dev/null || true
  touch "$work/stop"
  wait "$watch" || true
  echo "# session $1 $2: $seconds s of the intro and the menu through PulseAudio (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  { python3 "$here/count_dropouts.py" "$work/capture.raw" "$work/reference.wav"
    grep -E '^(callback|server|stream)' "$work/session.txt"
    cat "$work/waits.txt"; } | sed "s/^\([a-z_0-9]*\):/\1_$1_round$2:/" | tee -a "$work/figures.txt"
}

# A figure's median over the rounds of a label (under the label's own name) and its worst.
summary() {  # $1: figure, $2: label
  grep "^$1_$2_round[0-9]*:" "$work/figures.txt" | sort -g -k2 | awk -v name="$1_$2" '
    { v[NR] = $2; unit = $3 }
    END {
      if (NR == 0) exit
      median = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      printf "%s: %g %s\n%s_worst: %g %s\n", name, median, unit, name, v[NR], unit
    }'
}

for round in $(seq "$rounds"); do session idle "$round"; done
busy=()
for _ in 1 2; do
  sh -c 'while :; do :; done' &
  busy+=($!)
  pids+=($!)
done
for round in $(seq "$rounds"); do session loaded "$round"; done
kill "${busy[@]}"
for label in idle loaded; do
  for figure in dropouts dropout_ms server_underruns callback_longest stream_target_longest \
    server_main_thread_longest_wait; do
    summary "$figure" "$label"
  done
done

# A sound card plays its buffer out in short periods and takes a new stream at the next one;
# an idle null sink instead sleeps through a block of up to 2 s before it looks at one. A
# listener on the monitor holds the sink to 10 ms blocks, as a card's period would.
parec --device=capture.monitor --format=s16le --rate=48000 --channels=2 --raw --latency-msec=10 > /dev/null &
pids+=($!)
xvfb-run -a "$bin/vesquin-bench-latency"
