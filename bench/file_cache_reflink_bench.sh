#!/usr/bin/env bash
# bench/file_cache_bench on a file system that shares blocks between files (XFS with reflink),
# where a FILE_CACHE copy of 1 GiB is a clone and should take well under 50 ms. The file system
# is a sparse image on a loop device, mounted in a private mount namespace and removed again.
# Needs root (losetup, mount); needs a release build (made when missing).
#
#   bench/file_cache_reflink_bench.sh
source "$(dirname "$0")/../scripts/lib/common.sh"
install_packages xfsprogs util-linux
cd "$PLEXMILL_ROOT"
build_tree build/release >/dev/null

work=$(mktemp -d /tmp/plexmill-bench-XXXXXX)
device=""
cleanup() {
  [[ -n "$device" ]] && losetup -d "$device"
  rm -rf "$work"
}
trap cleanup EXIT
truncate -s 6G "$work/xfs.img"
mkfs.xfs -q -m reflink=1 "$work/xfs.img"
device=$(losetup --find --show "$work/xfs.img")
mkdir "$work/mnt"
# The mount lives and dies with the private namespace.
unshare --mount --propagation private bash -c '
  set -eu
  mount "$1" "$2"
  "$3" "$2"
' bench "$device" "$work/mnt" "$PLEXMILL_ROOT/build/release/bench/file_cache_bench"
