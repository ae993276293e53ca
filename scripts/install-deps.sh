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
  # The LZF unpacking benchmark compares with snappy's unpacking.
  libsnappy-dev
  libsquish-dev
  libegl1-mesa-dev
  libgl-dev
  mesa-common-dev
  libgl1-mesa-dri
  imagemagick
  libspng-dev
  # TIFF sequences, 16-bit samples read whole (GStreamer's reader keeps 8 bits).
  libtiff-dev
  mediainfo
  gstreamer1.0-tools
  gstreamer1.0-plugins-good
  # orx encode reads footage through GStreamer's own plug-ins: bad for
  # H.264 (openh264) and AV1 (aom), ugly for the suites' x264enc.
  gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly
  # The orxdec plug-in (gst/) and its suite: GStreamer's headers, qtdemux's
  # companions (videoconvert, decodebin, playbin, appsink), ximagesink and
  # gst-play-1.0.
  libgstreamer1.0-dev
  libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base
  gstreamer1.0-plugins-base-apps
  gstreamer1.0-x
  # orxdec's graphics road: GL memory to glimagesink, gldownload, the gl*
  # elements (its suite runs them under xvfb-run).
  gstreamer1.0-gl
  bc
  tmux
  clang
  libclang-rt-14-dev
  valgrind
  # The frame decoder written from the format document (a suite).
  python3
  # The README's recipe of frame ranges encoded apart and joined (a suite).
  parallel
  # The Windows builds: the mingw-w64 cross compilers (i686 for the
  # deliverable, x86-64 for the test build that runs where the kernel cannot
  # run 32-bit programs), GoogleTest's sources, and Wine (the 32-bit loader
  # and wine64) with the X and GL libraries each needs under Xvfb.
  g++-mingw-w64-i686
  g++-mingw-w64-x86-64
  googletest
  wine
  wine64
  wine32:i386
  xvfb
  xauth
  libgl1:amd64
  libglx-mesa0:amd64
  libxrender1:amd64
  libxrandr2:amd64
  libxi6:amd64
  libxcursor1:amd64
  libxinerama1:amd64
  libxcomposite1:amd64
  libxext6:amd64
  libgl1:i386
  libglx-mesa0:i386
  libgl1-mesa-dri:i386
  libxrender1:i386
  libxrandr2:i386
  libxi6:i386
  libxcursor1:i386
  libxinerama1:i386
  libxcomposite1:i386
  libxext6:i386
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# The Windows build's liblzf is compiled from Debian's source package, which
# apt fetches only with a deb-src entry.
needs_update=0
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  $SUDO tee /etc/apt/sources.list.d/orx-deb-src.sources > /dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  needs_update=1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  needs_update=1
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# A mirror caught mid-sync fails one index now and then: try again, and go on
# with the lists apt has if it keeps failing (the install says what is missing).
update() {
  for attempt in 1 2 3; do
    if $SUDO apt-get update; then return 0; fi
    echo "install-deps: apt-get update failed (attempt $attempt of 3)" >&2
    sleep $((attempt * 5))
  done
  echo "install-deps: going on with the package lists apt already has" >&2
}

if [ ${#missing[@]} -eq 0 ]; then
  if [ $needs_update -eq 1 ]; then update; fi
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
update
# When one architecture's update index failed, the amd64 and i386 halves of a
# multiarch pair can be offered at different versions; the release's own
# versions always pair up.
if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
  echo "install-deps: retrying with the release's own package versions" >&2
  $SUDO apt-get install -y --no-install-recommends -t bookworm "${missing[@]}"
fi
