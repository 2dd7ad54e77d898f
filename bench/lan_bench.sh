#!/usr/bin/env bash
# Discovery and the task-manager page on a virtual LAN of 1, 10 and 50 real servers
# (bench/lan_bench.mjs says what it measures).
#
#   bench/lan_bench.sh
#
# Everything runs in a private network namespace made here: the LAN's bridge and the hosts'
# namespaces live inside it, so no datagram reaches the machine's network. Needs real root
# (`ip netns add`), Debian's chromium and node 20, and a built plexmilld ($PLEXMILLD, default
# build/release/service/plexmilld); installs the page tests' npm packages when missing.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export PLEXMILLD="${PLEXMILLD:-$root/build/release/service/plexmilld}"
[[ -x "$PLEXMILLD" ]] || { echo "lan_bench: $PLEXMILLD is missing (build it or set PLEXMILLD)" >&2; exit 1; }
[[ -x "${CHROMIUM:-/usr/bin/chromium}" ]] || { echo "lan_bench: needs chromium (apt-get install chromium)" >&2; exit 1; }
browser="$root/tests/browser"
if ! cmp -s "$browser/package-lock.json" "$browser/node_modules/.installed-package-lock.json"; then
  (cd "$browser" && npm ci --no-audit --no-fund --loglevel=error &&
    cp package-lock.json node_modules/.installed-package-lock.json)
fi
exec unshare --net sh -c 'ip link set lo up && ip route add 255.255.255.255/32 dev lo src 127.0.0.1 && exec node "$0"' \
  "$root/bench/lan_bench.mjs"
