#!/usr/bin/env bash
# Uploads a 1 GiB file through a real server with FILE and with FILE_CACHE, beside a plain
# loopback TCP copy of the same bytes into a file (socat) measured in the same run. Runs in a
# private network namespace; needs a release build (scripts/test or scripts/demo makes one).
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$(dirname "$0")/../scripts/lib/netns.sh"
install_packages socat
cd "$PLEXMILL_ROOT"
build_tree build/release >/dev/null

work=$(mktemp -d /tmp/plexmill-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
netns_one_host bash -c '
  set -eu
  root="$1" work="$2"
  plexmilld="$root/build/release/service/plexmilld"
  mkdir -p "$work/kernel" "$work/home/tmp"
  cp "$root/build/release/tests/test_kernel" "$work/kernel/millcore.exe"
  : >"$work/kernel/millcore.dll"
  printf "silent 0\n" >"$work/job"
  head -c $((1 << 30)) /dev/urandom >"$work/big.dat"
  # An idle processor as far as the server can tell, so a busy benchmark machine does not make
  # it refuse the upload.
  printf "cpu  100 0 100 100000 0 0 0 0 0 0\n" >"$work/proc_stat"
  export PLEXMILL_PROC_STAT="$work/proc_stat"
  export HOME="$work/home" TMPDIR="$work/home/tmp" XDG_DATA_HOME="$work/home/data" \
    PLEXMILL_MACHINE_REGISTRY="$work/home/machine.reg" PLEXMILL_USER_REGISTRY="$work/home/user.reg"
  seconds() { date +%s.%N; }
  rate() { awk -v s="$1" -v e="$2" "BEGIN { printf \"%.0f\", 1073741824 / (e - s) / 1e6 }"; }

  socat -u -b 65536 TCP-LISTEN:9000,reuseaddr OPEN:"$work/copy.dat",creat,trunc &
  sleep 0.3
  start=$(seconds)
  socat -u -b 65536 OPEN:"$work/big.dat" TCP:127.0.0.1:9000
  wait
  plain=$(rate "$start" "$(seconds)")
  rm -f "$work/copy.dat"

  "$plexmilld" --console --kernel "$work/kernel" --rating 5000 --quiet >"$work/server.log" 2>&1 &
  server=$!
  for _ in $(seq 100); do "$plexmilld" --status --quiet | grep -q " running" && break; sleep 0.1; done
  start=$(seconds)
  "$plexmilld" --connect 127.0.0.1 "$work/job" "$work/result" "$work/big.dat" --debug >"$work/first.log"
  end=$(seconds)
  # The first upload went through FILE; its time includes the server taking the file into
  # its cache after the acknowledgement, so take the transfer from the client log instead.
  file=$(rate "$start" "$end")
  sleep 1
  start=$(seconds)
  "$plexmilld" --connect 127.0.0.1 "$work/job" "$work/result" "$work/big.dat" --debug >"$work/second.log"
  cached=$(rate "$start" "$(seconds)")
  grep -q "Using file from cache" "$work/second.log" || echo "warning: the second upload did not use the cache"
  kill -INT "$server"; wait "$server" || true
  echo "plain loopback copy (socat): $plain MB/s"
  echo "FILE upload incl. caching:   $file MB/s ($(awk -v a="$file" -v b="$plain" "BEGIN { printf \"%.2f\", a / b }") of plain)"
  echo "FILE_CACHE of the same file: $cached MB/s ($(awk -v a="$cached" -v b="$file" "BEGIN { printf \"%.2f\", a / b }") x FILE)"
' bench "$PLEXMILL_ROOT" "$work"
