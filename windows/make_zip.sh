#!/usr/bin/env bash
# The Windows release: vesquin-<version>-windows-x86_64.zip, one folder holding vesquin.exe,
# vesquin-details.exe, the filter table, the clip folders, an empty best.dat, the player's
# guide as HTML and the licence. Unzipped anywhere writable, it plays.
# Usage: windows/make_zip.sh BUILD OUT_DIR   (BUILD as made by windows/build.sh)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$(cd "$1" && pwd)"
mkdir -p "$2"
out="$(cd "$2" && pwd)"
version="$(sed -n 's/^project(vesquin VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
server="$(sed -n 's/^VESQUIN_SCORE_SERVER:STRING=//p' "$build/CMakeCache.txt")"
name="vesquin-$version-windows-x86_64"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
folder="$stage/$name"
mkdir -p "$folder"
cp "$build/bin/vesquin.exe" "$build/bin/vesquin-details.exe" "$build/bin/hrtf.table" "$folder/"
for clips in TestSpk game learn level1 menu score; do cp -r "$root/data/$clips" "$folder/"; done
: > "$folder/best.dat"
cmake -DGUIDE_SOURCE="$root/docs/player-guide.md" -DGUIDE_OUTPUT="$stage" -DGUIDE_VERSION="$version" \
  -DGUIDE_SCORE_SERVER="$server" -DGUIDE_MARKDOWN="$(command -v markdown_py)" -P "$root/packaging/make_guide.cmake"
mv "$stage/player-guide.html" "$folder/"
# Windows' own line ends, so that Notepad shows the licence as it should.
sed 's/$/\r/' "$root/LICENSE" > "$folder/LICENSE.txt"
rm -f "$out/$name.zip"
(cd "$stage" && zip -qrX "$out/$name.zip" "$name")
echo "$out/$name.zip"
