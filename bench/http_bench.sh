#!/usr/bin/env bash
# How fast the status port answers, against nginx serving the same bytes as static files,
# both measured in this run on this machine.
#
#   bench/http_bench.sh [seconds per run, default 10]
#
# Everything runs in a private network namespace with only loopback, so the servers are
# reachable by nothing else:
#
#   wrk (16 connections) --> 127.0.0.1:8080  plexmilld --http   /json/status.json and /
#                        --> 127.0.0.1:8081  nginx, 1 worker    the same two documents as files
#
# Needs a built plexmilld ($PLEXMILLD, default build/release/service/plexmilld); installs wrk
# and nginx-light with apt-get when they are missing and it runs as root.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
plexmilld="${PLEXMILLD:-$root/build/release/service/plexmilld}"
seconds="${1:-10}"

if [[ "${HTTP_BENCH_INSIDE:-}" != 1 ]]; then
  [[ -x "$plexmilld" ]] || { echo "http_bench: $plexmilld is missing (build it or set PLEXMILLD)" >&2; exit 1; }
  if ! command -v wrk >/dev/null || ! [[ -x /usr/sbin/nginx ]]; then
    if ((EUID != 0)); then
      echo "http_bench: needs wrk and nginx-light (apt-get install wrk nginx-light)" >&2
      exit 1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends wrk nginx-light >/dev/null
  fi
  unshare_options=(--net)
  ((EUID == 0)) || unshare_options+=(--map-root-user)
  export HTTP_BENCH_INSIDE=1 PLEXMILLD="$plexmilld"
  exec unshare "${unshare_options[@]}" "$0" "$seconds"
fi

# Inside the namespace from here on.
ip link set lo up
ip route add 255.255.255.255/32 dev lo src 127.0.0.1
work="$(mktemp -d)"
server_pid=""
nginx_pid=""
cleanup() {
  [[ -n "$nginx_pid" ]] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  [[ -n "$server_pid" ]] && kill -INT "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

wait_for_port() {
  for _ in $(seq 200); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  echo "http_bench: nothing listens on port $1" >&2
  exit 1
}

mkdir -p "$work/home/tmp" "$work/www/json"
HOME="$work/home" TMPDIR="$work/home/tmp" XDG_CONFIG_HOME="$work/home/config" \
  XDG_DATA_HOME="$work/home/data" PLEXMILL_MACHINE_REGISTRY="$work/home/machine.reg" \
  PLEXMILL_USER_REGISTRY="$work/home/user.reg" PLEXMILL_EVENT_LOG="$work/home/events.log" \
  "$PLEXMILLD" --console --http --rating 5000 --quiet >"$work/plexmilld.log" 2>&1 &
server_pid=$!
wait_for_port 8080

# nginx serves what plexmilld answers, byte for byte, as files.
curl -s http://127.0.0.1:8080/json/status.json -o "$work/www/json/status.json"
curl -s http://127.0.0.1:8080/ -o "$work/www/index.html"
cat >"$work/nginx.conf" <<CONF
worker_processes 1;
daemon off;
user root root;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 1024; }
http {
  access_log off;
  default_type application/octet-stream;
  client_body_temp_path $work/nginx-body;
  proxy_temp_path $work/nginx-proxy;
  fastcgi_temp_path $work/nginx-fastcgi;
  uwsgi_temp_path $work/nginx-uwsgi;
  scgi_temp_path $work/nginx-scgi;
  server {
    listen 127.0.0.1:8081;
    root $work/www;
  }
}
CONF
/usr/sbin/nginx -e "$work/nginx-error.log" -c "$work/nginx.conf" &
nginx_pid=$!
wait_for_port 8081

# "requests/s p99 errors" of one wrk run.
measure() {
  wrk -t2 -c16 -d"${seconds}s" --latency "$1" | awk '
    /Requests\/sec:/ { rate = $2 }
    /^ +99%/ { p99 = $2 }
    /Socket errors:/ { errors = $0; sub(/^ *Socket errors: */, "", errors) }
    /Non-2xx/ { errors = errors " non-2xx " $NF }
    END { printf "%s %s %s\n", rate, p99, (errors == "" ? "none" : errors) }'
}

# Connections the kernel reset because they were closed with bytes unread: a keep-alive request
# that reached plexmilld after its 15 ms wait for the next one had ended. wrk counts each as a
# read error.
closed_unread() { nstat -az TcpExtTCPAbortOnData | awk '/TcpExtTCPAbortOnData/ { print $2 }'; }

# The machine may be shared: figures mean little without the load they were taken under.
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-20s %8s  %-12s %10s %8s  %-12s %10s %8s\n' document bytes server "requests/s" p99 server "requests/s" p99
for document in /json/status.json /; do
  file="$work/www${document%/}"
  [[ "$document" == / ]] && file="$work/www/index.html"
  unread_before=$(closed_unread)
  read -r ours ours_p99 ours_errors < <(measure "http://127.0.0.1:8080$document")
  unread=$(($(closed_unread) - unread_before))
  read -r theirs theirs_p99 theirs_errors < <(measure "http://127.0.0.1:8081$document")
  printf '%-20s %8s  %-12s %10s %8s  %-12s %10s %8s  ratio %.2f\n' "$document" "$(stat -c %s "$file")" \
    plexmilld "$ours" "$ours_p99" nginx "$theirs" "$theirs_p99" "$(echo "$ours / $theirs" | bc -l)"
  [[ "$ours_errors" == none ]] ||
    echo "  plexmilld socket errors: $ours_errors; connections reset with a request unread: $unread"
  [[ "$theirs_errors" == none ]] || echo "  nginx socket errors: $theirs_errors"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
