#!/usr/bin/env bash
# Installs the Debian packages of the named purposes, when any is missing:
#   scripts/install-deps.sh build        building and running the service (scripts/run-service.sh)
#   scripts/install-deps.sh build test   and every test as well (scripts/test.sh)
set -euo pipefail

# Building and running the service with the simulated printer.
build_packages=(
  cmake g++ make pkg-config
  libboost1.81-dev libjsoncpp-dev libgoogle-glog-dev zlib1g-dev
  libcairo2-dev libpango1.0-dev libzint-dev libpng-dev libjpeg-dev libgif-dev fonts-dejavu-core
)

# The tests: GoogleTest, stb (the tests and benchmarks write and read their pictures with it), the
# barcode reader of the renderer tests, clang with its sanitizer and libFuzzer run-times for the
# fuzz targets, Chromium for the browser test, Python 3 and its WebSocket library for the example
# client (examples/).
test_packages=(
  libgtest-dev libgmock-dev
  libstb-dev zbar-tools
  clang libclang-rt-14-dev
  chromium
  python3 python3-websockets
)

[ $# -gt 0 ] || { echo "usage: $0 build [test]" >&2; exit 2; }
packages=()
for purpose in "$@"; do
  case $purpose in
    build) packages+=("${build_packages[@]}") ;;
    test)
      packages+=("${test_packages[@]}")
      # Node.js and npm for the browser test, unless a Node.js of another source is already
      # there (its own npm would conflict with Debian's).
      command -v node > /dev/null || packages+=(nodejs)
      command -v npm > /dev/null || packages+=(npm)
      ;;
    *) echo "unknown purpose: $purpose" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
