#!/usr/bin/env bash
# The real program under Xvfb: its window (title, client size, place, fixed size, icon), the
# picture it paints, the About box on Alt+A, Enter and Escape leaving it open, both ways of
# closing it (the window manager's close message, Alt+F4), and the start-up messages when
# the clips or the sound output are missing.
# Usage: program_smoke_test.sh PATH/TO/vesquin   (the data folder lies beside it)
set -u

if [ "${1:-}" != --inner ]; then
  exe=${1:?usage: program_smoke_test.sh PATH/TO/vesquin}
  if ! command -v xvfb-run >/dev/null || ! command -v Xvfb >/dev/null; then
    echo "Xvfb is not installed (scripts/install-deps.sh installs it): skipped"
    exit 77
  fi
  for tool in xauth xdotool xwininfo xprop python3 timeout; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
  done
  exec timeout 120 xvfb-run -a -s "-screen 0 640x480x24" bash "$0" --inner "$exe"
fi

exe=$2
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Under the sanitizers: SDL's D-Bus connection leaks a buffer of libdbus at exit.
printf 'leak:libdbus-1.so\n' >"$scratch/lsan.supp"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$scratch/lsan.supp"
pid=
fail() {
  echo "FAIL: $*"
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  echo "--- the program's last words:"
  grep -av 'disk i/o audio driver\|Writing to file' "$scratch/stderr.log" | tail -20
  exit 1
}

# Small X requests that no command-line tool of the distribution makes: the window's pixels,
# and the close message a window manager sends when the player closes a window.
xhelper() {
  python3 - "$@" <<'PY'
import ctypes, ctypes.util, struct, sys

x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XGetImage.restype = ctypes.c_void_p
x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                        ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]

class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 16)]

class Image(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int),
                ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]

def channel(pixel, mask):
    shift = (mask & -mask).bit_length() - 1
    return ((pixel & mask) >> shift) * 255 // (mask >> shift)

display = x.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the display")
command, window = sys.argv[1], int(sys.argv[2], 0)

if command == "close":
    event = ClientMessage(type=33, send_event=1, window=window, format=32,
                          message_type=x.XInternAtom(display, b"WM_PROTOCOLS", 0))
    event.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x.XFlush(display)
elif command == "compare":
    with open(sys.argv[3], "rb") as f:
        bmp = f.read()
    offset, = struct.unpack_from("<I", bmp, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", bmp, 18)
    assert bits == 24 and height > 0, "the test reads bottom-up 24-bit pictures only"
    stride = (width * 3 + 3) // 4 * 4
    p = x.XGetImage(display, window, 0, 0, width, height, 0xFFFFFFFF, 2)
    if not p:
        sys.exit("cannot read the window's pixels")
    img = Image.from_address(p)
    step = img.bits_per_pixel // 8
    order = "little" if img.byte_order == 0 else "big"
    off = 0
    for row in range(height):
        for col in range(width):
            at = offset + (height - 1 - row) * stride + col * 3
            want = (bmp[at + 2], bmp[at + 1], bmp[at])
            base = row * img.bytes_per_line + col * step
            pixel = int.from_bytes(bytes(img.data[base:base + step]), order)
            got = (channel(pixel, img.red_mask), channel(pixel, img.green_mask), channel(pixel, img.blue_mask))
            if max(abs(a - b) for a, b in zip(want, got)) > 8:
                off += 1
    if off > width * height // 100:
        sys.exit(f"{off} of {width * height} pixels differ from the picture")
x.XCloseDisplay(display)
PY
}

start() {
  "${1:-$exe}" 2>>"$scratch/stderr.log" &
  pid=$!
  win=$(timeout 10 xdotool search --sync --name '^Vesquin$' 2>/dev/null | head -1)
  [ -n "$win" ] || fail "no window titled Vesquin appeared"
  # No window manager here: the keyboard goes to the window under the pointer.
  xdotool mousemove 100 150
}

running() { kill -0 "$pid" 2>/dev/null; }

