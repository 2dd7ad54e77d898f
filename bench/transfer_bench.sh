#!/usr/bin/env bash
# Uploads a 1 GiB file through a real server with FILE and with FILE_CACHE, beside a plain
# loopback TCP copy of the same bytes into a file (socat) measured in the same run. The same
# sender (bench/upload_probe.py) feeds all three. Runs in a private network namespace; needs a
# release build (scripts/test or scripts/demo makes one).
source "$(dirname "$0")/../scripts/lib/bench.sh"
bench_prepare socat python3
server_home "$work/home" --idle
netns_one_host bash -c '
  set -eu
  root="$1" work="$2"
  plexmilld="$root/build/release/service/plexmilld"
  probe="$root/bench/upload_probe.py"
  head -c $((1 << 30)) /dev/urandom >"$work/big.dat"
  # The file checksum of the session protocol: SHA-256 with each state word byte-reversed.
  checksum=$(sha256sum "$work/big.dat" | cut -c1-64 | sed -E "s/(..)(..)(..)(..)/\4\3\2\1/g")
  rate() { awk -v s="$1" "BEGIN { printf \"%.0f\", 1073741824 / s / 1e6 }"; }
  # Each measurement starts with no dirty pages, so none pays for the write-back of another.
  settle() { sync; sleep 0.5; }
  ratio() { awk -v a="$1" -v b="$2" "BEGIN { printf \"%.2f\", a / b }"; }

  fastest() { sort -g | head -n 1; }
  # On a shared machine (a VM) one copy of the same bytes took from 1.4 s to 2.3 s from one
  # moment to the next. The measurements take turns, five rounds of each, and the fastest of
  # each is what the machine allows it; a slow moment then lands on neither side.
  start_server() {
    rm -rf "$TMPDIR/Quorvex Plexmill" "$XDG_DATA_HOME"
    "$plexmilld" --console --rating 5000 --quiet >"$work/server.log" 2>&1 &
    server=$!
    for _ in $(seq 100); do "$plexmilld" --status --quiet | grep -q " running" && break; sleep 0.1; done
  }
  stop_server() { kill -INT "$server"; wait "$server" || true; }
  : >"$work/plain" >"$work/file" >"$work/ready" >"$work/cached_in" >"$work/cached" >"$work/copied"
  for _ in 1 2 3 4 5; do
    socat -u -b 65536 TCP-LISTEN:9000,reuseaddr OPEN:"$work/copy.dat",creat,trunc &
    settle
    python3 "$probe" plain 9000 "$work/big.dat" >>"$work/plain"
    wait
    rm -f "$work/copy.dat"
    # The in-kernel copy that bounds FILE_CACHE where files cannot be cloned (ext4).
    settle
    start=$(date +%s.%N)
    cp "$work/big.dat" "$work/copy.dat"
    awk -v s="$start" -v e="$(date +%s.%N)" "BEGIN { print e - s }" >>"$work/copied"
    rm -f "$work/copy.dat"

    # Each FILE meets a server with an empty cache.
    start_server
    settle
    read -r file ready cached_in < <(python3 "$probe" file 7387 "$work/big.dat" "$checksum")
    echo "$file" >>"$work/file"
    echo "$ready" >>"$work/ready"
    echo "$cached_in" >>"$work/cached_in"
    # The FILE session ends once the cache has handed it a copy of its own of the file; the
    # copy that follows starts, as cp does, with nothing else going on.
    for _ in $(seq 600); do
      compgen -G "$TMPDIR/Quorvex Plexmill/session-*" >/dev/null || break
      sleep 0.1
    done
    settle
    python3 "$probe" cached 7387 "$work/big.dat" "$checksum" >>"$work/cached"
    stop_server
  done
  for figure in plain file ready cached_in cached copied; do
    declare "$figure=$(fastest <"$work/$figure")"
  done
  echo "fastest of 5 rounds (seconds: plain $(echo $(cat "$work/plain")); FILE in the cache $(echo $(cat "$work/cached_in")))"
  echo "plain loopback copy (socat):        $(rate "$plain") MB/s"
  echo "FILE, until acknowledged:           $(rate "$file") MB/s ($(ratio "$plain" "$file") of plain)"
  echo "FILE, until the next reply:         $(rate "$ready") MB/s ($(ratio "$plain" "$ready") of plain)"
  echo "FILE, until in the cache:           $(rate "$cached_in") MB/s ($(ratio "$plain" "$cached_in") of plain)"
  echo "FILE_CACHE of the same file:        $(rate "$cached") MB/s ($(ratio "$file" "$cached") x FILE)"
  echo "cp of the same file (file system):  $(rate "$copied") MB/s ($(ratio "$file" "$copied") x FILE)"
' bench "$PLEXMILL_ROOT" "$work"
