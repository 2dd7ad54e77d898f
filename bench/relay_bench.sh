#!/usr/bin/env bash
# How fast a server relays its CAM kernel's output to a --connect client, against a plain copy
# of the same bytes through a pipe and a loopback socket into a file, measured in this run:
#
#   plain:  test kernel "large 1 GiB" | socat -> 127.0.0.1:9000 -> socat -> file
#   relay:  test kernel "large 1 GiB" -> pipe -> plexmilld -> 127.0.0.1:7387 -> --connect -> file
#
# Prints both rates, their ratio (the target is 1.0 or more) and the server's processor time
# (user + system, from /proc/PID/stat) per relayed GiB, beside that of the plain copy's sender. The client pauses 500 ms after DONE
# before it reads, as clients of this protocol do; that pause is not relay time and is taken
# off. Runs in a private network namespace; needs a release build (made when missing).
#
#   bench/relay_bench.sh
source "$(dirname "$0")/../scripts/lib/bench.sh"
bench_prepare socat
install_test_kernel "$work/kernel"
server_home "$work/home" --idle
netns_one_host bash -c '
  set -eu
  root="$1" work="$2"
  plexmilld="$root/build/release/service/plexmilld"
  size=$((1 << 30))
  printf "large %d\n" "$size" >"$work/job"
  seconds() { date +%s.%N; }
  rate() { awk -v s="$1" -v e="$2" -v n="$size" "BEGIN { printf \"%.0f\", n / (e - s) / 1e6 }"; }
  # Looks without connecting: the listener takes one connection only.
  wait_for_port() {
    for _ in $(seq 200); do ss -ltnH "sport = :$1" | grep -q . && return 0; sleep 0.05; done
    echo "relay_bench: nothing listens on port $1" >&2
    exit 1
  }
  # utime + stime of a process in seconds.
  cpu_seconds() { awk -v hz="$(getconf CLK_TCK)" "{ sub(/.*\\) /, \"\"); print (\$12 + \$13) / hz }" "/proc/$1/stat"; }

  socat -u -b 65536 TCP-LISTEN:9000,reuseaddr OPEN:"$work/plain.out",creat,trunc &
  listener=$!
  wait_for_port 9000
  start=$(seconds)
  "$work/kernel/millcore.exe" "$work/job" |
    { TIMEFORMAT="%U %S"; time socat -u -b 65536 STDIN TCP:127.0.0.1:9000; } 2>"$work/sender.time"
  wait "$listener"
  # The client flushes its result file to the disk when it closes it; so does this copy.
  sync -d "$work/plain.out"
  plain=$(rate "$start" "$(seconds)")
  sender_cpu=$(awk "{ print \$1 + \$2 }" "$work/sender.time")
  [ "$(stat -c %s "$work/plain.out")" -eq "$size" ] || { echo "relay_bench: the plain copy is short" >&2; exit 1; }
  rm -f "$work/plain.out"

  "$plexmilld" --console --kernel "$work/kernel" --rating 5000 >"$work/server.log" 2>&1 &
  server=$!
  trap "kill -INT $server 2>/dev/null; wait $server 2>/dev/null || true" EXIT
  for _ in $(seq 200); do grep -q "now ready" "$work/server.log" && break; sleep 0.05; done
  cpu_before=$(cpu_seconds "$server")
  start=$(seconds)
  "$plexmilld" --connect 127.0.0.1 "$work/job" "$work/result"
  end=$(seconds)
  cpu_after=$(cpu_seconds "$server")
  [ "$(stat -c %s "$work/result")" -eq $((size + 4)) ] || { echo "relay_bench: the result is not 1 GiB and ACK" >&2; exit 1; }
  [ "$(tail -c 4 "$work/result")" = "ACK" ] || { echo "relay_bench: the result does not end with ACK" >&2; exit 1; }
  rm -f "$work/result"
  relay=$(rate "$start" "$(awk -v e="$end" "BEGIN { printf \"%.9f\", e - 0.5 }")")

  echo "plain pipe + loopback copy (socat): $plain MB/s"
  echo "kernel output relayed to --connect: $relay MB/s"
  echo "ratio: $(awk -v a="$relay" -v b="$plain" "BEGIN { printf \"%.2f\", a / b }") (target 1.0 or more)"
  echo "server processor time: $(awk -v a="$cpu_before" -v b="$cpu_after" "BEGIN { printf \"%.2f\", b - a }") s per relayed GiB (the plain copy'"'"'s sender: $sender_cpu s)"
' bench "$PLEXMILL_ROOT" "$work"
