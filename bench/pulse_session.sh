#!/usr/bin/env bash
# The game through a real sound server, as a player on a Linux desktop hears it: its libpulse
# stream played by a private PulseAudio server, or (SERVER=pipewire) by a private PipeWire with
# pipewire-pulse, as Debian 12's GNOME, Ubuntu and Fedora run it; a null sink at 48 kHz, the
# game's output captured from the sink's monitor (parec; pw-record through PipeWire), and
# dropouts counted against vesquin-sim's mix of the same script; ROUNDS times (default 3) on an idle machine and as
# often with two busy processes, with the median and the worst of each. Through PipeWire, also
# the quanta the stream asked for and the graph ran at, and ROUNDS more loaded sessions with a
# screen reader's speech beside the game (its own stream of 1024/48000). Then the latency
# benchmark through the same server.
#
#   bench/pulse_session.sh BIN_DIR [SECONDS]
#   SERVER=pipewire bench/pulse_session.sh BIN_DIR [SECONDS]
#
# The servers run as a desktop's do: daemons in sessions of their own (so that the scheduler
# weighs them apart from the programs started here), real-time sink or data threads, main
# threads at nice -11. PulseAudio has its default fragments; PipeWire is set up as
# pipewire_server.sh says (REALTIME=0 leaves its data threads normal threads).
#
# BIN_DIR holds vesquin-bench-latency, vesquin-sim and the data folder. Needs pulseaudio,
# pulseaudio-utils, xvfb-run, and for PipeWire pipewire, pipewire-pulse, pipewire-bin,
# wireplumber and dbus-daemon. Only processes this script started are stopped.
set -euo pipefail
bin=$(cd "$1" && pwd)
seconds=${2:-60}
rounds=${ROUNDS:-3}
server=${SERVER:-pulseaudio}
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

start_pulseaudio() {
  cat > "$work/server.pa" <<PA
load-module module-native-protocol-unix socket=$work/native auth-anonymous=1
load-module module-null-sink sink_name=capture rate=48000 channels=2
set-default-sink capture
PA
  XDG_RUNTIME_DIR=$work HOME=$work setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --disallow-exit --disable-shm=no -F "$work/server.pa" --log-target=file:"$work/server.log" &
  pids+=($!)
  server_pid=$!
  export PULSE_SERVER=unix:$work/native
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl info >/dev/null
}

start_pipewire() {
  source "$here/pipewire_server.sh"
  pipewire_start "$work/pipewire" speech
  server_pid=$pulse_pid
  local pid tid
  for pid in "$pipewire_pid" "$pulse_pid"; do
    for tid in $(ls /proc/"$pid"/task); do
      [ "$tid" = "$pid" ] || echo "# $(cat /proc/"$pid"/comm)'s data thread: $(chrt -p "$tid" | sed -n 's/.*: //p' | xargs)"
    done
  done
}

case $server in
  pulseaudio) start_pulseaudio; label_prefix= ;;
  pipewire) start_pipewire; label_prefix=pipewire_ ;;
  *) echo "SERVER must be pulseaudio or pipewire, not $server" >&2; exit 2 ;;
esac
# On a machine shared with other people's sessions, AUTOGROUP_NICE (e.g. -15, as root) weighs
# this session and the server's against theirs, as nice does between processes.
if [ -n "${AUTOGROUP_NICE:-}" ]; then
  echo "$AUTOGROUP_NICE" > /proc/self/autogroup
  echo "$AUTOGROUP_NICE" > "/proc/$server_pid/autogroup"
fi

# The game's own mix of what the session plays: the intro, Ctrl at 12 s, then the menu.
printf 'wait 12000\nkey Ctrl\nwait %d\n' $((seconds * 1000 - 12000)) |
  "$bin/vesquin-sim" --data "$bin" --wav "$work/reference.wav" >/dev/null

# A screen reader's speech: a voice-like sound without pauses (so that any silence in its
# capture is a dropout), played by pacat as a stream of node.latency 1024/48000, on a sink of
# its own that the capture sink drives.
[ "$server" = pulseaudio ] || python3 "$here/speech_like.py" "$work/speech.raw"

# What the sink $1 plays, into the file $2, in the background. Through PipeWire pw-record takes
# it from the graph itself: parec, a client of pipewire-pulse like the game, caught more gaps on
# a busy machine than pw-record beside it. pw-record runs real-time where allowed: a graph
# client that misses its cycle loses that block, and a recorder starved by the busy processes
# beside it counted gaps the sink never played.
recorder_realtime=
chrt -f 60 true 2> /dev/null && recorder_realtime="chrt -f 60"
record() {
  if [ "$server" = pipewire ]; then
    $recorder_realtime pw-record --target "$1" -P stream.capture.sink=true --format s16 --rate 48000 --channels 2 \
      "$2" 2> /dev/null &
  else
    parec --device="$1.monitor" --format=s16le --rate=48000 --channels=2 --raw --latency-msec=50 > "$2" &
  fi
}

