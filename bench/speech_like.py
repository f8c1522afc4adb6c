#!/usr/bin/env python3
"""A voice-like sound as raw s16le stereo at 48 kHz: a 120 Hz voice with three formants whose
loudness rises and falls with the syllables, never silent, so that any run of silence in a
capture of it is a dropout. Makes two seconds of it into FILE; with --play, writes FILE to
standard output over and over until the reader goes. Every component has a whole number of
periods in two seconds, so the seams are clean.

    speech_like.py FILE
    speech_like.py --play FILE | pacat --raw ...
"""

import array
import math
import sys

RATE = 48000
SECONDS = 2
VOICE_HZ = 120
FORMANTS = ((700, 1.0), (1200, 0.5), (2600, 0.25))  # Hz, weight


def harmonic_weight(hz):
    return sum(w / (1.0 + ((hz - f) / 150.0) ** 2) for f, w in FORMANTS)


def make(path):
    frames = RATE * SECONDS
    harmonics = [(n * VOICE_HZ, harmonic_weight(n * VOICE_HZ)) for n in range(1, 30)]
    total = sum(w for _, w in harmonics)
    samples = array.array("h")
    for i in range(frames):
        t = i / RATE
        voice = sum(w * math.sin(2 * math.pi * hz * t) for hz, w in harmonics) / total
        # Syllables at 4 Hz, phrases at 1.5 Hz; the loudness stays above a quarter.
        loudness = 0.25 + 0.75 * (0.5 + 0.5 * math.sin(2 * math.pi * 4 * t)) * (0.6 + 0.4 * math.sin(2 * math.pi * 1.5 * t))
        value = int(12000 * loudness * voice)
        samples.extend((value, value))
    with open(path, "wb") as f:
        f.write(samples.tobytes())


def play(path):
    with open(path, "rb") as f:
        block = f.read()
    out = sys.stdout.buffer
    try:
        while True:
            out.write(block)
    except (BrokenPipeError, KeyboardInterrupt):
        pass


def main():
    if len(sys.argv) == 2 and not sys.argv[1].startswith("-"):
        make(sys.argv[1])
    elif len(sys.argv) == 3 and sys.argv[1] == "--play":
        play(sys.argv[2])
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
