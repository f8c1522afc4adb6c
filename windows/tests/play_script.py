#!/usr/bin/env python3
"""Plays a vesquin-sim script by keys into the game's window under Wine (through the X
server's XTEST extension, as xdotool does, on the display of DISPLAY; the window under the
pointer takes them) and checks the game's transcript against vesquin-sim's, with the browser
check's tolerances (web/tests/check_game.mjs).

    play_script.py SCRIPT ORIGIN_FILE TICKS_FILE TRANSCRIPT EXPECTED

ORIGIN_FILE holds the game's timer start in milliseconds of the performance counter, which
Wine reads from CLOCK_MONOTONIC_RAW; TICKS_FILE the time of the last tick the game took. As in
the simulator, the ticks due by a key's time come first: on a game thread held up, the key
waits for them. Exit 0 when the transcripts agree; each fault is printed.
"""
import ctypes
import ctypes.util
import math
import sys
import time

# X's key names of the simulator's keys.
KEYS = {'enter': 'Return', 'ctrl': 'Control_L', 'escape': 'Escape', 'space': 'space', 'left': 'Left',
        'up': 'Up', 'right': 'Right', 'down': 'Down', 'd': 'd', 'n': 'n', 'y': 'y'}
CODES = {'13': 'enter', '17': 'ctrl', '27': 'escape', '32': 'space', '37': 'left', '38': 'up',
         '39': 'right', '40': 'down', '68': 'd', '78': 'n', '89': 'y'}
# A key goes this long after its script time, so that the tick due at that time comes first,
# as in the simulator. A line may come this much earlier or later than the simulator's.
KEY_DELAY_MS = 15
TOLERANCE_MS = 250


class Keyboard:
    """Key events through XTEST, each sent at once: a process per key would come late on a
    busy machine, and the game's clips are timed to the script's keys."""

    def __init__(self):
        self.x11 = ctypes.CDLL(ctypes.util.find_library('X11'))
        self.xtst = ctypes.CDLL(ctypes.util.find_library('Xtst'))
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(None)
        if not self.display:
            raise SystemExit('no X display')

    def send(self, name, down_and_up):
        code = self.x11.XKeysymToKeycode(self.display, self.x11.XStringToKeysym(name.encode()))
        if down_and_up:
            self.xtst.XTestFakeKeyEvent(self.display, code, 1, 0)
        self.xtst.XTestFakeKeyEvent(self.display, code, 0, 0)
        self.x11.XFlush(self.display)


def now_ms():
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW) * 1000.0


def parse_transcript(text):
    lines = []
    for line in text.splitlines():
        if not line:
            continue
        t, event = line.split(' ', 1)
        if event.startswith('show '):
            continue
        lines.append((int(t), event))
    return lines


def plan(script):
    """The script's keys as (script time, xdotool key, down only) and its forced draws."""
    at, keys, draws = 0, [], []
    for raw in script.splitlines():
        words = raw.split()
        if not words or words[0].startswith('#'):
            continue
        command, args = words[0], words[1:]
        if command == 'wait':
            at += int(args[0])
        elif command == 'rand':
            draws += args
        elif command in ('key', 'keyup'):
            name = CODES.get(args[0], args[0].lower())
            keys.append((at, KEYS[name], command == 'key'))
        elif command != 'show':
            raise SystemExit(f'the script\'s "{command}" cannot be played by keys')
    return keys, draws, at


def compare(played, expected, shift, startup, key_times, problems):
    """As compareTranscripts in web/tests/check_game.mjs: the start-up's lines come at once in
    the simulator; a stall of the game's own work between lines the simulator gives at once
    is allowed to the lines after it, until the next key."""
    deviation, stalled = 0, 0
    for i in range(max(len(played), len(expected))):
        w = played[i] if i < len(played) else None
        s = expected[i] if i < len(expected) else None
        if w:
            w = (w[0] - (w[0] if i < startup else shift), w[1])
        if not w or not s or w[1] != s[1]:
            problems.append(f'transcript differs at line {i + 1}: game {w}, vesquin-sim {s}')
            return deviation
        if i > startup and any(expected[i - 1][0] < k <= s[0] for k in key_times):
            stalled = 0
        if i > startup and s[0] == expected[i - 1][0]:
            stall = w[0] - (played[i - 1][0] - shift)
            if stall > TOLERANCE_MS:
                problems.append(f'line {i + 1} "{s[1]}" came {stall} ms after line {i}, at once in vesquin-sim')
                return deviation
            stalled += max(stall, 0)
        off = min(abs(w[0] - s[0]), abs(w[0] - stalled - s[0]))
        if off > TOLERANCE_MS:
            problems.append(f'line {i + 1} "{s[1]}" at {w[0]} ms, vesquin-sim {s[0]} ms')
            return deviation
        deviation = max(deviation, off)
    return deviation


def last_tick(path):
    try:
        return float(open(path).read().strip() or 0)
    except (OSError, ValueError):
        return 0.0


def main():
    script_path, origin_path, ticks_path, transcript_path, expected_path = sys.argv[1:6]
    keys, _, end = plan(open(script_path).read())
    keyboard = Keyboard()
    origin = float(open(origin_path).read())
    startup = len(parse_transcript(open(transcript_path, encoding='utf-8').read()))
    shift = math.ceil((now_ms() - origin) / 50) * 50 + 50
    for at, key, down in keys:
        due = origin + shift + at + KEY_DELAY_MS
        time.sleep(max(0.0, (due - now_ms()) / 1000))
        # The tick due at or before the key's time has been taken.
        after = origin + shift + at
        tick_due = origin + (after - origin) // 50 * 50
        while last_tick(ticks_path) < tick_due and now_ms() < due + 1000:
            time.sleep(0.001)
        keyboard.send(key, down)
    time.sleep(max(0.0, (origin + shift + end + 200 - now_ms()) / 1000))
    played = parse_transcript(open(transcript_path, encoding='utf-8').read())
    expected = parse_transcript(open(expected_path, encoding='utf-8').read())
    problems = []
    deviation = compare(played, expected, shift, startup, [k[0] for k in keys], problems)
    for p in problems:
        print(p, file=sys.stderr)
    print(f'{len(played)} lines, at most {deviation} ms off vesquin-sim\'s times')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
