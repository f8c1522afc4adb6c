#!/usr/bin/env bash
# Figures of the browser build in headless chromium, served by a private vesquin-scored.
# Usage: web/tests/bench.sh NATIVE_BUILD WEB_SITE
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
native="$(cd "$1" && pwd)"
site="$(cd "$2" && pwd)"
work="$(mktemp -d)"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
source "$here/serve.sh"
node "$here/bench_game.mjs" "http://127.0.0.1:$port/vesquin/play/"
