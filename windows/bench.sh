#!/usr/bin/env bash
# The Windows build's figures, measured under Wine (not on Windows): start-up to the intro's
# first sample at the sink, key to first sample (median, p95), dropouts in SECONDS (default
# 60) of the intro and the menu on an idle machine and with two busy processes, and the zip's
# size. Through a private PulseAudio server's null sink, as windows/tests/run.sh sets it up.
#
#   windows/bench.sh WINDOWS_BUILD NATIVE_BIN [SECONDS]
set -euo pipefail
if [ "${1:-}" != --inner ]; then
  exec xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 800x600x24" bash "$0" --inner "$@"
fi
shift
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$(cd "$1" && pwd)"
native="$(cd "$2" && pwd)"
seconds="${3:-60}"
source "$here/tests/wine_session.sh"

bash "$here/make_zip.sh" "$build" "$work/dist" > /dev/null
zip="$(echo "$work"/dist/vesquin-*-windows-x86_64.zip)"
echo "# measured under Wine $(wine --version | cut -d' ' -f1), not on Windows; load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "wine_zip_size: $(( $(stat -c %s "$zip") / 1024 )) KiB"
mkdir -p "$work/Spiele für Åsa"
(cd "$work/Spiele für Åsa" && unzip -q "$zip")
game="$(echo "$work/Spiele für Åsa"/vesquin-*-windows-x86_64)"

# For the key figures, a silent background loop: each menu item starts from silence.
bench="$work/Bench Åsa"
cp -r "$game" "$bench"
python3 - "$bench/menu/bgrn.vgz" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
data[50:] = bytes(len(data) - 50)
data[:6] = bytes(6)  # the first six sample bytes sit reversed at the file's start
open(sys.argv[1], 'wb').write(data)
PY
python3 "$here/bench_sound.py" latency "$bench" "$work"

printf 'wait 12000\nkey Ctrl\nwait %d\n' $((seconds * 1000 - 12000)) |
  "$native/vesquin-sim" --data "$game" --wav "$work/reference.wav" > /dev/null
python3 "$here/bench_sound.py" session "$game" "$work" "$seconds" idle "$work/reference.wav"
busy=()
for _ in 1 2; do
  sh -c 'while :; do :; done' &
  busy+=($!)
  pids+=($!)
done
python3 "$here/bench_sound.py" session "$game" "$work" "$seconds" loaded "$work/reference.wav"
kill "${busy[@]}"
