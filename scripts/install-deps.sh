#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libboost1.81-dev libjsoncpp-dev libgoogle-glog-dev zlib1g-dev
  libgtest-dev libgmock-dev
  libcairo2-dev libpango1.0-dev libzint-dev libpng-dev libjpeg-dev libgif-dev fonts-dejavu-core
  libstb-dev zbar-tools
  clang libclang-rt-14-dev
  chromium
)
packages+=("$@")
# Node.js and npm for the browser test, unless a Node.js of another source is already there
# (its own npm would conflict with Debian's).
command -v node > /dev/null || packages+=(nodejs)
command -v npm > /dev/null || packages+=(npm)

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
