#!/usr/bin/env bash
# A private PostgreSQL cluster for the tests and the benchmark: a temporary folder, a Unix socket
# in it and no TCP port, run as an unprivileged user (PostgreSQL refuses to run as root, so as
# root it runs as `nobody`).
#   postgres_cluster.sh start STATE_FILE   starts one; writes "dir=..." and "uri=..." lines
#   postgres_cluster.sh stop STATE_FILE    stops it and removes its folder
# Without the server binaries, start says so, leaves no state file and succeeds: the PostgreSQL
# tests then skip, each with a line that says why.
set -euo pipefail
action=${1:-}
state=${2:-}
[ -n "$action" ] && [ -n "$state" ] || { echo "usage: $0 start|stop STATE_FILE" >&2; exit 2; }

find_bin() {  # name: from PATH, else the newest Debian server version
  if command -v "$1" >/dev/null 2>&1; then command -v "$1"; return; fi
  local candidate
  candidate=$(ls -d /usr/lib/postgresql/*/bin/"$1" 2>/dev/null | sort -V | tail -n1)
  [ -n "$candidate" ] && echo "$candidate"
}

as_owner() {  # runs a command as the cluster's owner
  if [ "$(id -u)" = 0 ]; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
  else
    "$@"
  fi
}

stop() {
  [ -f "$state" ] || return 0
  local dir
  dir=$(sed -n 's/^dir=//p' "$state")
  if [ -n "$dir" ] && [ -d "$dir/data" ]; then
    local pg_ctl
    pg_ctl=$(find_bin pg_ctl || true)
    if [ -n "$pg_ctl" ]; then
      as_owner "$pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    fi
  fi
  [ -n "$dir" ] && case $dir in /tmp/vesquin-pg.*) rm -rf "$dir" ;; esac
  rm -f "$state"
}

case $action in
  stop)
    stop
    ;;
  start)
    stop  # a cluster left over by an interrupted run
    initdb=$(find_bin initdb || true)
    pg_ctl=$(find_bin pg_ctl || true)
    if [ -z "$initdb" ] || [ -z "$pg_ctl" ]; then
      echo "PostgreSQL server binaries (initdb, pg_ctl) not found: the PostgreSQL tests will be SKIPPED" \
        "(install postgresql-15, as make deps does)"
      exit 0
    fi
    dir=$(mktemp -d /tmp/vesquin-pg.XXXXXX)
    [ "$(id -u)" = 0 ] && chown nobody:nogroup "$dir"
    if ! as_owner "$initdb" -D "$dir/data" -U vesquin -A trust -E UTF8 --locale=C --no-sync >"$dir/initdb.log" 2>&1; then
      cat "$dir/initdb.log" >&2
      rm -rf "$dir"
      exit 1
    fi
    # Only the socket; fsync stays on, as the kill tests need real commits. Commit times let the
    # tests replay submissions in the order they were committed.
    if ! as_owner "$pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-c listen_addresses= -k $dir -c max_connections=200 -c shared_buffers=32MB -c track_commit_timestamp=on" start >/dev/null; then
      cat "$dir/server.log" >&2
      rm -rf "$dir"
      exit 1
    fi
    printf 'dir=%s\nuri=postgresql:///postgres?host=%s&user=vesquin\n' "$dir" "$dir" >"$state.tmp"
    mv "$state.tmp" "$state"
    echo "PostgreSQL cluster running in $dir"
    ;;
  *)
    echo "usage: $0 start|stop STATE_FILE" >&2
    exit 2
    ;;
esac
