#!/usr/bin/env bash
# The Windows build's checks under Debian's Wine, on a private X server (Xvfb) and a private
# PulseAudio server whose null sink takes Wine's sound, with one fresh Wine prefix for them
# all: the GoogleTest suites; the release zip unpacked into a folder whose name has a space
# and a non-ASCII letter, where vesquin-details writes config.dat, the intro is heard at the
# sink as the game's mixer makes it (and Alt+F4 closes), the About box opens from the system
# menu, the speaker test is heard through the prepared filter table, win.vsim played by keys
# gives vesquin-sim's transcript and best.dat, a score sent to a private vesquin-scored speaks
# the place, and Escape says goodbye; then the two start-up messages (a missing clip, no
# sound output). The last line counts the checks passed and failed.
#
#   windows/tests/run.sh WINDOWS_BUILD NATIVE_BIN ZIP
#
# NATIVE_BIN holds vesquin-sim and vesquin-scored. Only processes this script started are
# stopped. KEEP_WORK=1 keeps the work folder; AUTOGROUP_NICE weighs the session on a machine
# shared with other people's builds (see wine_session.sh).
set -euo pipefail
if [ "${1:-}" != --inner ]; then
  exec timeout 420 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 800x600x24" bash "$0" --inner "$@"
fi
shift
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(cd "$1" && pwd)"
native="$(cd "$2" && pwd)"
zip="$(cd "$(dirname "$3")" && pwd)/$(basename "$3")"
source "$here/wine_session.sh"

passed=0
failed=0
keep_game=""  # set for a check whose game the next checks go on with, whatever its outcome
check() {  # $1: what, then the command
  local what=$1
  shift
  if "$@"; then
    echo "PASS: $what"
    passed=$((passed + 1))
  else
    echo "FAIL: $what"
    failed=$((failed + 1))
    [ -n "$keep_game" ] || stop_game
  fi
  keep_game=""
}

# The core's suites and the Windows layer's, as one program.
check "GoogleTest suites under Wine" wine "$build/bin/vesquin_tests.exe"

# The release, unpacked as a player would.
folder="$work/Spiele für Åsa"
mkdir -p "$folder"
(cd "$folder" && unzip -q "$zip")
game="$(echo "$folder"/vesquin-*-windows-x86_64)"
mkdir -p "$work/expected"
cp -r "$game" "$work/expected/data"
"$native/vesquin-sim" --data "$work/expected/data" "$root/examples/win.vsim" > "$work/expected/win.txt"
cp "$work/expected/data/best.dat" "$work/expected/best.dat"
printf 'wait 3000\n' | "$native/vesquin-sim" --data "$work/expected/data" --wav "$work/expected/intro.wav" > /dev/null
# The speaker test's first clip, from its start.
printf 'key Ctrl\nwait 200\nkey Down\nwait 200\nkey Down\nwait 200\nkey Enter\nwait 1500\n' |
  "$native/vesquin-sim" --data "$work/expected/data" --wav "$work/expected/speakers.wav" > /dev/null

details() {
  printf 'Ada\nLovelace\nLondon\nEngland\ny\n' | wine "$game/vesquin-details.exe" > "$work/details.txt" &&
    [ "$(cat "$game/config.dat")" = "$(printf 'Ada\nLovelace\nLondon\nEngland')" ] ||
    { cat "$work/details.txt"; return 1; }
}
check "vesquin-details writes config.dat" details

# The intro as heard at the sink. Wine feeds PulseAudio from a thread of its own through a
# 30 ms buffer, and a stall of that thread on a busy machine is a gap the game never sees (its
# stream's queue stays filled): a start with a gap is heard once more before it fails.
intro() {
  local round
  for round in 1 2; do
    capture_start "$work/intro.raw"
    start_game "$game" intro
    sleep 3.5
    capture_stop
    local heard=0
    python3 "$here/compare_intro.py" "$work/intro.raw" "$work/expected/intro.wav" || heard=1
    # Alt+F4: the close command, with no exit clip.
    close_game || return 1
    cat "$work/intro.stats"
    grep -q exit_game "$work/intro.txt" && return 1
    grep -q ' close$' "$work/intro.txt" || return 1
    [ "$heard" = 0 ] && return 0
  done
  return 1
}
check "the intro heard at the sink, and Alt+F4 closes" intro

