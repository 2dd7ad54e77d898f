#!/usr/bin/env python3
"""Times one upload through the session protocol, for bench/transfer_bench.sh.

    upload_probe.py plain PORT FILE            raw bytes to a listener (the baseline)
    upload_probe.py file PORT FILE CHECKSUM    FILE, then IS_FILE_CACHED until it says yes
    upload_probe.py cached PORT FILE CHECKSUM  FILE_CACHE

Every mode sends with sendfile(), so the sender costs the same in all of them. Prints the
seconds until the server acknowledged (for "plain": until the listener closed); for "file"
also the seconds until the session answered its next command, and until the file was cached.
"""

import os
import socket
import sys
import time

NAMESPACE = b"http://quorvex.example/namespace/quorvexmill/pmd\n"


def read_line(sock):
    line = bytearray()
    while not line.endswith(b"\n"):
        piece = sock.recv(1)
        if not piece:
            raise SystemExit(f"the server closed the connection after {bytes(line)!r}")
        line += piece
    return bytes(line)


def expect(sock, wanted):
    got = read_line(sock)
    if got != wanted:
        raise SystemExit(f"expected {wanted!r}, got {got!r}")


def session(port):
    sock = socket.create_connection(("127.0.0.1", port))
    sock.sendall(NAMESPACE)
    expect(sock, NAMESPACE)
    return sock


def send_contents(sock, path):
    with open(path, "rb") as source:
        sock.sendfile(source)


def main():
    mode, port, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    size = os.path.getsize(path)
    if mode == "plain":
        start = time.perf_counter()
        sock = socket.create_connection(("127.0.0.1", port))
        send_contents(sock, path)
        sock.shutdown(socket.SHUT_WR)
        while sock.recv(65536):
            pass
        print(f"{time.perf_counter() - start:.3f}")
        return
    sock = session(port)
    name = os.path.basename(path).encode()
    if mode == "file":
        start = time.perf_counter()
        sock.sendall(b"FILE\n" + name + b"\n" + str(size).encode() + b"\n")
        send_contents(sock, path)
        expect(sock, b"ACK\n")
        acknowledged = time.perf_counter() - start
        query = b"IS_FILE_CACHED\n" + sys.argv[4].encode() + b"\n" + str(size).encode() + b"\n"
        answered = None
        while True:
            sock.sendall(query)
            cached = read_line(sock) == b"ACK\n"
            answered = answered or time.perf_counter() - start
            if cached:
                break
            time.sleep(0.01)
        print(f"{acknowledged:.3f} {answered:.3f} {time.perf_counter() - start:.3f}")
    elif mode == "cached":
        checksum = sys.argv[4].encode()
        start = time.perf_counter()
        sock.sendall(b"FILE_CACHE\n" + name + b"\n" + checksum + b"\n" + str(size).encode() + b"\n")
        expect(sock, b"ACK\n")
        print(f"{time.perf_counter() - start:.3f}")
    else:
        raise SystemExit(f"unknown mode {mode}")


if __name__ == "__main__":
    main()
