#!/usr/bin/env bash
# vesquin-details as a program: Ctrl-C at a question says that nothing was written, and
# leaves the folder as it was.
# Usage: details_program_test.sh PATH/TO/vesquin-details
set -u
tool=${1:?usage: details_program_test.sh PATH/TO/vesquin-details}
scratch=$(mktemp -d)
keeper=
trap '[ -n "$keeper" ] && kill "$keeper" 2>/dev/null; rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; echo "--- its output:"; cat "$scratch/out"; exit 1; }

mkdir "$scratch/game"
printf 'Ann\nLee\nSt\nNO\n' >"$scratch/game/config.dat"
mkfifo "$scratch/answers"
# Input that stays open, as a terminal does while the player thinks.
sleep 60 >"$scratch/answers" &
keeper=$!
"$tool" "$scratch/game" <"$scratch/answers" >"$scratch/out" 2>&1 &
pid=$!
for _ in $(seq 100); do
  grep -q 'First name (Enter keeps Ann): ' "$scratch/out" && break
  sleep 0.05
done
grep -q 'First name (Enter keeps Ann): ' "$scratch/out" || fail "no first question"
kill -INT "$pid"
wait "$pid"
status=$?
[ "$status" = 1 ] || fail "Ctrl-C ended it with status $status, not 1"
grep -q 'Nothing was written' "$scratch/out" || fail "Ctrl-C did not say that nothing was written"
[ "$(cat "$scratch/game/config.dat")" = "$(printf 'Ann\nLee\nSt\nNO')" ] || fail "config.dat changed"
[ "$(ls -A "$scratch/game")" = config.dat ] || fail "files were left behind: $(ls -A "$scratch/game")"
echo "details program test passed"
