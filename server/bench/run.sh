#!/usr/bin/env bash
# Benchmark of vesquin-scored on 127.0.0.1 with wrk, on a table of 100,000 players, side by side
# with the classic PHP stack (nginx + php-fpm 8.2, 4 workers, PDO SQLite in WAL mode with
# synchronous=NORMAL; bench/php/) on a copy of the same table, and the slow-client attack.
# The same workloads run on PostgreSQL (a private cluster, the same 100,000 players): one node,
# and two nodes behind one nginx address (round robin, bench/nginx-nodes.conf.in).
# Not a test: prints figures, one per line as "name: value unit" (medians of RUNS runs; in each
# run both servers take the same workloads one after the other, and ratios are taken per run).
# Usage: server/bench/run.sh [BUILD_DIR]   (default: build-server beside server/)
# Settings from the environment: PLAYERS (100000), RUNS (3), DURATION (10s), CONNECTIONS (16),
# THREADS (2), ATTACK_SECONDS (40), PHP (1; 0 leaves the PHP stack out), PG (1; 0 leaves
# PostgreSQL out).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build-server}
players=${PLAYERS:-100000}
runs=${RUNS:-3}
duration=${DURATION:-10s}
connections=${CONNECTIONS:-16}
threads=${THREADS:-2}
attack_seconds=${ATTACK_SECONDS:-40}
with_php=${PHP:-1}
with_pg=${PG:-1}

command -v wrk >/dev/null || { echo "wrk is not installed (scripts/install-deps.sh)" >&2; exit 1; }
if [ "$with_pg" = 1 ]; then
  command -v nginx >/dev/null || { echo "nginx is not installed (scripts/install-deps.sh)" >&2; exit 1; }
fi
if [ "$with_php" = 1 ]; then
  missing=()
  while read -r pkg; do
    case $pkg in ''|'#'*) continue ;; esac
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done <"$here/debian-packages.txt"
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing ${missing[*]} for the PHP comparison" >&2
    sudo=; [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -o DPkg::Lock::Timeout=900 "${missing[@]}" >&2
  fi
fi
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target vesquin-scored scored-bench-fill scored-bench-attack -j2 >/dev/null
server=$(find "$build" -type f -name vesquin-scored -perm -u+x | head -n1)
fill=$(find "$build" -type f -name scored-bench-fill -perm -u+x | head -n1)
attack=$(find "$build" -type f -name scored-bench-attack -perm -u+x | head -n1)

# Free loopback ports, from the kernel.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
port=$(free_port)
php_port=$(free_port)
pg1_port=$(free_port)
pg2_port=$(free_port)
nodes_port=$(free_port)

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  [ -f "$work/php-fpm.pid" ] && kill "$(cat "$work/php-fpm.pid")" 2>/dev/null || true
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  [ -f "$work/nginx-nodes.pid" ] && kill "$(cat "$work/nginx-nodes.pid")" 2>/dev/null || true
  bash "$root/server/tests/postgres_cluster.sh" stop "$work/pg.state" || true
  sleep 0.2
  rm -rf "$work"
}
trap cleanup EXIT

start=$(date +%s.%N)
"$fill" "$work/scores.db" "$players"
echo "fill_${players}_players: $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }') s"
cp "$work/scores.db" "$work/php.db"

wait_up() {  # url
  for _ in $(seq 100); do
    curl -s -o /dev/null "$1" && return 0
    sleep 0.1
  done
  echo "no answer from $1" >&2
  return 1
}

# The rate limit is off and the per-address cap raised: every request comes from 127.0.0.1.
"$server" --db "$work/scores.db" --listen "127.0.0.1:$port" --rate-limit 0 \
  --max-per-address 64 2>"$work/server.log" &
pids+=($!)
wait_up "http://127.0.0.1:$port/vesquin/top.json"

if [ "$with_php" = 1 ]; then
  for f in nginx.conf php-fpm.conf; do
    sed -e "s|@WORK@|$work|g" -e "s|@PORT@|$php_port|g" -e "s|@PHP_DIR@|$here/php|g" \
      "$here/php/$f.in" >"$work/$f"
  done
  php-fpm8.2 -R -y "$work/php-fpm.conf"
  nginx -c "$work/nginx.conf" -e "$work/nginx-error.log" 2>/dev/null
  wait_up "http://127.0.0.1:$php_port/vesquin/top2.php"
fi

if [ "$with_pg" = 1 ]; then
  bash "$root/server/tests/postgres_cluster.sh" start "$work/pg.state" >&2
  [ -f "$work/pg.state" ] || { echo "no PostgreSQL server binaries: PG=0 leaves PostgreSQL out" >&2; exit 1; }
  pg_uri=$(sed -n 's/^uri=//p' "$work/pg.state")
  start=$(date +%s.%N)
  "$fill" "$pg_uri" "$players"
  echo "pg_fill_${players}_players: $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }') s"
  for p in "$pg1_port" "$pg2_port"; do
    "$server" --db "$pg_uri" --listen "127.0.0.1:$p" --rate-limit 0 --max-per-address 64 \
      --trusted-proxy 127.0.0.1 2>>"$work/pg-server.log" &
    pids+=($!)
    wait_up "http://127.0.0.1:$p/vesquin/top.json"
  done
  sed -e "s|@WORK@|$work|g" -e "s|@PORT@|$nodes_port|g" -e "s|@NODE1@|$pg1_port|g" -e "s|@NODE2@|$pg2_port|g" \
    "$here/nginx-nodes.conf.in" >"$work/nginx-nodes.conf"
  nginx -c "$work/nginx-nodes.conf" -e "$work/nginx-nodes-error.log" 2>/dev/null
  wait_up "http://127.0.0.1:$nodes_port/vesquin/top.json"
