"""Round trips of the small client commands beside a plain TCP connect-and-echo.

    latency_probe.py PLEXMILLD WORK RUNS

Runs inside a private network namespace with a server on 127.0.0.1:7387. Each measurement is
one process, started and waited for the same way, so that starting a program weighs the same
in all of them:
  echo:      socat connects to an echo server on 127.0.0.1:9100, sends a line, reads it back
  iscached:  plexmilld --iscached 127.0.0.1 FILE (handshake, INFO, USER, APPLICATION,
             IS_FILE_CACHED, DONE) for a 1-byte file
  connect:   plexmilld --connect 127.0.0.1 JOB RESULT for a job whose kernel writes one line,
             less the 500 ms the client waits after DONE
Prints the median of each in milliseconds and their ratios to the echo.
"""
import socket
import statistics
import subprocess
import sys
import threading
import time

PLEXMILLD, WORK, RUNS = sys.argv[1], sys.argv[2], int(sys.argv[3])
PAUSE_AFTER_DONE = 0.5


def serve_echo(listener):
    while True:
        connection, _ = listener.accept()
        with connection:
            data = b""
            while not data.endswith(b"\n"):
                piece = connection.recv(4096)
                if not piece:
                    break
                data += piece
            connection.sendall(data)


def timed(argv, stdin=None):
    start = time.perf_counter()
    subprocess.run(argv, input=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


listener = socket.create_server(("127.0.0.1", 9100))
threading.Thread(target=serve_echo, args=(listener,), daemon=True).start()
with open(f"{WORK}/one.dat", "wb") as one:
    one.write(b"x")
with open(f"{WORK}/job", "w") as job:
    job.write("silent 0\n")

echo, iscached, connect = [], [], []
for _ in range(RUNS):
    echo.append(timed(["socat", "-", "TCP:127.0.0.1:9100"], b"ping\n"))
    iscached.append(timed([PLEXMILLD, "--iscached", "127.0.0.1", f"{WORK}/one.dat"]))
    connect.append(
        timed([PLEXMILLD, "--connect", "127.0.0.1", f"{WORK}/job", f"{WORK}/result"])
        - PAUSE_AFTER_DONE)
with open(f"{WORK}/result", "rb") as result:
    assert result.read() == b"done\nACK\n", "the one-line job did not run"

median = {name: statistics.median(times) * 1000
          for name, times in (("echo", echo), ("iscached", iscached), ("connect", connect))}
print(f"plain TCP connect-and-echo (socat):   {median['echo']:7.1f} ms")
print(f"--iscached of a 1-byte file:          {median['iscached']:7.1f} ms"
      f"  ({median['iscached'] / median['echo']:.1f} x the echo)")
print(f"--connect of a one-line job, less the 500 ms pause after DONE:"
      f" {median['connect']:7.1f} ms  ({median['connect'] / median['echo']:.1f} x the echo)")
