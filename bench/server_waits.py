#!/usr/bin/env python3
"""Watches how long the sound server's threads wait for a core: every 5 ms it reads each
thread's run-queue wait (the second field of /proc/PID/task/TID/schedstat) until the server
exits or the file STOP exists, then prints, per thread, its longest stretch of waiting: reads
in a row between which it waited at least half the time, their waits summed.
Dropouts at the sink when only the server's main thread waited long are the machine's, not the
stream's: every block the game writes passes through that thread.

    server_waits.py SERVER_PID STOP_FILE
"""

import os
import sys
import time


def waits(pid):
    found = {}
    for tid in os.listdir("/proc/%s/task" % pid):
        try:
            with open("/proc/%s/task/%s/schedstat" % (pid, tid)) as f:
                found[tid] = int(f.read().split()[1])
        except (OSError, IndexError, ValueError):
            pass
    return found


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    pid, stop = sys.argv[1], sys.argv[2]
    try:
        last = waits(pid)
    except OSError:
        return 1
    longest = dict.fromkeys(last, 0)
    stretch = dict.fromkeys(last, 0)
    then = time.monotonic_ns()
    while not os.path.exists(stop):
        time.sleep(0.005)
        try:
            now = waits(pid)
        except OSError:
            break
        at = time.monotonic_ns()
        for tid, ns in now.items():
            waited = ns - last.get(tid, ns)
            stretch[tid] = stretch.get(tid, 0) + waited if waited * 2 >= at - then else waited
            longest[tid] = max(longest.get(tid, 0), stretch[tid])
        last, then = now, at
    main_ms = longest.get(pid, 0) / 1e6
    others_ms = max((ns for tid, ns in longest.items() if tid != pid), default=0) / 1e6
    print("server_main_thread_longest_wait: %.1f ms" % main_ms)
    print("server_sink_thread_longest_wait: %.1f ms" % others_ms)
    return 0


if __name__ == "__main__":
    sys.exit(main())
