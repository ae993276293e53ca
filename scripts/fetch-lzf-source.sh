#!/usr/bin/env bash
# Fetches Debian's liblzf source package (upstream tarball, checked against
# the package's .dsc by apt) and unpacks it into DEST, for the Windows build,
# which needs liblzf compiled for Win32. A no-op when DEST already holds it.
# Usage: scripts/fetch-lzf-source.sh DEST
set -euo pipefail
mkdir -p "$1"
dest="$(cd "$1" && pwd)"
if [ -f "$dest/lzf_c.c" ]; then exit 0; fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
# Only the upstream tarball is needed; apt verifies what it downloads.
apt-get source --download-only -q liblzf > apt.log 2>&1 || true
tarball="$(ls liblzf_*.orig.tar.gz 2>/dev/null | head -1 || true)"
dsc="$(ls liblzf_*.dsc 2>/dev/null | head -1 || true)"
if [ -z "$tarball" ] || [ -z "$dsc" ]; then
  cat apt.log >&2
  echo "fetch-lzf-source: could not download Debian's liblzf source (is a deb-src entry configured?)" >&2
  exit 1
fi
want="$(awk '/^Checksums-Sha256:/{f=1;next} f&&/orig.tar.gz/{print $1; exit}' "$dsc")"
have="$(sha256sum "$tarball" | cut -d' ' -f1)"
if [ "$want" != "$have" ]; then
  echo "fetch-lzf-source: $tarball does not match its .dsc checksum" >&2
  exit 1
fi
mkdir -p "$dest"
tar xzf "$tarball" --strip-components=1 -C "$dest"
echo "liblzf source in $dest"
