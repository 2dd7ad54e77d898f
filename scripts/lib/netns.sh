# Network namespaces for scripts, the same topology as tests/support/netns.hpp:
#   one host:   netns_one_host CMD...   runs CMD in a fresh namespace (lo up, broadcast on lo)
#   a LAN:      lan_create N; lan_exec I CMD...; lan_spawn I CMD... (background); lan_destroy
# Hosts are 10.77.0.I/24 behind a bridge namespace; names carry this shell's PID. A trap
# removes everything the script made, also when it is interrupted.

LAN_PREFIX="plxs-$$"
LAN_HOSTS=0

netns_one_host() {
  unshare -n sh -c 'ip link set lo up && ip route add 255.255.255.255/32 dev lo && exec "$@"' netns "$@"
}

lan_create() {
  LAN_HOSTS="$1"
  trap lan_destroy EXIT INT TERM
  ip netns add "$LAN_PREFIX-br"
  ip -n "$LAN_PREFIX-br" link set lo up
  ip -n "$LAN_PREFIX-br" link add br0 type bridge
  ip -n "$LAN_PREFIX-br" link set br0 up
  local i
  for ((i = 1; i <= LAN_HOSTS; i++)); do
    ip netns add "$LAN_PREFIX-h$i"
    ip -n "$LAN_PREFIX-h$i" link set lo up
    ip -n "$LAN_PREFIX-br" link add "p$i" type veth peer name eth0 netns "$LAN_PREFIX-h$i"
    ip -n "$LAN_PREFIX-br" link set "p$i" master br0
    ip -n "$LAN_PREFIX-br" link set "p$i" up
    ip -n "$LAN_PREFIX-h$i" addr add "10.77.0.$i/24" dev eth0
    ip -n "$LAN_PREFIX-h$i" link set eth0 up
    ip -n "$LAN_PREFIX-h$i" route add default dev eth0
  done
}

lan_exec() {
  local host="$1"
  shift
  ip netns exec "$LAN_PREFIX-h$host" "$@"
}

lan_spawn() {
  local host="$1"
  shift
  ip netns exec "$LAN_PREFIX-h$host" "$@" &
}

lan_destroy() {
  local i
  for ((i = 1; i <= LAN_HOSTS; i++)); do
    ip netns pids "$LAN_PREFIX-h$i" 2>/dev/null | xargs -r kill -9 2>/dev/null || true
    ip netns del "$LAN_PREFIX-h$i" 2>/dev/null || true
  done
  ip netns del "$LAN_PREFIX-br" 2>/dev/null || true
  LAN_HOSTS=0
}
