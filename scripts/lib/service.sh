# plexmilld as a service, shown end to end inside a private network namespace (source after
# common.sh and plexmilld.sh):
#
#   service_demo PLEXMILLD KERNEL WORK JOB MODEL
#       installs the program as the service under WORK with the kernel folder KERNEL as the
#       kernel of jobs that upload none, starts it, runs JOB (with the file MODEL) against it,
#       pauses and resumes it, stops it and uninstalls it; the G-code is WORK/service/result.ngc
#
# Nothing of the machine is touched: the service's registry, state folders, event log and any
# systemd unit live under WORK. The service detaches from whoever starts it, so the namespace
# has a process namespace of its own too: whatever is left in it ends with the demo.

service_demo() {
  local plexmilld="$1" kernel="$2" work="$3" job="$4" model="$5"
  mkdir -p "$work/service/bin" "$work/service/cache/Quorvex Plexmill"
  chmod 700 "$work/service/cache/Quorvex Plexmill"
  # Jobs that upload no kernel run the one at the top of the service's kernel cache.
  cp "$kernel/millcore.exe" "$kernel/millcore.dll" "$work/service/cache/Quorvex Plexmill/"
  (
    export PLEXMILL_MACHINE_REGISTRY="$work/service/machine.reg" \
      PLEXMILL_USER_REGISTRY="$work/service/user.reg" \
      PLEXMILL_EVENT_LOG="$work/service/events.log" \
      PLEXMILL_SYSTEMD_ROOT="$work/service/systemd-root" \
      STATE_DIRECTORY="$work/service/state" CACHE_DIRECTORY="$work/service/cache"
    unshare --net --pid --fork --mount-proc bash -c '
      set -u
      ip link set lo up && ip route add 255.255.255.255/32 dev lo
      plexmilld="$1" service="$2" job="$3" model="$4"
      step() { echo "--- $*"; "$@"; echo "(exit code $?)"; }
      step "$plexmilld" --install "$service/bin/plexmilld"
      step "$service/bin/plexmilld" --start
      step "$service/bin/plexmilld" --connect 127.0.0.1 "$job" "$service/result.ngc" "$model"
      echo "--- result.ngc: $(wc -l <"$service/result.ngc") lines; it begins"
      head -5 "$service/result.ngc"
      step "$service/bin/plexmilld" --pause
      step "$service/bin/plexmilld" --resume
      step "$service/bin/plexmilld" --stop
      step "$service/bin/plexmilld" --uninstall
      echo "--- the service reported"
      cat "$service/events.log"
    ' service-demo "$plexmilld" "$work/service" "$job" "$model"
  )
}
