#!/usr/bin/env python3
"""Checks the speaker test's first clip, heard from ahead and a little to the left, against
the game's own mix of it (vesquin-sim, through libmysofa's filters): the left ear louder than
the right by the same decibels (within 1 dB), as the browser check does for its table.

    compare_ears.py CAPTURE.raw REFERENCE.wav

CAPTURE.raw is what parec wrote (s16le, stereo, 48 kHz) from shortly before the Enter that
started the test; REFERENCE.wav is vesquin-sim's mix with that Enter at 600 ms. The menu's
background loop sounds in both; the clip's start in the capture is found by matching the
loudness of both ears in 5 ms steps. Prints the figures; exit 0 when they agree."""
import array
import math
import sys

RATE = 48000
STEP = RATE // 200  # 5 ms


def loudness(samples, start, count):
    out = []
    for w in range(count):
        total = 0
        for i in range(start + STEP * w, start + STEP * (w + 1)):
            if 2 * i + 1 < len(samples):
                total += samples[2 * i] ** 2 + samples[2 * i + 1] ** 2
        out.append(math.sqrt(total))
    return out


def ears_db(samples, start, end):
    left = sum(samples[2 * i] ** 2 for i in range(start, min(end, len(samples) // 2)))
    right = sum(samples[2 * i + 1] ** 2 for i in range(start, min(end, len(samples) // 2)))
    return 10 * math.log10(left / right) if left > 0 and right > 0 else float('nan')


def main():
    capture = array.array('h', open(sys.argv[1], 'rb').read())
    reference = array.array('h', open(sys.argv[2], 'rb').read()[44:])
    enter = RATE * 600 // 1000
    mixed = loudness(reference, enter, 160)
    windows = loudness(capture, 0, 360)
    best, lag = -1.0, 0
    for step in range(0, 200):
        heard = windows[step:step + 160]
        norm = math.sqrt(sum(h * h for h in heard)) or 1.0
        score = sum(h * m for h, m in zip(heard, mixed)) / norm
        if score > best:
            best, lag = score, step
    start = STEP * lag
    heard_db = ears_db(capture, start + RATE // 20, start + RATE)
    mixed_db = ears_db(reference, enter + RATE // 20, enter + RATE)
    print(f'ears_heard: {heard_db:.2f} dB\nears_mixed: {mixed_db:.2f} dB\nears_lag: {lag * 5} ms')
    if not (abs(heard_db - mixed_db) < 1.0 and heard_db > 0.5):
        print('the speaker test is not heard from where the game places it', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
