#!/usr/bin/env python3
"""Session start cost against the number of idle admitted sessions, for
bench/session_scale_bench.sh.

    session_scale_probe.py SERVER_PID FRESH_SESSIONS

Grows the idle sessions to each N in turn and times FRESH_SESSIONS fresh sessions at each.
"""

import os
import socket
import sys
import time

from upload_probe import NAMESPACE, read_line

# A query every server answers at once without changing anything: "not cached".
QUERY = b"IS_FILE_CACHED\n" + b"0" * 64 + b"\n1\n"
PORT = 7387


def admitted_session():
    # A server out of descriptors leaves a new connection waiting in its backlog.
    sock = socket.create_connection(("127.0.0.1", PORT), timeout=10)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    sock.sendall(NAMESPACE + QUERY)
    if read_line(sock) != NAMESPACE or read_line(sock) != b"\n":
        raise SystemExit("unexpected handshake or answer")
    return sock


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    server, fresh = int(sys.argv[1]), int(sys.argv[2])
    idle = []
    print(f"{'idle sessions':>14} {'wall ms/session':>16} {'server cpu ms/session':>22}", flush=True)
    baseline = None
    for count in (10, 100, 1000, 5000, 10000):
        while len(idle) < count:
            try:
                idle.append(admitted_session())
            except (OSError, SystemExit) as failure:
                print(f"{count:>14} not reached: idle session {len(idle) + 1} failed ({failure})",
                      flush=True)
                break
        if len(idle) < count:
            break
        cpu_before = cpu_seconds(server)
        start = time.perf_counter()
        for _ in range(fresh):
            admitted_session().close()
        wall = (time.perf_counter() - start) / fresh * 1000
        cpu = (cpu_seconds(server) - cpu_before) / fresh * 1000
        baseline = baseline or wall
        print(f"{count:>14} {wall:>16.3f} {cpu:>22.3f}   ({wall / baseline:.2f} of N = 10)",
              flush=True)
    for sock in idle:
        sock.close()


if __name__ == "__main__":
    main()
