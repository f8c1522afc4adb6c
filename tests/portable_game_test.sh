#!/usr/bin/env bash
# The portable game folder as a player gets it: unpacked into a folder whose path holds spaces
# and letters outside ASCII, it holds the game, the details tool, every clip folder, the
# picture, an empty best list, the guide and the licence, and a game won in it leaves its
# score in that folder's best.dat, byte for byte as the game writes it.
# Usage: portable_game_test.sh PACKAGE-FOLDER VERSION PATH/TO/vesquin-sim
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/support/won_game.sh"
usage="usage: portable_game_test.sh PACKAGE-FOLDER VERSION VESQUIN-SIM"
[ "${1:-}" = --inner ] || run_under_xvfb "$0" "${1:?$usage}" "${2:?$usage}" "${3:?$usage}"
archive=$2/vesquin-$3-linux-$(uname -m).tar.gz
sim=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
won_game_tools

place="$scratch/Spiele für Åsa/mes jeux"
mkdir -p "$place"
tar -xzf "$archive" -C "$place" || fail "cannot unpack $archive"
game=$place/$(basename "$archive" .tar.gz)
[ -d "$game" ] || fail "the archive does not unpack into $(basename "$game")"
for entry in vesquin vesquin-details menu game level1 learn score TestSpk picture.bmp best.dat \
  player-guide.txt player-guide.html LICENSE; do
  [ -e "$game/$entry" ] || fail "the game folder has no $entry"
done
[ -x "$game/vesquin" ] && [ -x "$game/vesquin-details" ] || fail "the programs cannot be run"
[ -f "$game/best.dat" ] && [ ! -s "$game/best.dat" ] || fail "best.dat is not an empty file"

expected_best_list "$sim" "$game" "$scratch/expected.dat"
play_won_game "$game/best.dat" "$game/vesquin"
cmp "$scratch/expected.dat" "$game/best.dat" ||
  fail "best.dat is not the list of the won game: $(od -An -tx1 "$game/best.dat")"

# The details tool writes beside itself, in that same folder.
printf 'Åsa\nLind\nStorgatan 1\nSverige\ny\n' | "$game/vesquin-details" >"$scratch/details.log" ||
  fail "vesquin-details wrote nothing: $(cat "$scratch/details.log")"
[ "$(cat "$game/config.dat")" = "$(printf 'Åsa\nLind\nStorgatan 1\nSverige')" ] || fail "config.dat is not beside the game"
echo "portable game test passed"
