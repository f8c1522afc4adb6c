#!/usr/bin/env bash
# Installs the Debian packages listed in debian-packages.txt that are not yet installed.
# Runs apt-get as root directly, otherwise through sudo.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t wanted < <(grep -vE '^\s*(#|$)' "$here/debian-packages.txt")
missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
# No early exit when nothing is missing: the steps after this one must still run.
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# npm packages of the score server's browser test (axe-core, playwright-core), exactly as locked.
scored_browser="$here/../server/tests/browser"
if [ -f "$scored_browser/package-lock.json" ] && [ ! -d "$scored_browser/node_modules" ]; then
  echo "Installing npm packages in server/tests/browser"
  (cd "$scored_browser" && npm ci --no-audit --no-fund)
fi

# npm packages of the browser build's checks (axe-core, puppeteer-core), exactly as locked, and
# again whenever the lock changed. puppeteer-core drives Debian's browsers and downloads none.
web_browser="$here/../web/tests"
if [ -f "$web_browser/package-lock.json" ] &&
   [ ! "$web_browser/node_modules/.package-lock.json" -nt "$web_browser/package-lock.json" ]; then
  echo "Installing npm packages in web/tests"
  (cd "$web_browser" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund)
fi
