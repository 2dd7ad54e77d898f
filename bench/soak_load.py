"""The soak's load and its figures (bench/soak.sh): 40 job sessions, 64 HTTP pollers,
discovery through --list, abrupt disconnects; samples of the server's RSS, threads and
descriptors idle before, under load after warm-up and at the end, and idle after."""
import os, random, socket, subprocess, sys, threading, time

pid, minutes, plexmilld = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
URI = "http://quorvex.example/namespace/quorvexmill/pmd\n"
end = time.time() + minutes * 60
errors = {"http": 0, "session": 0, "refused": 0, "list": 0}
counts = {"http": 0, "session": 0, "refused": 0, "list": 0}
lock = threading.Lock()
unexpected = set()  # the distinct wrong replies, to say what went wrong

def note(kind, ok):
    with lock:
        counts[kind] += 1
        if not ok:
            errors[kind] += 1

def sample():
    status = open(f"/proc/{pid}/status").read().split("\n")
    fields = {line.split(":")[0]: line.split(":")[1].strip() for line in status if ":" in line}
    return {"rss_kb": int(fields["VmRSS"].split()[0]), "peak_rss_kb": int(fields["VmHWM"].split()[0]),
            "threads": int(fields["Threads"]), "fds": len(os.listdir(f"/proc/{pid}/fd"))}

def descriptors():
    """What each open descriptor refers to, sockets by kind (their inode numbers change)."""
    names = []
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            names.append(os.readlink(f"/proc/{pid}/fd/{fd}"))
        except OSError:
            pass
    return sorted(names)

def receive_exactly(s, size):
    data = b""
    while len(data) < size:
        part = s.recv(size - len(data))
        if not part:
            break
        data += part
    return data

def session_worker():
    while time.time() < end:
        kind, ok = "session", True
        try:
            s = socket.create_connection(("127.0.0.1", 7387), timeout=10)
            s.sendall(URI.encode())
            ok = receive_exactly(s, len(URI)) == URI.encode()
            s.sendall(b"USER\nsoak\nRUN\n\n12\nsilent 3600\n")
            reply = receive_exactly(s, 8)
            if reply in (b"", b"ACK\n"):
                # USER taken, RUN ended by the server: the slot of a session this worker
                # dropped a moment ago is not free yet. Admission at work, not a fault;
                # counted apart.
                kind = "refused"
                time.sleep(0.5)
            elif reply != b"ACK\nACK\n":
                ok = False
                unexpected.add(reply)
            else:
                s.sendall(b"DONE\n")
                ok = ok and receive_exactly(s, 4) == b"ACK\n"
                time.sleep(random.uniform(2, 10))
            # Abrupt: no ABORT, the connection simply goes (RST).
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            s.close()
        except OSError:
            ok = False
            time.sleep(1)
        note(kind, ok)

def http_worker():
    paths = ["/json/status.json", "/", "/metrics", "/json/servers.json"]
    while time.time() < end:
        ok = True
        try:
            s = socket.create_connection(("127.0.0.1", 8080), timeout=10)
            s.sendall(f"GET {random.choice(paths)} HTTP/1.1\r\n\r\n".encode())
            data = s.recv(65536)
            ok = data.startswith(b"HTTP/1.1 200 OK")
            if random.random() < 0.1:
                s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            s.close()
        except OSError:
            ok = False
        note("http", ok)
        time.sleep(0.25)

def list_worker():
    while time.time() < end:
        r = subprocess.run([plexmilld, "--list", "--quiet"], capture_output=True, text=True)
        note("list", r.returncode == 0)

idle_before = sample()
open_before = descriptors()
print("idle, before:      ", idle_before, flush=True)
threads = [threading.Thread(target=session_worker) for _ in range(40)]
threads += [threading.Thread(target=http_worker) for _ in range(64)]
threads += [threading.Thread(target=list_worker)]
for t in threads:
    t.start()
time.sleep(min(30, minutes * 60 / 4))
print("loaded, warmed up: ", sample(), flush=True)
# The last loaded sample a little before the workers stop, so that both are taken under the
# same load; the idle one after shows what the load left behind.
time.sleep(max(0, end - time.time() - 5))
print("loaded, at the end:", sample(), flush=True)
for t in threads:
    t.join()
time.sleep(3)
print("idle, after:       ", sample())
open_after = descriptors()
for name in sorted(set(open_before + open_after)):
    if open_before.count(name) != open_after.count(name):
        print(f"descriptors on {name}: {open_before.count(name)} before, {open_after.count(name)} after")
print("requests:", counts, "errors:", errors)
if unexpected:
    print("unexpected replies:", sorted(unexpected)[:5])
