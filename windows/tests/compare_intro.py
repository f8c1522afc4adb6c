#!/usr/bin/env python3
"""Checks a capture of the sink's monitor against the game's own mix of the same seconds: the
loudness, in windows of 20 ms from the first sound on, follows vesquin-sim's (as the browser
check's intro comparison), at its level, with no dropout.

    compare_intro.py CAPTURE.raw REFERENCE.wav

CAPTURE.raw is what parec wrote (s16le, stereo, 48 kHz). Exit 0 when it agrees; prints the
figures either way."""
import array
import math
import os
import subprocess
import sys

WINDOW = 960  # 20 ms at 48 kHz


def envelope(samples):
    """RMS of the left channel per window, from the first sound on."""
    frames = len(samples) // 2
    first = next((i for i in range(frames) if abs(samples[2 * i]) >= 33), frames)
    out = []
    for start in range(first, frames - WINDOW + 1, WINDOW):
        out.append(math.sqrt(sum(samples[2 * i] ** 2 for i in range(start, start + WINDOW)) / WINDOW))
    return out


def main():
    capture_path, reference_path = sys.argv[1:3]
    capture = array.array('h', open(capture_path, 'rb').read())
    reference = array.array('h', open(reference_path, 'rb').read()[44:])
    heard, mixed = envelope(capture), envelope(reference)
    n = min(len(heard), len(mixed), 100)
    dot = sum(heard[i] * mixed[i] for i in range(n))
    hh = sum(heard[i] ** 2 for i in range(n))
    mm = sum(mixed[i] ** 2 for i in range(n))
    similarity = dot / math.sqrt(hh * mm) if hh > 0 and mm > 0 else 0.0
    level = 10 * math.log10(hh / mm) if hh > 0 and mm > 0 else float('-inf')
    print(f'intro_windows: {n}\nintro_similarity: {similarity:.4f}\nintro_level: {level:.2f} dB')
    counter = os.path.join(os.path.dirname(__file__), '..', '..', 'bench', 'count_dropouts.py')
    dropouts = subprocess.run([sys.executable, counter, capture_path, reference_path], check=True,
                              capture_output=True, text=True).stdout
    print(dropouts, end='')
    problems = []
    if n < 50:
        problems.append(f'only {n} windows of the intro were heard')
    if similarity <= 0.95:
        problems.append(f"the intro's loudness follows vesquin-sim's only by {similarity:.3f}")
    if not abs(level) < 1.0:
        problems.append(f"the intro is {level:.2f} dB off vesquin-sim's level")
    if not dropouts.startswith('dropouts: 0 '):
        problems.append('the intro had dropouts')
    for p in problems:
        print(p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