fi

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
field() { sed -E "s/.*$1=([0-9.]+).*/\1/"; }

wrk_run() {  # port script -> RESULT line
  BENCH_DIR=$here PLAYERS=$players wrk -t"$threads" -c"$connections" -d"$duration" \
    -s "$here/$1" "http://127.0.0.1:$2/" | grep '^RESULT'
}

report() {  # name results...
  local name=$1
  shift
  for f in rps p50 p90 p99 errors; do
    local value
    value=$(printf '%s\n' "$@" | field "$f" | median)
    case $f in
      rps) echo "${name}_requests_per_second: $value req/s" ;;
      errors) echo "${name}_errors: $value count" ;;
      *) echo "${name}_latency_${f}: $value ms" ;;
    esac
  done
}

# The side-by-side workloads: a new player per top1 request; top2 of a fixed player at place 5.
declare -A results
for _ in $(seq "$runs"); do
  for workload in top1_new top2_fixed; do
    results[scored_$workload]+="$(wrk_run "$workload.lua" "$port")"$'\n'
    [ "$with_php" = 1 ] && results[php_$workload]+="$(wrk_run "$workload.lua" "$php_port")"$'\n'
    if [ "$with_pg" = 1 ]; then
      results[pg1_$workload]+="$(wrk_run "$workload.lua" "$pg1_port")"$'\n'
      results[pg2_$workload]+="$(wrk_run "$workload.lua" "$nodes_port")"$'\n'
    fi
  done
done
ratio_of() {  # results-a results-b -> median of the per-run ratios of requests per second
  local -a a b
  mapfile -t a < <(printf '%s' "$1")
  mapfile -t b < <(printf '%s' "$2")
  for i in "${!a[@]}"; do
    awk -v x="$(echo "${a[$i]}" | field rps)" -v y="$(echo "${b[$i]}" | field rps)" 'BEGIN { printf "%.2f\n", x / y }'
  done | median
}
for workload in top1_new top2_fixed; do
  mapfile -t ours < <(printf '%s' "${results[scored_$workload]}")
  report "scored_${workload}" "${ours[@]}"
  if [ "$with_php" = 1 ]; then
    mapfile -t theirs < <(printf '%s' "${results[php_$workload]}")
    report "php_${workload}" "${theirs[@]}"
    ratio=$(for i in "${!ours[@]}"; do
      awk -v a="$(echo "${ours[$i]}" | field rps)" -v b="$(echo "${theirs[$i]}" | field rps)" \
        'BEGIN { printf "%.2f\n", a / b }'
    done | median)
    echo "${workload}_scored_over_php: $ratio ratio"
  fi
  if [ "$with_pg" = 1 ]; then
    mapfile -t one < <(printf '%s' "${results[pg1_$workload]}")
    report "pg_one_node_${workload}" "${one[@]}"
    mapfile -t two < <(printf '%s' "${results[pg2_$workload]}")
    report "pg_two_nodes_nginx_${workload}" "${two[@]}"
    echo "${workload}_pg_one_node_over_sqlite: $(ratio_of "${results[pg1_$workload]}" "${results[scored_$workload]}") ratio"
    echo "${workload}_pg_two_nodes_over_one: $(ratio_of "${results[pg2_$workload]}" "${results[pg1_$workload]}") ratio"
  fi
done
if [ "$with_pg" = 1 ]; then
  # The nodes and their nginx are done; the attack below is against the SQLite server alone.
  for i in 1 2; do kill "${pids[$i]}"; wait "${pids[$i]}" 2>/dev/null || true; done
  kill "$(cat "$work/nginx-nodes.pid")" 2>/dev/null || true
  echo "pg_server_log_lines: $(wc -l <"$work/pg-server.log") lines"
fi

# The earlier workloads: top2 of random players, and top1+top2 pairs as the game sends them.
for scenario in top2 pair; do
  r=()
  for _ in $(seq "$runs"); do r+=("$(wrk_run "$scenario.lua" "$port")"); done
  name=$([ $scenario = pair ] && echo top1_top2_pairs || echo top2_random)
  report "$name" "${r[@]}"
done
echo "server_log_lines: $(wc -l <"$work/server.log") lines"

# The slow-client attack against the default limits: 200 sockets from 25 addresses, a header
# line every 5 s each, with a normal client from another address measured throughout.
kill "${pids[0]}"; wait "${pids[0]}" 2>/dev/null || true
pids=()
"$server" --db "$work/scores.db" --listen "127.0.0.1:$port" 2>"$work/attack.log" &
pids+=($!)
wait_up "http://127.0.0.1:$port/vesquin/top.json"
"$attack" "$port" 200 25 5 "$attack_seconds"
echo "slow_attack_server_log_lines: $(wc -l <"$work/attack.log") lines"
