#!/usr/bin/env python3
"""The attacks of the second round against a vesquin-scored of one's own on loopback, each
followed by what a normal client gets, the process's memory and the log's growth.

    server/bench/attacks.py [VESQUIN_SCORED]     (default build/bin/vesquin-scored)

Prints `name: value unit` lines. Sources are 127.x.y.z loopback addresses only; every attack
is bounded in count and time."""

import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

BINARY = sys.argv[1] if len(sys.argv) > 1 else "build/bin/vesquin-scored"


def source(i):
    return "127.%d.%d.%d" % (10 + i // 62500, (i // 250) % 250 + 1, i % 250 + 1)


class Server:
    def __init__(self, folder, *extra):
        self.log_path = os.path.join(folder, "server.log")
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([BINARY, "--db", os.path.join(folder, "scores.db"), "--listen",
                                      "127.0.0.1:0", *extra], stderr=self.log)
        for _ in range(100):
            time.sleep(0.05)
            m = re.search(rb"listening on 127\.0\.0\.1:(\d+)", open(self.log_path, "rb").read())
            if m:
                self.port = int(m.group(1))
                return
        raise SystemExit("the server did not start")

    def rss_mb(self):
        for line in open("/proc/%d/status" % self.proc.pid):
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
        return 0

    def log_bytes(self):
        return os.path.getsize(self.log_path)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)


def request(port, path, timeout=20.0):
    """A normal client: one request, its status and how long it took (None when unanswered)."""
    start = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            s.sendall(("GET %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n" % path).encode())
            data = b""
            while len(data) < 12:
                chunk = s.recv(4096)
                if not chunk:
                    break
                data += chunk
        return int(data[9:12]), time.monotonic() - start
    except (OSError, ValueError):
        return None, time.monotonic() - start


def half_sent(server, count):
    """Connections from `count` addresses that send part of a request head, then close."""
    for i in range(count):
        s = socket.socket()
        s.bind((source(i), 0))
        s.setblocking(False)
        try:
            s.connect(("127.0.0.1", server.port))
        except BlockingIOError:
            pass
        try:
            s.send(b"GET /vesquin/ HTTP/1.1\r\nHost: ")
        except OSError:
            pass
        s.close()
    status, took = request(server.port, "/vesquin/top.json", timeout=200)
    print("half_sent_%d_normal_client_wait: %.2f s (status %s)" % (count, took, status))


def kept_alive(server, addresses=64, seconds=15):
    """Each address holds one kept-alive connection with a request every 3 s; a normal client
    asks once a second meanwhile."""
    stop = threading.Event()

    def hold(i):
        try:
            s = socket.socket()
            s.bind((source(1000 + i), 0))
            s.connect(("127.0.0.1", server.port))
            s.settimeout(5)
            while not stop.is_set():
                s.sendall(b"GET /vesquin/top.json HTTP/1.1\r\nHost: x\r\n\r\n")
                s.recv(65536)
                stop.wait(3)
        except OSError:
            pass

    threads = [threading.Thread(target=hold, args=(i,)) for i in range(addresses)]
    for t in threads:
        t.start()
    time.sleep(1)
    answered = 0
    asked = seconds // 3
    for _ in range(asked):
        status, _ = request(server.port, "/vesquin/top.json", timeout=3)
        answered += status == 200
    stop.set()
    for t in threads:
        t.join()
    print("kept_alive_%d_normal_client_answers: %d of %d" % (addresses, answered, asked))


