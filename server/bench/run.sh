#!/usr/bin/env bash
# Benchmark of vesquin-scored on 127.0.0.1 with wrk, on a table of 100,000 players.
# Not a test: prints figures, one per line as "name: value unit" (medians of RUNS runs).
# Usage: server/bench/run.sh [BUILD_DIR]   (default: build-server beside server/)
# Settings from the environment: PLAYERS (100000), RUNS (3), DURATION (8s), CONNECTIONS (16), THREADS (2).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build-server}
players=${PLAYERS:-100000}
runs=${RUNS:-3}
duration=${DURATION:-8s}
connections=${CONNECTIONS:-16}
threads=${THREADS:-2}
port=${PORT:-18490}

command -v wrk >/dev/null || { echo "wrk is not installed (scripts/install-deps.sh)" >&2; exit 1; }
cmake --build "$build" --target vesquin-scored scored-bench-fill -j2 >/dev/null
server=$(find "$build" -type f -name vesquin-scored -perm -u+x | head -n1)
fill=$(find "$build" -type f -name scored-bench-fill -perm -u+x | head -n1)

work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

start=$(date +%s.%N)
"$fill" "$work/scores.db" "$players"
echo "fill_${players}_players: $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }') s"

# The rate limit is off and the per-address cap raised: every request comes from 127.0.0.1.
"$server" --db "$work/scores.db" --listen "127.0.0.1:$port" --rate-limit 0 \
  --max-per-address 64 2>"$work/server.log" &
pid=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/vesquin/top.json" && break
  sleep 0.1
done

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

scenario() {  # name script
  local name=$1 script=$2 results=()
  for _ in $(seq "$runs"); do
    results+=("$(BENCH_DIR=$here PLAYERS=$players wrk -t"$threads" -c"$connections" -d"$duration" \
      -s "$here/$script" "http://127.0.0.1:$port/" | grep '^RESULT')")
  done
  for field in rps p50 p90 p99 errors; do
    local value
    value=$(printf '%s\n' "${results[@]}" | sed -E "s/.*$field=([0-9.]+).*/\1/" | median)
    case $field in
      rps)
        echo "${name}_requests_per_second: $value req/s"
        # Each pair is two requests.
        [ "$name" = top1_top2_pairs ] && echo "${name}_per_second: $(awk -v r="$value" 'BEGIN { printf "%.1f", r / 2 }') pairs/s"
        ;;
      errors) echo "${name}_errors: $value count" ;;
      *) echo "${name}_latency_${field}: $value ms" ;;
    esac
  done
}

scenario top2 top2.lua
scenario top1_top2_pairs pair.lua
echo "server_log_lines: $(wc -l <"$work/server.log") lines"
