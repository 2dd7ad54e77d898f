# What the benchmarks share: the packages they need, a current release build to measure, and a
# scratch folder, $work, removed when the script ends.
#   bench_prepare PACKAGE...
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
source "$(dirname "${BASH_SOURCE[0]}")/plexmilld.sh"

bench_prepare() {
  install_packages "$@"
  cd "$PLEXMILL_ROOT"
  build_tree build/release >/dev/null
  work=$(mktemp -d /tmp/plexmill-bench-XXXXXX)
  trap 'rm -rf "$work"' EXIT
}
