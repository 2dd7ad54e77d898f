#!/usr/bin/env bash
# How long the small client commands take end to end, beside a plain TCP connect-and-echo
# measured in the same run (bench/latency_probe.py says what each measurement is). Each is a
# whole process, so the figures include starting the program; the ratios show what the
# protocol's exchanges add to one TCP round trip. Before sockets sent small writes at once,
# every exchange waited ~40 ms for a delayed acknowledgement. Runs in a private network
# namespace; needs a release build (made when missing).
#
#   bench/latency_bench.sh [RUNS]
source "$(dirname "$0")/../scripts/lib/bench.sh"
bench_prepare socat python3
install_test_kernel "$work/kernel"
server_home "$work/home" --idle
netns_one_host bash -c '
  set -eu
  root="$1" work="$2" runs="$3"
  plexmilld="$root/build/release/service/plexmilld"
  "$plexmilld" --console --kernel "$work/kernel" --rating 5000 --quiet >"$work/server.log" 2>&1 &
  server=$!
  trap "kill -INT $server 2>/dev/null; wait $server 2>/dev/null || true" EXIT
  for _ in $(seq 100); do "$plexmilld" --status --quiet | grep -q " running" && break; sleep 0.1; done
  python3 "$root/bench/latency_probe.py" "$plexmilld" "$work" "$runs"
' bench "$PLEXMILL_ROOT" "$work" "${1:-30}"
