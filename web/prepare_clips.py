#!/usr/bin/env python3
"""Compresses the game's clips for the page: each clip file's WAVE image becomes an Ogg Opus
file, and clips.json keeps what the page needs to give the loader the same clip file back
(the 44-byte header, the sample data length, the channel count)."""

import base64
import concurrent.futures
import hashlib
import json
import os
import subprocess
import sys
import tempfile


def wave_image(path):
    with open(path, 'rb') as f:
        data = bytearray(f.read())
    data[:50] = data[:50][::-1]
    return bytes(data)


def versioned(out_dir, path):
    # The file's URL names its content, so that the server may let browsers keep it for good.
    with open(path, 'rb') as f:
        digest = hashlib.sha256(f.read()).hexdigest()[:16]
    return os.path.relpath(path, out_dir) + '?v=' + digest


def encode(data_dir, out_dir, relative, bitrate):
    image = wave_image(os.path.join(data_dir, relative))
    channels = int.from_bytes(image[22:24], 'little')
    rate = int.from_bytes(image[24:28], 'little')
    bits = int.from_bytes(image[34:36], 'little')
    length = int.from_bytes(image[40:44], 'little')
    if rate != 48000 or bits != 16:
        raise SystemExit(f'{relative}: {rate} Hz {bits}-bit; the page takes 48 kHz 16-bit clips')
    target = os.path.join(out_dir, 'clips', os.path.splitext(relative)[0] + '.opus')
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with tempfile.NamedTemporaryFile(suffix='.wav') as wav:
        wav.write(image)
        wav.flush()
        subprocess.run(['opusenc', '--quiet', '--bitrate', str(bitrate), '--comp', '10', '--framesize', '20',
                        wav.name, target], check=True)
    return {
        'name': relative,
        'file': versioned(out_dir, target),
        'header': base64.b64encode(image[:44]).decode('ascii'),
        'length': length,
        'channels': channels,
    }


def main():
    data_dir, out_dir = sys.argv[1], sys.argv[2]
    bitrate = int(sys.argv[3]) if len(sys.argv) > 3 else 64
    clips = []
    for root, _, files in os.walk(data_dir):
        for name in files:
            if name.lower().endswith('.vgz'):
                clips.append(os.path.relpath(os.path.join(root, name), data_dir))
    clips.sort()
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        entries = list(pool.map(lambda c: encode(data_dir, out_dir, c, bitrate), clips))
    manifest = {'clips': entries, 'best': 'best.dat', 'hrtf': versioned(out_dir, os.path.join(out_dir, 'hrtf.table'))}
    with open(os.path.join(out_dir, 'clips.json'), 'w') as f:
        json.dump(manifest, f, indent=0)
    print(f'{len(entries)} clips')


if __name__ == '__main__':
    main()
