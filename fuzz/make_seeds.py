#!/usr/bin/env python3
"""Writes the committed seed corpora of the fuzz targets from the game's real data files and
examples. Seeds are kept small: clips are cut to a few hundred bytes of their real samples."""

import os
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")
KEY = [7, 19, 4, 12, 22, 9, 15, 3, 25, 11]


def put(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("latin-1"))


def reverse50(b):
    return b[:50][::-1] + b[50:]


def wave(channels, rate, bits, data, extra_chunk=b""):
    align = channels * bits // 8
    fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * align, align, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt + extra_chunk + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def real_samples(path, frames):
    """The first 16-bit samples of a real clip (48 kHz, 16 bits), interleaved."""
    image = reverse50(open(os.path.join(ROOT, "data", path), "rb").read())
    channels = struct.unpack("<H", image[22:24])[0]
    data = image[44:]
    middle = len(data) // 2 // (2 * channels) * (2 * channels)  # past the clip's quiet start
    count = frames * channels
    return channels, list(struct.unpack("<%dh" % count, data[middle:middle + 2 * count]))


def as_bits(samples, bits):
    if bits == 16:
        return struct.pack("<%dh" % len(samples), *samples)
    return bytes((s >> 8) + 128 for s in samples)


def clips():
    seeds = {}
    for path, frames in (("TestSpk/f_left.vgz", 200), ("menu/bgrn.vgz", 100)):
        channels, samples = real_samples(path, frames)
        name = os.path.basename(path).replace(".vgz", "")
        seeds[name + "-48k16"] = wave(channels, 48000, 16, as_bits(samples, 16))
        for rate, bits in ((8000, 8), (22050, 16), (44100, 16)):
            step = 48000 / rate
            cut = [samples[int(i * step) * channels + c] for i in range(int(frames / step)) for c in range(channels)]
            seeds["%s-%d-%d" % (name, rate, bits)] = wave(channels, rate, bits, as_bits(cut, bits))
    seeds["four-bytes"] = wave(1, 48000, 16, b"\x10\x00\xf0\xff")
    return seeds


def best_file(scores, tail=b""):
    plain = bytearray()
    text = bytearray(8)
    for s in scores:
        digits = str(s).encode()[:7]
        text[: len(digits)] = digits
        if len(digits) < 8:
            text[len(digits)] = 0
        plain += text[:7]
    plain += tail
    return bytes((b + KEY[j % 10]) % 256 if j < 100 else b for j, b in enumerate(plain))


def main():
    for name, image in clips().items():
        put("clip", name + ".vgz", reverse50(image))
        put("clip_tool", name + ".vgz", reverse50(image))
    _, samples = real_samples("TestSpk/f_left.vgz", 50)
    put("clip_tool", "with-list-chunk.wav", wave(1, 48000, 16, as_bits(samples, 16), b"LIST\x04\x00\x00\x00INFO"))
    put("clip_tool", "f_left-22050-16.wav", clips()["f_left-22050-16"])

    score = lambda s: struct.pack("<I", s - 1)
    put("best", "empty-list", score(68) + open(os.path.join(ROOT, "data", "best.dat"), "rb").read())
    put("best", "nine", score(50) + best_file([900, 800, 700, 600, 500, 400, 300, 200, 100]))
    put("best", "ten-lowest-300", score(301) + best_file([1000, 900, 800, 700, 600, 500, 400, 350, 320, 300]))
    put("best", "trailing-piece", score(7) + best_file([42, 0], b"abc"))
    put("best", "eleven", score(99) + best_file([11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1]))

    put("details", "four-lines", "Ada\nLovelace\n12 St James's Square\nEngland\n")
    put("details", "crlf", "Ada\r\nLovelace\r\n12 St James's Square\r\nEngland\r\n")
    put("details", "two-lines", "Ada\nLovelace\n")
    put("details", "grave-and-answers", "A`da\nLovelace\n\nEngland\nn\nAda\nL\nx\nUK\ny\n")

    for name, body in (("first", "1"), ("tenth", "10"), ("one-newline", "1\n"), ("seventh", "7 of 10"),
                       ("zero", "0"), ("empty", ""), ("page", "<html>error</html>"), ("zero-byte", "1\0junk")):
        put("place", name, body)

    put("sim", "win.vsim", open(os.path.join(ROOT, "examples", "win.vsim")).read())
    put("sim", "opening.vsim", "wait 6000\nkey Down\nshow\n")
    menu = "key Ctrl\nwait 300\n"
    put("sim", "speakers.vsim", menu + "key Down\nkey Enter\nwait 3000\nkey Escape\nwait 500\nshow\n")
    put("sim", "learn.vsim", menu + "key Down\nkey Down\nkey Enter\nwait 500\nkey Space\nwait 500\nkey Escape\n")
    put("sim", "best-list.vsim", menu + "key Up\nkey Up\nkey Up\nkey Enter\nwait 500\nkey Down\nwait 500\nkey Escape\n")
    put("sim", "send.vsim", menu + "rand 0 0\nkey Enter\nwait 300\nkey Escape\nwait 3000\nkey Up\nkey Up\nkey Enter\n"
        "wait 300\nkey Y\nreply -\nreply 7\\n\nwait 7000\nkey Escape\nwait 500\nclose\n")
    put("sim", "play.vsim", menu + "rand 2 3\nkey Enter\nwait 300\nkey Up\nkey Left\nkey Up\nkey Space\nwait 2100\n"
        "keyup Up\nkey 97\nkey Right\nkey Up\nwait 50\nkey Escape\nwait 2000\nshow\n")


if __name__ == "__main__":
    sys.exit(main())
