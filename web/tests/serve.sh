# Sourced by the browser checks: starts a private vesquin-scored on a free port serving the
# page from $site with a fresh table in $work, and sets $port. $native is the native build.
"$native/bin/vesquin-scored" --db "$work/scores.db" --listen 127.0.0.1:0 --play "$site" 2> "$work/server.log" &
server_pid=$!
port=""
for _ in $(seq 100); do
  port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/server.log")"
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { cat "$work/server.log" >&2; exit 1; }
