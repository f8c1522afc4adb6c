# A whole game won through the real program under Xvfb, with SDL's disk audio driver and keys
# from xdotool. Sourced by the package tests.
#
# The game seeds its generator with the time of day, so with the clock held at one second the
# draws are known: the cat starts at east 14, north 12, and these keys walk the dog to it and
# push it into the corner at east 24, north 24 (64 points). vesquin-sim --seed with the same
# second's number plays the same game.
won_game_clock="2027-01-01 12:02:59"
won_game_seed=1798804979
won_game_keys="Up Up Up Up Up Up Up Up Up Up Up Up Right Up Up Left Up Right Up Left Up Right Up Right Up
  Left Up Left Up Right Up Up Up Left Up Right Up Up Left Up Right Up Up Left Up Up Up Up Up Up"

fail() {
  echo "FAIL: $*"
  exit 1
}

# run_under_xvfb SCRIPT ARGS...: runs the script again on a private X server, with --inner
# before its arguments. The search for a free display starts at a random number, so that
# tests starting at the same moment do not race for one.
run_under_xvfb() {
  command -v xvfb-run >/dev/null || fail "xvfb-run is missing (scripts/install-deps.sh installs it)"
  local script=$1
  shift
  exec timeout 150 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 640x480x24" bash "$script" --inner "$@"
}

won_game_tools() {
  local tool
  for tool in xvfb-run Xvfb xauth xdotool faketime cmp timeout; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
  done
}

# expected_best_list SIM DATA_FOLDER OUT: the best.dat the won game leaves in a folder whose
# list was empty, as vesquin-sim plays it on a copy of DATA_FOLDER.
expected_best_list() {
  local sim=$1 data=$2 out=$3 copy key
  copy=$(mktemp -d)
  cp -rL "$data/." "$copy/"
  : >"$copy/best.dat"
  {
    printf 'key Ctrl\nwait 500\nkey Enter\nwait 300\n'
    for key in $won_game_keys; do printf 'key %s\nwait 200\n' "$key"; done
    printf 'wait 20000\nshow\n'
  } >"$copy/won.vsim"
  "$sim" --data "$copy" --seed "$won_game_seed" "$copy/won.vsim" >"$copy/transcript" ||
    fail "vesquin-sim could not play the won game"
  grep -q ' show .* score=64 .* won=1 ' "$copy/transcript" ||
    fail "vesquin-sim did not win the game with 64 points: $(tail -1 "$copy/transcript")"
  cp "$copy/best.dat" "$out"
  rm -rf "$copy"
}

# play_won_game BEST_DAT COMMAND...: starts the game with the clock held, wins the game,
# waits for BEST_DAT to hold a list, and closes the window.
play_won_game() {
  local best=$1 log pid win key
  shift
  log=$(mktemp)
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null TZ=UTC FAKETIME_DONT_FAKE_MONOTONIC=1 \
    faketime -m -f "$won_game_clock" "$@" 2>"$log" &
  pid=$!
  win=$(timeout 10 xdotool search --sync --name '^Vesquin$' 2>/dev/null | head -1)
  [ -n "$win" ] || { kill "$pid" 2>/dev/null; fail "no window titled Vesquin appeared: $(tail -5 "$log")"; }
  # No window manager here: the keyboard goes to the window under the pointer.
  xdotool mousemove 100 150
  sleep 1
  # Ctrl skips the intro; Enter during the menu's opening prompt starts the game.
  xdotool key Control_L
  sleep 0.7
  xdotool key Return
  sleep 1
  # shellcheck disable=SC2086 # one word per key
  xdotool key --delay 120 $won_game_keys
  for _ in $(seq 300); do
    [ -s "$best" ] && break
    sleep 0.1
  done
  # The list is written as the game ends; the final score is spoken meanwhile.
  sleep 0.5
  xdotool key alt+F4
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && { kill "$pid"; fail "the game did not end on Alt+F4"; }
  wait "$pid" || fail "the game ended with status $?: $(tail -5 "$log")"
  rm -f "$log"
  [ -s "$best" ] || fail "the won game left no score in $best"
}
