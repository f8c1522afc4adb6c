#!/usr/bin/env bash
# Replays every committed game through vesquin-sim and compares its transcript and best.dat
# with the committed ones, byte for byte; a mismatch prints the diff. See README.md.
# Usage: replay.sh VESQUIN_SIM [SCORE_SERVER] [--update]
#   SCORE_SERVER: the build's host:port of the score table; the committed transcripts name
#                 the default, localhost:8480.
#   --update:     writes the transcripts and best lists anew instead of comparing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
data="$(cd "$here/../../data" && pwd)"
sim="$1"
server="${2:-localhost:8480}"
update=""
[ "${3:-}" = "--update" ] && update=1
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

failed=0
count=0
for script in "$here"/*.vsim; do
  name="$(basename "$script" .vsim)"
  count=$((count + 1))
  rm -rf "$work/data"
  cp -r "$data" "$work/data"
  [ -f "$here/$name.best-before.dat" ] && cp "$here/$name.best-before.dat" "$work/data/best.dat"
  [ -f "$here/$name.config.dat" ] && cp "$here/$name.config.dat" "$work/data/config.dat"
  "$sim" --data "$work/data" "$script" > "$work/$name.txt"
  if [ "$server" != "localhost:8480" ]; then
    sed -i "s|http://$server/|http://localhost:8480/|g" "$work/$name.txt"
  fi
  if [ -n "$update" ]; then
    cp "$work/$name.txt" "$here/$name.txt"
    cp "$work/data/best.dat" "$here/$name.best.dat"
    continue
  fi
  if ! diff -u "$here/$name.txt" "$work/$name.txt"; then
    echo "games: $name: the transcript differs from tests/games/$name.txt"
    failed=$((failed + 1))
  fi
  if ! cmp "$here/$name.best.dat" "$work/data/best.dat"; then
    echo "games: $name: best.dat differs from tests/games/$name.best.dat"
    failed=$((failed + 1))
  fi
done
[ -n "$update" ] && echo "games: $count written" && exit 0
echo "games: $count replayed, $failed mismatches"
[ "$failed" -eq 0 ]