# Waits up to 10 s for the program to end; fails unless it ended with status 0.
ended() {
  for _ in $(seq 100); do
    running || break
    sleep 0.1
  done
  running && fail "the program did not end after $1"
  wait "$pid"
  local status=$?
  pid=
  [ "$status" -eq 0 ] || fail "the program ended with status $status after $1"
}

about_open() { xdotool search --onlyvisible --name '^About Vesquin$' >/dev/null 2>&1; }

# Opens the About box with Alt+A and closes it with the given key.
about_box() {
  xdotool key alt+a
  for _ in $(seq 50); do about_open && break; sleep 0.1; done
  about_open || fail "Alt+A opened no window titled About Vesquin"
  xdotool key "$1"
  for _ in $(seq 50); do about_open || break; sleep 0.1; done
  about_open && fail "$1 did not close the About box"
  running || fail "closing the About box with $1 ended the program"
}

start
info=$(xwininfo -id "$win")
grep -q 'Width: 215$' <<<"$info" || fail "client area is not 215 wide: $info"
grep -q 'Height: 228$' <<<"$info" || fail "client area is not 228 high: $info"
grep -q 'Absolute upper-left X:  0$' <<<"$info" || fail "window not at x 0: $info"
grep -q 'Absolute upper-left Y:  0$' <<<"$info" || fail "window not at y 0: $info"
hints=$(xprop -id "$win" WM_NORMAL_HINTS)
grep -q 'minimum size: 215 by 228' <<<"$hints" && grep -q 'maximum size: 215 by 228' <<<"$hints" ||
  fail "the window can be resized: $hints"
xprop -id "$win" _NET_WM_ICON | grep -aq 'Icon (32 x 32)' || fail "the window has no 32 x 32 icon"
sleep 0.5
xhelper compare "$win" "$(dirname "$exe")/picture.bmp" || fail "the window does not show the picture"

about_box Escape
about_box Return
# Enter and Escape go to the game's key routing, which never closes the window on them in
# the intro (its clip lasts longer than all of this).
xdotool key Return Escape
sleep 0.5
running || fail "Enter or Escape ended the program"

xhelper close "$win" || fail "cannot send the close message"
ended "the window's close message"

start
xdotool key alt+F4
ended "Alt+F4"

# SDL's message boxes name themselves in a way xdotool 3.2016 does not read.
message_boxes() { xwininfo -root -tree | awk '/"Error!"/ { print $1 }'; }

# Counts the "Error!" boxes that come one after the other into `messages`, answering each
# with Enter. A box that Enter does not end is counted again and again.
count_messages() {
  messages=0
  local box
  while [ "$messages" -lt 5 ]; do
    box=
    for _ in $(seq 30); do
      box=$(message_boxes | head -1)
      [ -n "$box" ] && break
      sleep 0.1
    done
    [ -n "$box" ] || return 0
    messages=$((messages + 1))
    sleep 0.2
    xdotool key --window "$((box))" Return
    # The next box may come under the same window id: wait for this one to go, a while.
    for _ in $(seq 30); do
      message_boxes | grep -qx "$box" || break
      sleep 0.1
    done
  done
}

# The executable alone in a folder: its data folder has the picture but no clips.
bare=$scratch/bare
mkdir "$bare"
cp "$exe" "$(dirname "$exe")/picture.bmp" "$bare/"

start "$bare/vesquin"
count_messages
[ "$messages" = 1 ] || fail "missing clips gave $messages messages, not the one of the second initialisation"
running || fail "the program ended after its start-up message"
xhelper close "$win" || fail "cannot send the close message"
ended "the close message to a half-initialised window"

SDL_AUDIODRIVER=no-such-output start "$bare/vesquin"
count_messages
[ "$messages" = 2 ] || fail "no sound output gave $messages messages, not two"
running || fail "the program ended after its start-up messages"
xdotool key alt+F4
ended "Alt+F4 on a half-initialised window"

echo "program smoke test passed"
