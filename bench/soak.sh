#!/usr/bin/env bash
# Soak: holds one server for N minutes (default 10) under 40 sessions running kernels (each
# dropped abruptly and replaced now and then), 64 HTTP clients polling the status port,
# discovery requests (--list) and abrupt disconnects, inside a private network namespace.
# Reports errors, and the server's RSS (and peak), threads and descriptors idle before, under
# load after warm-up and at the end, and idle after: flat is the goal. Not part of
# scripts/test. Usage: bench/soak.sh [MINUTES] [BUILD]
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$(dirname "$0")/../scripts/lib/plexmilld.sh"
minutes="${1:-10}"
build="$PLEXMILL_ROOT/${2:-build/release}"
if [[ "${PLEXMILL_SOAK_INSIDE:-}" != 1 ]]; then
  PLEXMILL_SOAK_INSIDE=1 exec unshare -n "$0" "$@"
fi
set -euo pipefail
ip link set lo up
ip route add 255.255.255.255/32 dev lo
work=$(mktemp -d /tmp/plexmill-soak-XXXXXX)
server_home "$work/home" --idle
install_test_kernel "$work/kernel"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\Quorvex Plexmill]\n"maximum number of sessions"=dword:00000028\n' \
  >"$PLEXMILL_MACHINE_REGISTRY"
"$build/service/plexmilld" --console --http --rating 5000 --kernel "$work/kernel" >"$work/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do grep -q "now ready" "$work/server.log" && break; sleep 0.2; done
echo "soak: $minutes min, load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 "$PLEXMILL_ROOT/bench/soak_load.py" "$server" "$minutes" "$build/service/plexmilld"
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)"
kill -INT $server
wait $server && echo "server exit code 0" || echo "server exit code $?"
