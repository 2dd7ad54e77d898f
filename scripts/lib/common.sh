# Shared by the scripts: where things are, and installing what the project needs.
set -euo pipefail

PLEXMILL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
export PLEXMILL_ROOT

# Debian packages for building and testing; installed when missing (apt-get update once).
PLEXMILL_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev openssl libcurl4-openssl-dev
  iproute2 util-linux procps socat python3
  curl python3-h11
  chromium fonts-dejavu-core
  qt6-base-dev xvfb trayer x11-utils xdotool imagemagick desktop-file-utils
  systemd # systemctl and systemd-analyze check the service's unit
)
# What checks the reference kernel's output: openscad makes models, admesh checks them and
# LinuxCNC's rs274 interprets the G-code (linuxcnc-uspace puts it in /usr/bin).
PLEXMILL_KERNEL_TEST_PACKAGES=(openscad admesh linuxcnc-uspace)
PLEXMILL_PACKAGES+=("${PLEXMILL_KERNEL_TEST_PACKAGES[@]}")
# What scripts/demo needs: the build, namespaces and python3; no browser.
PLEXMILL_DEMO_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev openssl
  iproute2 util-linux procps python3
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

# The firewall tools the firewall tests drive: nft on rulesets of the tests' own network
# namespaces, firewall-offline-cmd and ufw on private copies of /etc. Their daemons must never
# run on the machine itself: firewalld's package starts it wherever systemd runs, so a firewalld
# that was not installed yet is masked first, and the boot units the packages enable on their
# first installation are disabled again.
install_firewall_tools() {
  local fresh=()
  local package
  for package in firewalld ufw; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      fresh+=("$package")
    fi
  done
  if [[ " ${fresh[*]} " == *" firewalld "* && ! -e /etc/systemd/system/firewalld.service ]]; then
    mkdir -p /etc/systemd/system
    ln -s /dev/null /etc/systemd/system/firewalld.service
  fi
  install_packages nftables firewalld ufw
  if command -v systemctl >/dev/null; then
    for package in "${fresh[@]}"; do
      systemctl disable "$package.service" >/dev/null 2>&1 || true
    done
  fi
}

# build_tree DIR [cmake options...]: configures (again when options are given, so that a tree
# made before takes them) and builds everything.
build_tree() {
  local dir="$1"
  shift
  if [[ ! -f "$dir/build.ninja" || $# -gt 0 ]]; then
    cmake -S "$PLEXMILL_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  fi
  cmake --build "$dir" -j "$(nproc)"
}
