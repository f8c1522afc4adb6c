#!/usr/bin/env python3
"""What PipeWire's graph did in a session: the quanta the game's stream asked for (node.latency
of the nodes of application APP, from a `pw-dump --monitor` log) and the quanta the graph ran
at in the cycles the game's node took part in (from the folder where `pw-profiler` ran and was
stopped with SIGINT: profiler.log, whose fourth column is each cycle's duration in
microseconds, and Timing3.plot, which names the column of each node).

    pipewire_graph.py DUMP_LOG PROFILER_FOLDER [APP]

APP defaults to Vesquin. Prints `stream_quantum_asked_largest`, the count of distinct asked
quanta that are no power of two, `graph_quantum` (the one most of those cycles ran at) and
`graph_quantum_largest`, in frames at 48 kHz."""

import collections
import json
import os
import re
import sys

RATE = 48000


def asked_quanta(dump_path, app):
    """Every node.latency the app's nodes carried, in frames at RATE."""
    with open(dump_path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    decoder = json.JSONDecoder()
    quanta = []
    at = 0
    while True:
        while at < len(text) and text[at].isspace():
            at += 1
        if at >= len(text):
            break
        try:
            objects, at = decoder.raw_decode(text, at)
        except ValueError:
            break  # the monitor was stopped in the middle of a record
        for node in objects:
            props = ((node or {}).get("info") or {}).get("props") or {}
            latency = props.get("node.latency")
            if props.get("application.name") != app or not latency:
                continue
            num, _, denom = latency.partition("/")
            quanta.append(round(int(num) * RATE / int(denom or RATE)))
    return quanta


def graph_quanta(folder, app):
    """The quantum of each cycle the app's node took part in, in frames at RATE."""
    with open(os.path.join(folder, "Timing3.plot"), encoding="utf-8", errors="replace") as f:
        columns = [int(c) for c, name in re.findall(r'using (\d+) title "([^"]*)/\d+"', f.read()) if name == app]
    quanta = []
    with open(os.path.join(folder, "profiler.log"), encoding="utf-8", errors="replace") as f:
        for line in f:
            fields = line.split("\t")
            took_part = any(c <= len(fields) and fields[c - 1].strip() for c in columns)
            if took_part and len(fields) > 3 and fields[3].strip().isdigit():
                quanta.append(round(int(fields[3]) * RATE / 1e6))
    return quanta


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    app = sys.argv[3] if len(sys.argv) > 3 else "Vesquin"
    asked = asked_quanta(sys.argv[1], app)
    ran = graph_quanta(sys.argv[2], app)
    if asked:
        distinct = sorted(set(asked))
        print("# quanta the stream asked for: %s" % " ".join(str(q) for q in distinct))
        print("stream_quantum_asked_largest: %d frames" % max(asked))
        print("stream_quanta_not_power_of_two: %d quanta" % sum(1 for q in distinct if q & (q - 1)))
    if ran:
        counts = collections.Counter(ran)
        print("# cycles per quantum: %s" % ", ".join("%d: %d" % kv for kv in sorted(counts.items())))
        print("graph_quantum: %d frames" % counts.most_common(1)[0][0])
        print("graph_quantum_largest: %d frames" % max(ran))
    return 0


if __name__ == "__main__":
    sys.exit(main())
