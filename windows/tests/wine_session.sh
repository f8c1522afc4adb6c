# Sourced by windows/tests/run.sh and windows/bench.sh: a fresh temporary folder $work; a
# private PulseAudio server (its own runtime folder) whose null sink "capture" at 48 kHz takes
# Wine's sound; a fresh Wine prefix in $work; and the helpers that start the game and look
# at it. Needs DISPLAY (xvfb-run) and $native (vesquin-scored's folder) set.
work="$(mktemp -d)"
pids=()
game_pid=""
capture_pid=""
cleanup() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}" $capture_pid; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  # KEEP_WORK=1 keeps the folder, to look at what a failed check left.
  if [ -n "${KEEP_WORK:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
# Folder names are UTF-8 whatever the caller's locale.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# On a machine shared with other people's sessions, AUTOGROUP_NICE (e.g. -10, as root) weighs
# this session (Wine, its sound server, the keys) against theirs, as in bench/pulse_session.sh.
if [ -n "${AUTOGROUP_NICE:-}" ]; then echo "$AUTOGROUP_NICE" > /proc/self/autogroup; fi

mkdir -p "$work/pulse"
cat > "$work/pulse/server.pa" <<PA
load-module module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1
load-module module-null-sink sink_name=capture rate=48000 channels=2
set-default-sink capture
PA
XDG_RUNTIME_DIR="$work/pulse" HOME="$work/pulse" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
  --use-pid-file=no --disallow-exit -F "$work/pulse/server.pa" --log-target=file:"$work/pulse/server.log" &
pids+=($!)
export PULSE_SERVER="unix:$work/pulse/native" PULSE_RUNTIME_PATH="$work/pulse"
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null

# Mono and Gecko are not asked for: the game needs neither. A crash ends its program, with
# no debugger waiting.
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
wineboot -i >/dev/null 2>&1
wineserver -w

capture_start() {  # $1: the raw file that the sink's monitor is written to
  parec --device=capture.monitor --format=s16le --rate=48000 --channels=2 --raw --latency-msec=10 > "$1" &
  capture_pid=$!
  # A recorder younger than about a second, joined by Wine's stream, made the null sink drop
  # one block of Wine's (25 ms of silence, 0.9 s after the recorder started) in most runs:
  # the game starts once the recorder has settled.
  sleep 1.5
}

capture_stop() {
  kill "$capture_pid" 2>/dev/null || true
  wait "$capture_pid" 2>/dev/null || true
  capture_pid=""
}

# start_game FOLDER NAME [OPTIONS...]: vesquin.exe of FOLDER in test mode, its transcript in
# $work/NAME.txt, its timer's start in $work/NAME.origin, its last tick in $work/NAME.ticks
# and its output's figures in $work/NAME.stats (at its end); returns once start-up has said
# something, with the pointer over the window when it is shown (keys go where it is).
start_game() {
  local folder=$1 name=$2
  shift 2
  : > "$work/$name.txt"
  rm -f "$work/$name.origin"
  wine "$folder/vesquin.exe" --test-transcript "$(winepath -w "$work/$name.txt")" \
    --test-origin "$(winepath -w "$work/$name.origin")" --test-stats "$(winepath -w "$work/$name.stats")" \
    --test-ticks "$(winepath -w "$work/$name.ticks")" "$@" \
    > "$work/$name.log" 2>&1 &
  game_pid=$!
  for _ in $(seq 300); do
    [ -s "$work/$name.txt" ] && break
    sleep 0.1
  done
  if [ -s "$work/$name.origin" ] || wait_for_file "$work/$name.origin" 2; then focus_game; fi
}

# Keys go to the window under the pointer; a click makes the game's window the one in front
# for Wine.
focus_game() {
  local window
  window="$(timeout 10 xdotool search --sync --onlyvisible --name '^Vesquin$' | head -1)"
  [ -n "$window" ] || return 1
  xdotool mousemove --window "$window" 100 120 click 1
  sleep 0.2
}

# close_game: Alt+F4 (the close command), again if the game has not ended within 5 s.
close_game() {
  focus_game || true
  for _ in 1 2 3; do
    xdotool key alt+F4
    for _ in $(seq 50); do
      kill -0 "$game_pid" 2>/dev/null || { wait "$game_pid" 2>/dev/null || true; return 0; }
      sleep 0.1
    done
  done
  echo "Alt+F4 did not close the game"
  return 1
}

# stop_game: ends a game that a failed check left running, so that the next has the screen.
stop_game() {
  [ -n "$game_pid" ] && kill -0 "$game_pid" 2>/dev/null || return 0
  kill "$game_pid" 2>/dev/null || true
  wait "$game_pid" 2>/dev/null || true
}

wait_for_file() {  # $1: file, $2: seconds
  for _ in $(seq $(($2 * 10))); do
    [ -s "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

wait_for_line() {  # $1: transcript, $2: pattern (grep), $3: seconds, $4: lines before to pass over
  for _ in $(seq $(($3 * 10))); do
    tail -n +$((${4:-0} + 1)) "$1" | grep -q -- "$2" && return 0
    sleep 0.1
  done
  echo "no line \"$2\" in $1 within $3 s"
  return 1
}

# The game's process has ended (within 15 s).
wait_for_exit() {
  for _ in $(seq 150); do
    kill -0 "$game_pid" 2>/dev/null || { wait "$game_pid" 2>/dev/null || true; return 0; }
    sleep 0.1
  done
  echo "the game did not end"
  return 1
}

# close_error_box TRANSCRIPT TEXT: the box with the caption "Error!" shows TEXT; Enter
# (its OK button) closes it: the box goes, or the game goes on to its next line.
close_error_box() {
  local transcript=$1 text=$2 box lines
  wait_for_line "$transcript" " message $text\$" 20 || return 1
  box="$(timeout 10 xdotool search --sync --onlyvisible --name '^Error!$' | head -1)"
  [ -n "$box" ] || { echo "no box with the caption Error!"; return 1; }
  lines="$(wc -l < "$transcript")"
  for _ in $(seq 20); do
    xdotool mousemove --window "$box" 20 20
    xdotool key Return
    sleep 0.3
    [ "$(wc -l < "$transcript")" -gt "$lines" ] && return 0
    xdotool search --onlyvisible --name '^Error!$' >/dev/null 2>&1 || return 0
  done
  echo "the box \"$text\" did not close"
  return 1
}

# A private vesquin-scored on a free port, with a fresh table; sets $port.
score_server_start() {
  "$native/vesquin-scored" --db "$work/scores.db" --listen 127.0.0.1:0 2> "$work/server.log" &
  pids+=($!)
  port=""
  for _ in $(seq 100); do
    port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/server.log")"
    [ -n "$port" ] && break
    sleep 0.05
  done
  [ -n "$port" ] || { cat "$work/server.log" >&2; return 1; }
}
