#!/usr/bin/env bash
# The Debian package extracted into a fresh root: its launcher gives each player (each HOME) a
# game folder of their own under XDG_DATA_HOME, a won game's score lands in that player's
# best.dat alone, a second player's list stays apart, the details tool writes into the
# player's folder, and a new game in the package replaces the player's copy but keeps the
# player's files.
# Usage: deb_game_test.sh PACKAGE-FOLDER VERSION PATH/TO/vesquin-sim
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/support/won_game.sh"
usage="usage: deb_game_test.sh PACKAGE-FOLDER VERSION VESQUIN-SIM"
[ "${1:-}" = --inner ] || run_under_xvfb "$0" "${1:?$usage}" "${2:?$usage}" "${3:?$usage}"
deb=$2/vesquin_$3_$(dpkg --print-architecture).deb
sim=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
won_game_tools
command -v dpkg-deb >/dev/null || fail "dpkg-deb is missing"

root=$scratch/root
dpkg-deb -x "$deb" "$root" || fail "cannot extract $deb"
launcher=$root/usr/games/vesquin
[ -x "$launcher" ] || fail "the package has no launcher usr/games/vesquin"

first=$scratch/home-one
second=$scratch/home-two
mkdir "$first" "$second"
player_one=$first/.local/share/vesquin

expected_best_list "$sim" "$root/usr/share/games/vesquin" "$scratch/expected.dat"
unset XDG_DATA_HOME
HOME=$first play_won_game "$player_one/best.dat" "$launcher"
cmp "$scratch/expected.dat" "$player_one/best.dat" ||
  fail "the first player's best.dat is not the won game's list: $(od -An -tx1 "$player_one/best.dat")"
[ -L "$player_one/menu" ] && [ -f "$player_one/menu/arrows.vgz" ] || fail "the clips are not shared from the package"

# The second player keeps the list under their own XDG_DATA_HOME.
player_two=$second/data/vesquin
[ "$(HOME=$second XDG_DATA_HOME=$second/data "$launcher" --folder)" = "$player_two" ] ||
  fail "the second player's folder is not under XDG_DATA_HOME"
[ -f "$player_two/best.dat" ] && [ ! -s "$player_two/best.dat" ] || fail "the second player's list is not empty"
cmp -s "$scratch/expected.dat" "$player_one/best.dat" || fail "the second player's start changed the first list"

printf 'Ann\nLee\n1 Street\nNorway\ny\n' | HOME=$first "$launcher" --details >"$scratch/details.log" ||
  fail "vesquin --details wrote nothing: $(cat "$scratch/details.log")"
[ "$(cat "$player_one/config.dat")" = "$(printf 'Ann\nLee\n1 Street\nNorway')" ] ||
  fail "config.dat is not in the player's folder"
[ ! -e "$player_two/config.dat" ] || fail "the details reached the second player"

# An upgrade brings a new game: the player's copy follows, the player's files stay.
printf '\n' >>"$root/usr/lib/games/vesquin/vesquin"
HOME=$first "$launcher" --folder >/dev/null || fail "the launcher failed after an upgrade"
cmp -s "$root/usr/lib/games/vesquin/vesquin" "$player_one/vesquin" || fail "the player's game was not refreshed"
cmp -s "$scratch/expected.dat" "$player_one/best.dat" || fail "an upgrade changed the best list"
[ "$(cat "$player_one/config.dat")" = "$(printf 'Ann\nLee\n1 Street\nNorway')" ] || fail "an upgrade changed config.dat"
echo "Debian package game test passed"
