#!/usr/bin/env bash
# The real program under Xvfb through a private PipeWire and pipewire-pulse, as Debian 12's
# GNOME, Ubuntu and Fedora run it: the intro is heard at the sink, its stream asks for a quantum
# the graph runs as asked, and after pipewire-pulse is restarted under it while WirePlumber is
# down (the server then makes no stream ready) the game answers keys, and plays again once
# WirePlumber is back (Ctrl opens the menu, Escape there says goodbye and ends the game).
# Usage: pipewire_program_test.sh PATH/TO/vesquin   (the data folder lies beside it)
set -u

if [ "${1:-}" != --inner ]; then
  exe=${1:?usage: pipewire_program_test.sh PATH/TO/vesquin}
  for tool in pipewire pipewire-pulse wireplumber pw-record pw-dump dbus-daemon pactl xvfb-run; do
    if ! command -v "$tool" >/dev/null; then
      echo "$tool is not installed (scripts/install-deps.sh installs it): skipped"
      exit 77
    fi
  done
  exec timeout ${TEST_TIMEOUT:-80} xvfb-run -a -s "-screen 0 640x480x24" bash "$0" --inner "$exe"
fi

exe=$2
unset SDL_AUDIODRIVER
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
pids=()
game=
cleanup() {
  [ -z "$game" ] || kill "$game" 2>/dev/null
  [ -z "${wireplumber_pid:-}" ] || kill -CONT "$wireplumber_pid" 2>/dev/null
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
# Under the sanitizers: SDL's D-Bus connection leaks a buffer of libdbus at exit.
printf 'leak:libdbus-1.so\n' >"$scratch/lsan.supp"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$scratch/lsan.supp"
fail() {
  echo "FAIL: $*"
  echo "--- the program's last words:"
  tail -20 "$scratch/stderr.log"
  echo "--- pipewire-pulse's:"
  tail -20 "$scratch/pipewire/pipewire-pulse.log"
  exit 1
}

source "$here/../bench/pipewire_server.sh"
pipewire_start "$scratch/pipewire" || fail "the private PipeWire did not start"
capture=$scratch/capture.wav
pw-record --target capture -P stream.capture.sink=true --format s16 --rate 48000 --channels 2 "$capture" \
  2>"$scratch/pw-record.log" &
pids+=($!)

# Frames captured so far, and the loudest sample since frame $1.
captured() { echo $((($(stat -c %s "$capture" 2>/dev/null || echo 44) - 44) / 4)); }
loudest() {
  python3 - "$capture" "$1" <<'PY'
import array, sys
samples = array.array("h")
with open(sys.argv[1], "rb") as f:
    f.seek(44 + 4 * int(sys.argv[2]))
    data = f.read()
samples.frombytes(data[: len(data) // 2 * 2])
print(max(map(abs, samples), default=0))
PY
}
heard_since() {  # $1: frame, $2: seconds to wait
  for _ in $(seq $(($2 * 5))); do
    [ "$(loudest "$1")" -gt 1000 ] && return 0
    sleep 0.2
  done
  return 1
}
# The quantum the game's stream asks of the graph: 256, 512 or 1024 frames at 48 kHz.
check_quantum() {
  latency=$(pw-dump | python3 -c '
import json, sys
for node in json.load(sys.stdin):
    props = ((node or {}).get("info") or {}).get("props") or {}
    if props.get("application.name") == "Vesquin" and props.get("node.latency"):
        print(props["node.latency"])')
  case $latency in
    256/48000 | 512/48000 | 1024/48000) ;;
    *) fail "the game's stream asks for a quantum of '$latency' $1, not 256, 512 or 1024 at 48 kHz" ;;
  esac
}

"$exe" 2>>"$scratch/stderr.log" &
game=$!
win=$(timeout 10 xdotool search --sync --name '^Vesquin$' 2>/dev/null | head -1)
[ -n "$win" ] || fail "no window titled Vesquin appeared"
# No window manager here: the keyboard goes to the window under the pointer.
xdotool mousemove 100 150
heard_since 0 10 || fail "the intro was not heard at the sink"
check_quantum "at first"

# pipewire-pulse restarted while WirePlumber does not answer: the server takes the game's
# connection and answers nothing until WirePlumber does. Without sound the game still answers
# keys, and its sound comes back once WirePlumber answers again. (WirePlumber stopped and
# started anew instead leaves the capture sink unlinked for good once a recorder was linked.)
outage() {
  kill -STOP "$wireplumber_pid"
  kill "$pulse_pid"
  wait "$pulse_pid" 2>/dev/null
  setsid pipewire-pulse >>"$scratch/pipewire/pipewire-pulse.log" 2>&1 &
  pulse_pid=$!
  pids+=($!)
  sleep 3  # longer than the game waits for its stream
}
outage
restarted=$(captured)
kill -CONT "$wireplumber_pid"
heard_since "$restarted" 10 || fail "no sound at the sink after pipewire-pulse was restarted"
check_quantum "after the restart"
# Ctrl ends the intro (where Escape does nothing): the menu is heard.
xdotool key Control_L
menu=$(captured)
heard_since "$menu" 5 || fail "Ctrl did not open the menu after the restart"

# Escape in the menu says goodbye, unheard, and ends the program.
outage
xdotool key Escape
for _ in $(seq 50); do kill -0 "$game" 2>/dev/null || break; sleep 0.2; done
kill -0 "$game" 2>/dev/null && fail "Escape did not end the program while the server answered nothing"
wait "$game"
status=$?
game=
[ "$status" -eq 0 ] || fail "the program exited with $status"
echo "PASS: heard through pipewire-pulse ($latency), and again after its restart; keys answered while it answered nothing"