session() {  # $1: label, $2: round, $3: "speech" for the speech beside the game
  record capture "$work/capture"
  local rec=$! watchers=()
  rm -f "$work/stop"
  python3 "$here/server_waits.py" "$server_pid" "$work/stop" > "$work/waits.txt" &
  local watch=$!
  if [ "$server" = pipewire ]; then
    rm -rf "$work/profile"
    mkdir "$work/profile"
    (cd "$work/profile" && exec pw-profiler) > /dev/null 2>&1 &
    watchers+=($!)
    pw-dump --monitor --no-colors > "$work/dump.json" 2>/dev/null &
    watchers+=($!)
  fi
  if [ "${3:-}" = speech ]; then
    record speech "$work/speech-capture"
    watchers+=($!)
    python3 "$here/speech_like.py" --play "$work/speech.raw" 2> /dev/null |
      pacat --client-name=Speech --stream-name=Speech --device=speech --format=s16le --rate=48000 --channels=2 \
        --raw --latency=$((2560 * 4)) --process-time=$((256 * 4)) -v 2> "$work/speech.log" &
    watchers+=($!)
  fi
  sleep 0.5
  xvfb-run -a "$bin/vesquin-bench-latency" --child-session "$seconds" > "$work/session.txt" 2>&1 || {
    cat "$work/session.txt" >&2
    return 1
  }
  sleep 0.5
  kill -INT "$rec"
  wait "$rec" 2>/dev/null || true
  if [ ${#watchers[@]} -gt 0 ]; then
    kill -INT "${watchers[@]}" 2>/dev/null || true
    wait "${watchers[@]}" 2>/dev/null || true
  fi
  touch "$work/stop"
  wait "$watch" || true
  echo "# session $1 $2: $seconds s of the intro and the menu through $server${3:+ with speech beside}" \
    "(load average $(cut -d' ' -f1-3 /proc/loadavg))"
  { python3 "$here/count_dropouts.py" "$work/capture" "$work/reference.wav"
    grep -E '^(callback|server|stream)' "$work/session.txt"
    cat "$work/waits.txt"
    if [ "$server" = pipewire ]; then python3 "$here/pipewire_graph.py" "$work/dump.json" "$work/profile"; fi
    if [ "${3:-}" = speech ]; then
      echo "speech_underruns: $(grep -c 'Stream underrun' "$work/speech.log" || true) underruns"
      python3 "$here/count_dropouts.py" "$work/speech-capture" /dev/null | sed -n 's/^dropout/speech_dropout/p'
    fi; } | sed "s/^\([a-z_0-9]*\):/\1_$1_round$2:/" | tee -a "$work/figures.txt"
}

# A figure's median over the rounds of a label (under the label's own name) and its worst.
summary() {  # $1: figure, $2: label
  { grep "^$1_$2_round[0-9]*:" "$work/figures.txt" || true; } | sort -g -k2 | awk -v name="$1_$2" '
    { v[NR] = $2; unit = $3 }
    END {
      if (NR == 0) exit
      median = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      printf "%s: %g %s\n%s_worst: %g %s\n", name, median, unit, name, v[NR], unit
    }'
}

labels=("${label_prefix}idle" "${label_prefix}loaded")
for round in $(seq "$rounds"); do session "${labels[0]}" "$round"; done
busy=()
for _ in 1 2; do
  sh -c 'while :; do :; done' &
  busy+=($!)
  pids+=($!)
done
for round in $(seq "$rounds"); do session "${labels[1]}" "$round"; done
if [ "$server" = pipewire ]; then
  labels+=(pipewire_speech)
  for round in $(seq "$rounds"); do session pipewire_speech "$round" speech; done
fi
kill "${busy[@]}"
for label in "${labels[@]}"; do
  for figure in dropouts dropout_ms server_underruns callback_longest stream_target_longest \
    server_main_thread_longest_wait stream_quantum_asked_largest graph_quantum graph_quantum_largest \
    speech_underruns speech_dropouts; do
    summary "$figure" "$label"
  done
done

if [ "$server" = pulseaudio ]; then
  # A sound card plays its buffer out in short periods and takes a new stream at the next one;
  # an idle null sink instead sleeps through a block of up to 2 s before it looks at one. A
  # listener on the monitor holds the sink to 10 ms blocks, as a card's period would.
  parec --device=capture.monitor --format=s16le --rate=48000 --channels=2 --raw --latency-msec=10 > /dev/null &
  pids+=($!)
  xvfb-run -a "$bin/vesquin-bench-latency"
else
  # PipeWire's null sink wakes at once for a new stream and runs at the graph's quantum: no
  # listener, which would set the quantum itself.
  xvfb-run -a "$bin/vesquin-bench-latency" | sed 's/^\([a-z_0-9]*\):/\1_pipewire:/'
fi
