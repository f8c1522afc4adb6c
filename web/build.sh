#!/usr/bin/env bash
# Builds the page into BUILD/site (default build-web/site): the wasm game, the page, the
# compressed clips, the head-related filter table, the app manifest with its icons and the
# service worker that keeps them all. Native tools prepare the resources.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="${1:-$root/build-web}"
site="$build/site"
export NODE_PATH=/usr/share/nodejs

emcmake cmake -S "$here" -B "$build/wasm" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/wasm" -j"$(nproc)"

mkdir -p "$build/native" "$site"
# Rebuilt only when its source changed.
if [ ! -x "$build/native/vesquin-hrtf-table" ] || [ "$root/tools/hrtf_table/hrtf_table.cpp" -nt "$build/native/vesquin-hrtf-table" ] ||
   [ "$root/src/platform/prepared_hrtf/sofa_table_format.h" -nt "$build/native/vesquin-hrtf-table" ] ||
   [ "$root/src/platform/hrtf_filters.h" -nt "$build/native/vesquin-hrtf-table" ]; then
  g++ -std=c++20 -O2 -I"$root/src" "$root/tools/hrtf_table/hrtf_table.cpp" $(pkg-config --cflags --libs libmysofa) \
    -o "$build/native/vesquin-hrtf-table"
fi
if [ ! -f "$site/hrtf.table" ] || [ "$build/native/vesquin-hrtf-table" -nt "$site/hrtf.table" ]; then
  "$build/native/vesquin-hrtf-table" /usr/share/libmysofa/default.sofa 48000 "$site/hrtf.table"
fi

# The clips, again whenever a clip or the preparation changed.
stamp="$site/clips.json"
if [ ! -f "$stamp" ] || [ -n "$(find "$root/data" "$here/prepare_clips.py" "$site/hrtf.table" -newer "$stamp" -print -quit)" ]; then
  rm -rf "$site/clips"
  python3 "$here/prepare_clips.py" "$root/data" "$site"
fi
cp "$root/data/best.dat" "$site/best.dat"
python3 "$here/make_icon.py" "$site/favicon.ico" "$root/data/icon16.bmp" "$root/data/icon.bmp"
cp "$build/wasm/vesquin.js" "$build/wasm/vesquin.wasm" "$site/"
cp "$here/page/index.html" "$here/page/page.js" "$here/page/worklet.js" "$here/page/vesquin.css" \
  "$here/page/manifest.webmanifest" "$site/"
# The installed app's icons, from the game's icon drawing.
cp "$root/packaging/vesquin.svg" "$site/icon.svg"
for size in 192 512; do rsvg-convert -w $size -h $size -o "$site/icon-$size.png" "$root/packaging/vesquin.svg"; done
# Written last: it names every file of the release.
python3 "$here/make_service_worker.py" "$here/page/sw.js" "$site"
echo "The page is in $site"
