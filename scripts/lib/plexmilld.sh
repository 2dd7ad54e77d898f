# What scripts need around a plexmilld they start themselves (source after common.sh):
#   server_home DIR [--idle]    exports a home of its own under DIR: folders, registry files
#                               and, with --idle, processor times that show an idle machine, so
#                               that a busy benchmark machine does not make the server refuse work
#   install_test_kernel DIR     the project's test kernel as DIR/millcore.exe with its library

server_home() {
  local home="$1"
  mkdir -p "$home/tmp"
  export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/config" \
    XDG_DATA_HOME="$home/data" PLEXMILL_MACHINE_REGISTRY="$home/machine.reg" \
    PLEXMILL_USER_REGISTRY="$home/user.reg"
  if [[ "${2:-}" == --idle ]]; then
    printf 'cpu  100 0 100 100000 0 0 0 0 0 0\n' >"$home/proc_stat"
    export PLEXMILL_PROC_STAT="$home/proc_stat"
  fi
}

install_test_kernel() {
  mkdir -p "$1"
  cp "$PLEXMILL_ROOT/build/release/tests/test_kernel" "$1/millcore.exe"
  : >"$1/millcore.dll"
}
