#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the installed tree, and
# runs orx encode, orx decode and a GStreamer pipeline from there with a
# bare environment. Every ORX library the programs load must come from the
# moved prefix, none from the build tree.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/first" > "$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
mv "$work/first" "$work/p"
p="$work/p"
plugin="$(find "$p" -name libgstorx.so -print -quit)"
for f in bin/orx lib/orx/libqthost.so lib/orx/ORXCodec.so lib/orx/ORXCodec.rsrc share/man/man1/orx.1 \
         share/doc/orx/README.md share/doc/orx/LICENSE share/doc/orx/docs/API.md; do
  [ -f "$p/$f" ] || fail "$f is not installed"
done
# The installed README's link to the library's reference, and the
# reference's own links, lead to installed files.
doc="$p/share/doc/orx"
grep -q '](docs/API.md)' "$doc/README.md" || fail "the installed README does not link docs/API.md"
for link in $(grep -o '](\([^)#:]*\.md\))' "$doc/docs/API.md" | sed 's/^](\(.*\))$/\1/'); do
  [ -f "$doc/docs/$link" ] || fail "the installed API.md links $link, which is not installed"
done
if [ -f "$build/gst-plugins/libgstorx.so" ] && [ -z "$plugin" ]; then fail "the GStreamer plug-in is not installed"; fi

# Relative RUNPATHs only: nothing may point into the build tree.
for f in "$p/bin/orx" "$p"/lib/orx/*.so $plugin; do
  rp="$(readelf -d "$f" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')"
  case "$rp" in
    '$ORIGIN'*) ;;
    *) fail "$f has RUNPATH \"$rp\", not one relative to \$ORIGIN" ;;
  esac
  case "$rp" in *"$build"*) fail "$f names the build tree in its RUNPATH" ;; esac
done

# The libraries a command loaded, from the dynamic loader's own account.
loaded() { sed -n 's/.*calling init: //p' "$1" | sort -u; }
# The third argument is a pattern for the installed library the command
# must have loaded: the component for orx, liborx for the plug-in.
check_loaded() {
  local log="$1" what="$2" needed="$3"
  loaded "$log" | grep -E 'ORXCodec|qthost|gstorx|liborx' > "$work/ours" || fail "$what loaded no ORX library"
  if grep -v "^$p/" "$work/ours"; then fail "$what loaded the libraries above from outside the prefix"; fi
  grep -qE "^$p/$needed$" "$work/ours" || fail "$what did not load the installed $needed"
}

cd "$work"
bare=(env -i HOME="$work" PATH=/usr/bin:/bin)
"${bare[@]}" "$p/bin/orx" --version | grep -q "^ORX components 1\." || fail "orx --version does not find the components"
"${bare[@]}" LD_DEBUG=libs LD_DEBUG_OUTPUT="$work/enc" "$p/bin/orx" encode --test-clip --size 96x64 --frames 3 -q -o clip.mov
check_loaded "$work"/enc.* "orx encode" lib/orx/ORXCodec.so
"${bare[@]}" LD_DEBUG=libs LD_DEBUG_OUTPUT="$work/dec" "$p/bin/orx" decode clip.mov -q -o clip.y4m
check_loaded "$work"/dec.* "orx decode" lib/orx/ORXCodec.so
[ "$(head -c 9 clip.y4m)" = YUV4MPEG2 ] || fail "orx decode wrote no stream"

if [ -n "$plugin" ] && command -v gst-launch-1.0 > /dev/null; then
  "${bare[@]}" GST_PLUGIN_PATH="$(dirname "$plugin")" GST_REGISTRY="$work/registry.bin" \
    LD_DEBUG=libs LD_DEBUG_OUTPUT="$work/gst" timeout 60 gst-launch-1.0 -q filesrc location=clip.mov ! qtdemux ! \
    orxdec ! video/x-raw,width=96,height=64 ! fakesink > /dev/null || fail "the installed plug-in did not play the movie"
  cat "$work"/gst.* > "$work/gst-all"
  # The plug-in decodes through liborx, found by its RUNPATH; it never
  # loads the components.
  check_loaded "$work/gst-all" "gst-launch-1.0" '(.*/)?liborx\.so\.1'
  if grep -E 'ORXCodec|qthost' "$work/ours"; then fail "the plug-in loaded the components or the host library"; fi
fi
echo "installed tree works from $p"