def log_flood(server, connections=4, seconds=5):
    """Kept-alive connections sending as fast as they are answered, and one 30,000-byte method."""
    before = server.log_bytes()
    with socket.create_connection(("127.0.0.1", server.port)) as s:
        s.sendall(b"G" * 30000 + b" /vesquin/ HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        s.recv(4096)
    time.sleep(0.2)
    longest = max(len(l) for l in open(server.log_path, "rb").read()[before:].splitlines())
    print("log_line_after_30000_byte_method: %d bytes" % longest)
    before = server.log_bytes()
    deadline = time.monotonic() + seconds
    burst = b"GET /vesquin/nothing HTTP/1.1\r\nHost: x\r\n\r\n" * 100

    def flood():
        with socket.create_connection(("127.0.0.1", server.port)) as s:
            s.settimeout(2)
            try:
                while time.monotonic() < deadline:
                    s.sendall(burst)
                    got = 0
                    while got < 100 * 100:
                        chunk = s.recv(65536)
                        if not chunk:
                            return
                        got += len(chunk)
            except OSError:
                pass

    threads = [threading.Thread(target=flood) for _ in range(connections)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print("log_growth_%d_connections_%d_s: %.3f MB" % (connections, seconds, (server.log_bytes() - before) / 1e6))


def top2_guesses(server, guesses=3000):
    """Guessed addresses for a player whose name and country are public, over one connection."""
    def query(addr):
        return "first_name=Ann&last_name=Lee&addr=" + addr + "&country=UK&score=90"

    ok, _ = request(server.port, "/vesquin/top1.php?" + query("7+Hill"))
    found = 0
    start = time.monotonic()
    with socket.create_connection(("127.0.0.1", server.port), source_address=("127.0.0.2", 0)) as s:
        s.settimeout(5)
        f = s.makefile("rb")
        for i in range(guesses):
            addr = "7+Hill" if i == guesses // 2 else str(i) + "+Road"
            s.sendall(("GET /vesquin/top2.php?" + query(addr) + " HTTP/1.1\r\nHost: x\r\n\r\n").encode())
            length = 0
            while True:
                line = f.readline()
                if line.lower().startswith(b"content-length:"):
                    length = int(line.split(b":")[1])
                if line in (b"\r\n", b""):
                    break
            found += length > 0 and f.read(length)[:1].isdigit()
    print("top2_guesses_%d_places_learnt: %d (in %.2f s; the submission answered %s)" %
          (guesses, found, time.monotonic() - start, ok))


def slow_readers(server, folder, readers=64):
    """Readers of a 16 MiB file that read nothing: the process's memory during and after."""
    start = server.rss_mb()
    conns = []
    for i in range(readers):
        s = socket.socket()
        s.bind((source(2000 + i), 0))
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.connect(("127.0.0.1", server.port))
        s.sendall(b"GET /vesquin/play/vesquin.wasm HTTP/1.1\r\nHost: x\r\n\r\n")
        conns.append(s)
    time.sleep(3)
    during = server.rss_mb()
    status, took = request(server.port, "/vesquin/top.json", timeout=10)
    for s in conns:
        s.close()
    time.sleep(2)
    print("slow_readers_%d_rss_before: %.0f MB" % (readers, start))
    print("slow_readers_%d_rss_during: %.0f MB" % (readers, during))
    print("slow_readers_%d_rss_after: %.0f MB" % (readers, server.rss_mb()))
    print("slow_readers_%d_normal_client: %.3f s (status %s)" % (readers, took, status))


def main():
    print("load_average: %.2f" % os.getloadavg()[0])
    with tempfile.TemporaryDirectory(prefix="scored-attacks-") as folder:
        play = os.path.join(folder, "play")
        os.mkdir(play)
        with open(os.path.join(play, "vesquin.wasm"), "wb") as f:
            f.write(os.urandom(16 << 20))
        server = Server(folder, "--rate-limit", "0", "--play", play)
        try:
            half_sent(server, 300)
            time.sleep(6)
            half_sent(server, 1500)
            time.sleep(6)
            kept_alive(server)
            log_flood(server)
            slow_readers(server, folder)
            status, took = request(server.port, "/vesquin/top.json")
            print("normal_client_after_all: %.3f s (status %s)" % (took, status))
        finally:
            server.stop()
        os.remove(os.path.join(folder, "scores.db"))
        server = Server(folder, "--rate-limit", "10")
        try:
            top2_guesses(server)
        finally:
            server.stop()


if __name__ == "__main__":
    main()
