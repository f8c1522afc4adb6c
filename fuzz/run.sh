#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a set time, two at a time by default, and prints
# per target: runs, exec/s, coverage, crashes. Exit status 1 when any target found a crash,
# a hang or a leak; the input is kept in BUILD/fuzz-work/TARGET/ with the command to replay it.
#
#   fuzz/run.sh BUILD SECONDS [TARGET ...]      (FUZZ_JOBS: targets run at once, default 2)
set -uo pipefail

build=${1:?usage: fuzz/run.sh BUILD SECONDS [TARGET ...]}
seconds=${2:?usage: fuzz/run.sh BUILD SECONDS [TARGET ...]}
shift 2
jobs=${FUZZ_JOBS:-2}
list=$build/fuzz-targets.txt
[[ -f $list ]] || { echo "fuzz/run.sh: $list is missing: configure $build with -DVESQUIN_FUZZ=ON" >&2; exit 2; }

declare -a names=() lines=()
while read -r name exe corpus options; do
  if (($# > 0)) && [[ " $* " != *" $name "* ]]; then continue; fi
  names+=("$name")
  lines+=("$name $exe $corpus $options")
done <"$list"

run_one() {
  local name=$1 exe=$2 corpus=$3
  shift 3
  local work=$build/fuzz-work/$name
  rm -rf "$work/artifacts"
  mkdir -p "$work/found" "$work/artifacts"
  # New inputs go to the build's own folder; the committed seeds are only read.
  "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$@" "$work/found" "$corpus" >"$work/log" 2>&1
  echo $? >"$work/status"
}

running=0
for line in "${lines[@]}"; do
  # shellcheck disable=SC2086
  run_one $line &
  running=$((running + 1))
  if ((running >= jobs)); then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
printf '%-14s %12s %10s %8s %8s %8s\n' target runs exec/s cov ft crashes
for name in "${names[@]}"; do
  work=$build/fuzz-work/$name
  log=$work/log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  crashes=$(find "$work/artifacts" -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'leak-*' -o -name 'oom-*' \) | wc -l)
  printf '%-14s %12s %10s %8s %8s %8s\n' "$name" "${runs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "$crashes"
  if ((crashes > 0)) || [[ $(cat "$work/status") != 0 ]]; then
    failed=1
    exe=$(awk -v n="$name" '$1 == n { print $2 }' "$list")
    for artifact in "$work"/artifacts/*; do
      [[ -f $artifact ]] && echo "  found: $artifact  (replay: $exe $artifact)"
    done
    grep -m1 -E 'ERROR:|runtime error:|deadly signal|Test unit written' "$log" | sed 's/^/  /'
    echo "  log: $log"
  fi
done
exit "$failed"
