# Shared by ./scripts/run and ./scripts/test: the Debian packages the project
# needs, installed when missing.
set -euo pipefail

HX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
HX_JOBS="$(nproc 2>/dev/null || echo 2)"

# Build tools, test and benchmark libraries (zlib only as the benchmarks'
# CRC yardstick), the SNMP and JSON libraries the card links, clang's fuzzer
# runtime, the client tools tests drive the servers with (curl and the HTTP
# load generator wrk among them), and ffprobe, which reads the generated
# streams back.
HX_PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
  libsnmp-dev libcjson-dev libdvbpsi-dev
  snmp curl wrk ffmpeg
)

# Only bench/http_compare.sh needs these: nginx (the light build) as the
# yardstick the card's web server is measured against, never a part of it.
HX_BENCH_PACKAGES=(nginx-light wrk curl)

hx_install_packages() {
  hx_install_package_list "${HX_PACKAGES[@]}"
}

hx_install_bench_packages() {
  hx_install_package_list "${HX_BENCH_PACKAGES[@]}"
}

# Installs the named Debian packages that are missing.
hx_install_package_list() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if [ "${#missing[@]}" -eq 0 ]; then
    return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "These Debian packages are missing: ${missing[*]}" >&2
    echo "Install them as root (apt-get install ${missing[*]}) and run this again." >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The Release configuration of the card program, chassis-sim and chassis-send:
# ./scripts/run builds it, ./scripts/test builds the same with warnings as
# errors and with the benchmarks. Extra arguments are passed to cmake.
hx_configure_release() {
  local dir="$1"
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHX_TESTS=OFF "$@" >/dev/null
}
