# plexmilld as a service, shown end to end inside a private network namespace (source after
# common.sh and plexmilld.sh):
#
#   service_demo PLEXMILLD WORK   installs the program as the service under WORK, starts it,
#                                 runs a job against it, stops it and uninstalls it
#
# Nothing of the machine is touched: the service's registry, state folders, event log and any
# systemd unit live under WORK. The service detaches from whoever starts it, so the namespace
# has a process namespace of its own too: whatever is left in it ends with the demo.

service_demo() {
  local plexmilld="$1" work="$2"
  mkdir -p "$work/service/bin" "$work/service/cache/Quorvex Plexmill"
  chmod 700 "$work/service/cache/Quorvex Plexmill"
  # Jobs that name no kernel run the one at the top of the service's kernel cache.
  install_test_kernel "$work/service/cache/Quorvex Plexmill"
  printf 'copy\nA job for the service.\n' >"$work/service/job.tornwell-job"
  (
    export PLEXMILL_MACHINE_REGISTRY="$work/service/machine.reg" \
      PLEXMILL_USER_REGISTRY="$work/service/user.reg" \
      PLEXMILL_EVENT_LOG="$work/service/events.log" \
      PLEXMILL_SYSTEMD_ROOT="$work/service/systemd-root" \
      STATE_DIRECTORY="$work/service/state" CACHE_DIRECTORY="$work/service/cache"
    unshare --net --pid --fork --mount-proc bash -c '
      set -u
      ip link set lo up && ip route add 255.255.255.255/32 dev lo
      plexmilld="$1" service="$2"
      step() { echo "--- $*"; "$@"; echo "(exit code $?)"; }
      step "$plexmilld" --install "$service/bin/plexmilld"
      step "$service/bin/plexmilld" --start
      step "$service/bin/plexmilld" --connect 127.0.0.1 "$service/job.tornwell-job" "$service/result.txt"
      echo "--- result.txt"
      cat "$service/result.txt"
      step "$service/bin/plexmilld" --pause
      step "$service/bin/plexmilld" --resume
      step "$service/bin/plexmilld" --stop
      step "$service/bin/plexmilld" --uninstall
      echo "--- the service reported"
      cat "$service/events.log"
    ' service-demo "$plexmilld" "$work/service"
  )
}
