#!/usr/bin/env python3
"""The Windows build's sound figures under Wine, from a capture of the sink's monitor that
this script takes (parec, raw s16le stereo 48 kHz) while it drives the game by keys.

    bench_sound.py latency GAME_FOLDER WORK    start-up and key to first sample
    bench_sound.py session GAME_FOLDER WORK SECONDS LABEL REFERENCE.wav

A capture frame's time on the host clock is told by the arrival of the block of parec's
output that holds it. Keys go through xdotool to the window under
the pointer. Prints `name: value unit` lines."""
import os
import statistics
import subprocess
import sys
import threading
import time

RATE = 48000


def now_ms():
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW) * 1000.0


class Capture:
    """parec's output read as it comes: each block's arrival on the host clock places the
    frames it holds (the block's last frame arrived then), so that a burst (the sound server
    rewinding its monitor) shifts only the frames before it."""

    def __init__(self, path):
        self.path = path
        self.process = subprocess.Popen(['parec', '--device=capture.monitor', '--format=s16le', f'--rate={RATE}',
                                         '--channels=2', '--raw', '--latency-msec=10'], stdout=subprocess.PIPE)
        self.data = bytearray()
        self.arrivals = []  # (frames so far, host time of their arrival)
        self.thread = threading.Thread(target=self._read)
        self.thread.start()

    def _read(self):
        while True:
            block = os.read(self.process.stdout.fileno(), 1 << 16)
            if not block:
                return
            self.data += block
            self.arrivals.append((len(self.data) // 4, now_ms()))

    def stop(self):
        self.process.terminate()
        self.thread.join()
        self.process.wait()
        with open(self.path, 'wb') as out:
            out.write(self.data)

    def frame_at(self, ms):
        """The first frame that sounded at or after host time `ms`."""
        for count, arrived in list(self.arrivals):
            at = count - (arrived - ms) * RATE / 1000
            if at <= count:
                return max(0, int(at))
        return len(self.data) // 4

    def time_of(self, frame):
        for count, arrived in list(self.arrivals):
            if count >= frame:
                return arrived - (count - frame) * 1000 / RATE
        return None

    def silent_before(self, ms, span_ms=100, threshold=64):
        """Whether the `span_ms` before host time `ms` were silent."""
        samples = memoryview(bytes(self.data)).cast('h')
        end = min(self.frame_at(ms), len(samples) // 2)
        begin = max(0, end - span_ms * RATE // 1000)
        return all(abs(samples[2 * i]) <= threshold and abs(samples[2 * i + 1]) <= threshold for i in range(begin, end))

    def first_sound_after(self, ms, threshold=64):
        """Host time of the first frame after host time `ms` whose level passes threshold."""
        samples = memoryview(bytes(self.data)).cast('h')
        for i in range(self.frame_at(ms), len(samples) // 2):
            if abs(samples[2 * i]) > threshold or abs(samples[2 * i + 1]) > threshold:
                return self.time_of(i)
        return None


def start_game(folder, work):
    window_before = set(subprocess.run(['xdotool', 'search', '--name', '^Vesquin$'], capture_output=True,
                                       text=True).stdout.split())
    launched = now_ms()
    game = subprocess.Popen(['wine', os.path.join(folder, 'vesquin.exe')], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    window = None
    for _ in range(300):
        found = set(subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^Vesquin$'],
                                   capture_output=True, text=True).stdout.split()) - window_before
        if found:
            window = found.pop()
            break
        time.sleep(0.05)
    if window:
        # Keys go to the window under the pointer; a click makes it the one in front for Wine.
        subprocess.run(['xdotool', 'mousemove', '--window', window, '100', '120', 'click', '1'], check=True)
    return game, launched


def key(name):
    at = now_ms()
    subprocess.run(['xdotool', 'key', name], check=True)
    return at


def latency(folder, work):
    capture = Capture(os.path.join(work, 'latency.raw'))
    time.sleep(1.0)
    game, launched = start_game(folder, work)
    time.sleep(3.0)
    first = capture.first_sound_after(launched)
    # The menu's opening prompt, then Down after each item has ended: each item starts from
    # silence (the bench's folder has a silent background loop).
    key('ctrl')
    time.sleep(6.5)
    delays = []
    for _ in range(21):
        pressed = key('Down')
        time.sleep(2.8)
        # Only a press into silence tells when its sound began.
        heard = capture.first_sound_after(pressed)
        if heard is not None and capture.silent_before(pressed):
            delays.append(heard - pressed)
    key('alt+F4')
    game.wait(timeout=15)
    capture.stop()
    if first is not None:
        print(f'wine_startup_to_first_sample: {first - launched:.0f} ms')
    if delays:
        delays.sort()
        print(f'wine_key_to_first_sample_median: {statistics.median(delays):.1f} ms')
        print(f'wine_key_to_first_sample_p95: {delays[min(len(delays) - 1, int(0.95 * len(delays)))]:.1f} ms')
        print(f'# {len(delays)} presses: {", ".join(f"{d:.0f}" for d in delays)}')


def session(folder, work, seconds, label, reference):
    raw = os.path.join(work, f'session-{label}.raw')
    capture = Capture(raw)
    # A recorder younger than about a second made the null sink drop a block of Wine's stream
    # as it joined: the game starts once the recorder has settled.
    time.sleep(1.5)
    game, _ = start_game(folder, work)
    time.sleep(12.0)
    key('ctrl')
    time.sleep(seconds - 12.0)
    key('alt+F4')
    game.wait(timeout=15)
    capture.stop()
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run([sys.executable, os.path.join(here, '..', 'bench', 'count_dropouts.py'), raw, reference],
                         capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        if not line.startswith('#'):
            name, value = line.split(':', 1)
            print(f'wine_{name}_{label}:{value}')


if __name__ == '__main__':
    if sys.argv[1] == 'latency':
        latency(sys.argv[2], sys.argv[3])
    else:
        session(sys.argv[2], sys.argv[3], float(sys.argv[4]), sys.argv[5], sys.argv[6])
