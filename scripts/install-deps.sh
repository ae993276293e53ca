#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the benchmarks need.
# A no-op when everything is already installed; runs apt-get update at most once.
set -euo pipefail

PACKAGES=(
  build-essential
  cmake
  pkg-config
  liblzf-dev
  libstb-dev
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  libsquish-dev
  libegl1-mesa-dev
  libgl-dev
  mesa-common-dev
  libgl1-mesa-dri
  imagemagick
  libspng-dev
  mediainfo
  gstreamer1.0-tools
  gstreamer1.0-plugins-good
  tmux
  clang
  libclang-rt-14-dev
  valgrind
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
