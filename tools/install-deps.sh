#!/usr/bin/env bash
# Installs the Debian packages that tervik needs and the machine lacks. Works as root or
# through sudo; installs nothing from anywhere but Debian's package archive.
set -euo pipefail

packages=(
  cmake g++ make ninja-build pkg-config
  libboost-dev libboost-filesystem-dev libboost-system-dev libboost-program-options-dev
  libjpeg-dev libpng-dev libtiff-dev libdeflate-dev
  libopenmesh-dev
  libyaml-cpp-dev
  libmeshoptimizer-dev
  libeigen3-dev libstb-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  parallel slurm-wlm munge
  clang lld
  chromium
)
# The browser player's JavaScript (npm ci) and its tests need Node.js and npm. Debian's
# packages are installed only when no node or npm is on the PATH, so that a Node.js installed
# otherwise (which brings its own npm) is left alone.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "ERROR: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
