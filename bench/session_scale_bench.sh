#!/usr/bin/env bash
# How the cost of accepting a connection and starting its session grows with the number of idle
# admitted sessions the server already holds: N = 10, 100, 1,000, 5,000 and 10,000 (each has
# sent the handshake and one command and then waits), and at each N a run of fresh sessions
# (connect, handshake, one query, close) timed one after the other. bench/session_scale_probe.py
# prints, per N, the wall time and the server's processor time per fresh session; the N = 10
# row is the baseline of the same run, and a flat column is the aim. Every session is a thread:
# the machine's limits on threads and memory maps decide how far N can go. Runs in a private
# network namespace; needs a release build (made when missing).
#
#   bench/session_scale_bench.sh [FRESH_SESSIONS_PER_N]
source "$(dirname "$0")/../scripts/lib/bench.sh"
bench_prepare python3
server_home "$work/home" --idle
netns_one_host bash -c '
  set -eu
  root="$1" work="$2" fresh="$3"
  # Every idle session holds a descriptor on both sides.
  ulimit -n "$(ulimit -Hn)"
  plexmilld="$root/build/release/service/plexmilld"
  "$plexmilld" --console --rating 5000 --quiet >"$work/server.log" 2>&1 &
  server=$!
  trap "kill -INT $server 2>/dev/null; wait $server 2>/dev/null || true" EXIT
  for _ in $(seq 100); do "$plexmilld" --status --quiet | grep -q " running" && break; sleep 0.1; done
  python3 "$root/bench/session_scale_probe.py" "$server" "$fresh" || { tail -5 "$work/server.log"; exit 1; }
' bench "$PLEXMILL_ROOT" "$work" "${1:-300}"
