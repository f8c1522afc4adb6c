#!/usr/bin/env bash
# Cross-builds the game for Windows into BUILD (default build-windows): vesquin.exe,
# vesquin-details.exe, the tests, and beside them the game folder's data (the clips, an empty
# best.dat) and the head-related filter table prepared by a native tool.
# Usage: windows/build.sh [BUILD] [TARGET...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="${1:-$root/build-windows}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(vesquin vesquin-details vesquin_tests)
mkdir -p "$build"
build="$(cd "$build" && pwd)"

cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release ${VESQUIN_SCORE_SERVER:+-DVESQUIN_SCORE_SERVER=$VESQUIN_SCORE_SERVER} >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

# The filter table, at the mixer's rate, again only when its tool or format changed.
tool="$build/native/vesquin-hrtf-table"
mkdir -p "$build/native" "$build/bin"
if [ ! -x "$tool" ] || [ "$root/tools/hrtf_table/hrtf_table.cpp" -nt "$tool" ] ||
   [ "$root/src/platform/prepared_hrtf/sofa_table_format.h" -nt "$tool" ]; then
  g++ -std=c++20 -O2 -I"$root/src" "$root/tools/hrtf_table/hrtf_table.cpp" $(pkg-config --cflags --libs libmysofa) -o "$tool"
fi
if [ ! -f "$build/bin/hrtf.table" ] || [ "$tool" -nt "$build/bin/hrtf.table" ]; then
  "$tool" /usr/share/libmysofa/default.sofa 48000 "$build/bin/hrtf.table" >/dev/null
fi
# The clip folders and an empty best list, as beside the Linux build's program.
cmake -DSRC="$root/data" -DDST="$build/bin" -P "$root/cmake/install_data.cmake"
echo "The Windows build is in $build/bin"
