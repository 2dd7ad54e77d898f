# Shared by the scripts: where things are, and installing what the project needs.
set -euo pipefail

PLEXMILL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
export PLEXMILL_ROOT

# Debian packages for building and testing; installed when missing (apt-get update once).
PLEXMILL_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev openssl libcurl4-openssl-dev
  iproute2 util-linux procps socat python3
  chromium fonts-dejavu-core
)

# Node.js and npm run the browser tests; machines that bring their own are left alone.
install_node() {
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    install_packages nodejs npm
  fi
}

install_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# build_tree DIR [cmake options...]: configures once and builds everything.
build_tree() {
  local dir="$1"
  shift
  if [[ ! -f "$dir/build.ninja" ]]; then
    cmake -S "$PLEXMILL_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  fi
  cmake --build "$dir" -j "$(nproc)"
}