# The About entry, last in the system menu (Alt+Space, End, Enter), opens the About box with
# the name and version; Enter ends it and the game goes on.
about() {
  start_game "$game" about
  xdotool key alt+space
  sleep 0.5
  xdotool key End Return
  local box
  box="$(timeout 10 xdotool search --sync --onlyvisible --name '^About Vesquin$' | head -1)"
  [ -n "$box" ] || { echo "no About box"; return 1; }
  xdotool mousemove --window "$box" 20 20
  sleep 0.2
  xdotool key Return
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^About Vesquin$' >/dev/null 2>&1 || break
    sleep 0.1
  done
  xdotool search --onlyvisible --name '^About Vesquin$' >/dev/null 2>&1 && { echo "the About box stays"; return 1; }
  close_game
}
check "the About box from the system menu" about

# The speaker test's first clip through the prepared filter table, ears as vesquin-sim's.
speakers() {
  start_game "$game" speakers
  xdotool key Control_L
  wait_for_line "$work/speakers.txt" ' state 1$' 10 || return 1
  xdotool key Down
  sleep 0.2
  xdotool key Down
  wait_for_line "$work/speakers.txt" 'play menu\\test_speakers.vgz' 5 || return 1
  capture_start "$work/speakers.raw"
  xdotool key Return
  sleep 2
  capture_stop
  python3 "$here/compare_ears.py" "$work/speakers.raw" "$work/expected/speakers.wav" || return 1
  # Keys wait while the test holds the game; the close command comes after it.
  close_game || return 1
  grep -qx 'output_hrtf: 1' "$work/speakers.stats"
}
check "the speaker test heard through the prepared filter table" speakers

score_server_start
whole_game() {
  start_game "$game" game --test-random "$(sed -n 's/^rand //p' "$root/examples/win.vsim" | tr '\n' ' ')" \
    --test-score-server "127.0.0.1:$port"
  python3 "$here/play_script.py" "$root/examples/win.vsim" "$work/game.origin" "$work/game.ticks" \
    "$work/game.txt" "$work/expected/win.txt" || return 1
  cmp "$game/best.dat" "$work/expected/best.dat" || { echo "best.dat differs from vesquin-sim's"; return 1; }
}
# A transcript off by a late line still leaves the won game's score to send.
keep_game=1
check "win.vsim by keys: vesquin-sim's transcript and best.dat" whole_game

send_score() {
  local query='first_name=Ada&last_name=Lovelace&addr=London&country=England&score=68'
  for _ in $(seq 10); do
    tail -1 "$work/game.txt" | grep -q 'play menu\\send_score.vgz' && break
    xdotool key Down
    sleep 0.3
  done
  local before
  before="$(wc -l < "$work/game.txt")"
  xdotool key Return
  wait_for_line "$work/game.txt" 'play game\\check_connected.vgz' 10 "$before" || return 1
  xdotool key y
  wait_for_line "$work/game.txt" ' state 1$' 40 "$before" || return 1
  local sent
  # Without their times, and with the build's score server as "SERVER".
  sent="$(tail -n +$((before + 1)) "$work/game.txt" | cut -d' ' -f2- | sed 's|^get http://[^/]*/|get http://SERVER/|')"
  grep -qxF "get http://SERVER/vesquin/top1.php?$query" <<< "$sent" &&
    grep -qxF "get http://SERVER/vesquin/top2.php?$query" <<< "$sent" &&
    grep -A1 -xF 'play game\made_it.vgz pan=0 vol=0' <<< "$sent" | grep -qxF 'play score\1.vgz pan=0 vol=0' ||
    { echo "$sent"; return 1; }
}
check "a score sent to a local vesquin-scored speaks the place" send_score

quit() {
  sleep 0.5
  xdotool key Escape
  wait_for_exit || return 1
  grep -qF 'play game\exit_game.vgz' "$work/game.txt" && tail -1 "$work/game.txt" | grep -q ' close$'
}
check "Escape in the menu says goodbye and ends the game" quit

missing_clip() {
  local broken="$work/Ohne Klänge"
  cp -r "$game" "$broken"
  rm "$broken/menu/arrows.vgz"
  start_game "$broken" missing
  close_error_box "$work/missing.txt" "Error in second initialisation" || return 1
  [ "$(grep -c ' message ' "$work/missing.txt")" = 1 ] || return 1
  close_game
}
check "a missing clip gives \"Error in second initialisation\"" missing_clip

no_sound() {
  # No audio driver at all: the game finds no sound output.
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winepulse.drv,winealsa.drv,wineoss.drv=d" start_game "$game" silent
  close_error_box "$work/silent.txt" "DSound not created" || return 1
  close_error_box "$work/silent.txt" "Error in second initialisation" || return 1
  close_game
}
check "no sound output gives \"DSound not created\", then the second message" no_sound

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
