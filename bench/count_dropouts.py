#!/usr/bin/env python3
"""Counts dropouts in a capture of the game's sound: runs of at least 2 ms of digital silence
(both channels exactly zero) between the first and the last sound of the capture, that the
game's own mixed output (a WAVE file of vesquin-sim over the same script) does not have.

    count_dropouts.py CAPTURE.raw REFERENCE.wav [RATE]

CAPTURE.raw is what parec wrote (s16le, stereo), or a WAVE file of the same as pw-record writes
it. Prints `dropouts`, `dropout_ms`, and the
runs the reference itself has (those are the clips' own pauses, not counted)."""

import array
import sys


def silent_runs(samples, rate, min_ms=2.0):
    """(start frame, frames) of each run of all-zero frames of at least min_ms, between the
    first and the last frame that sounds."""
    frames = len(samples) // 2
    shortest = int(rate * min_ms / 1000.0)
    first = next((i for i in range(frames) if samples[2 * i] or samples[2 * i + 1]), None)
    if first is None:
        return []
    last = next(i for i in range(frames - 1, -1, -1) if samples[2 * i] or samples[2 * i + 1])
    runs = []
    start = None
    for i in range(first, last + 1):
        silent = samples[2 * i] == 0 and samples[2 * i + 1] == 0
        if silent and start is None:
            start = i
        elif not silent and start is not None:
            if i - start >= shortest:
                runs.append((start - first, i - start))
            start = None
    return runs


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    rate = int(sys.argv[3]) if len(sys.argv) > 3 else 48000
    capture = array.array("h")
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    capture.frombytes(data[44:] if data.startswith(b"RIFF") else data)
    reference = array.array("h")
    with open(sys.argv[2], "rb") as f:
        reference.frombytes(f.read()[44:])
    own = silent_runs(reference, rate)
    heard = silent_runs(capture, rate)
    # A run of the capture is the clips' own when the reference has one of about its length
    # near the same place (the capture's clock may run late by the gaps before it).
    dropouts = []
    for start, frames in heard:
        if not any(abs(frames - f) <= rate // 100 and -rate // 10 <= start - s <= rate for s, f in own):
            dropouts.append((start, frames))
    print("dropouts: %d runs" % len(dropouts))
    print("dropout_ms: %.1f ms" % (sum(f for _, f in dropouts) * 1000.0 / rate))
    print("# the clips' own pauses in the reference: %d" % len(own))
    for start, frames in dropouts[:10]:
        print("# dropout at %.3f s, %.1f ms" % (start / rate, frames * 1000.0 / rate))
    return 0


if __name__ == "__main__":
    sys.exit(main())
