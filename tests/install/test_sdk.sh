#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds a C program outside
# the tree against it: through pkg-config (shared and static) and through
# find_package(ORX) (both targets). Each program runs without
# LD_LIBRARY_PATH, although the prefix lies outside the loader's own
# folders, and each must have loaded or linked the installed library, none
# from the build tree. The library, the program and the plug-in of the
# prefix report one version.
set -euo pipefail
build="$1"
source_dir="$(cd "$(dirname "$0")" && pwd)/consumer"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/p" > "$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
p="$work/p"
pc="$(find "$p" -name orx.pc -print -quit)"
[ -n "$pc" ] || fail "orx.pc is not installed"
libdir="$(dirname "$(dirname "$pc")")"
for f in include/orx/orx.h; do [ -f "$p/$f" ] || fail "$f is not installed"; done
for f in liborx.so liborx.so.1 liborx.a cmake/ORX/ORXConfig.cmake cmake/ORX/ORXConfigVersion.cmake; do
  [ -e "$libdir/$f" ] || fail "$libdir/$f is not installed"
done
[ "$(readelf -d "$libdir/liborx.so.1" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')" = liborx.so.1 ] || fail "soname"
# Only the public calls are exported.
others="$(nm -D --defined-only "$libdir/liborx.so.1" | awk '{print $3}' | grep -v -e '^orx_' -e '^ORX_1' || true)"
[ -z "$others" ] || fail "liborx.so.1 exports more than its calls: $(echo $others | head -c 200)"

# The library a program loaded, from the dynamic loader's own account.
check_loaded() {
  env -u LD_LIBRARY_PATH LD_DEBUG=libs "$1" "$work/m.mov" > "$work/out" 2> "$work/ld.log" ||
    { cat "$work/out" "$work/ld.log" | tail -5; fail "$2 failed"; }
  grep -q "^liborx " "$work/out" || fail "$2 printed: $(cat "$work/out")"
  loaded="$(sed -n 's/.*calling init: //p' "$work/ld.log" | grep liborx || true)"
  [ "$loaded" = "$libdir/liborx.so.1" ] || fail "$2 loaded '$loaded', not the installed liborx.so.1"
}
check_static() {
  "$1" "$work/m.mov" > "$work/out" || fail "$2 failed"
  grep -q "^liborx " "$work/out" || fail "$2 printed: $(cat "$work/out")"
  ! readelf -d "$1" | grep -q 'liborx' || fail "$2 needs liborx.so although it linked liborx.a"
}

export PKG_CONFIG_PATH="$(dirname "$pc")"
# The prefix is outside the loader's folders: without the path orx.pc gives,
# the program cannot start.
cc -std=c11 $(pkg-config --cflags orx) "$source_dir/consumer.c" -o "$work/pc_bare" \
  $(pkg-config --libs-only-L --libs-only-l orx) || fail "building through pkg-config without its run-time path"
if env -u LD_LIBRARY_PATH "$work/pc_bare" "$work/m.mov" > /dev/null 2> "$work/bare.log"; then
  fail "a program without a run-time path found liborx.so.1: the prefix is not outside the loader's folders"
fi
grep -q "liborx.so.1: cannot open shared object file" "$work/bare.log" || fail "the bare program said: $(cat "$work/bare.log")"
[ "$(pkg-config --variable=rpath orx)" = "$libdir" ] || fail "orx.pc's rpath is '$(pkg-config --variable=rpath orx)', not $libdir"
cc -std=c11 -Wall -Wextra -Werror $(pkg-config --cflags orx) "$source_dir/consumer.c" -o "$work/pc_shared" \
  $(pkg-config --libs orx) || fail "building through pkg-config"
check_loaded "$work/pc_shared" "the pkg-config program"
version="$(sed -n 's/^liborx \([^:]*\):.*/\1/p' "$work/out")"
static_libs="$(pkg-config --static --libs orx | sed 's/-lorx\b/-Wl,-Bstatic -lorx -Wl,-Bdynamic/')"
cc -std=c11 -Wall -Wextra -Werror $(pkg-config --cflags orx) "$source_dir/consumer.c" -o "$work/pc_static" $static_libs \
  2> "$work/cc.log" || { cat "$work/cc.log"; fail "building statically through pkg-config"; }
check_static "$work/pc_static" "the static pkg-config program"

cmake -S "$source_dir" -B "$work/cb" -DCMAKE_PREFIX_PATH="$p" > "$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "configuring through find_package(ORX)"; }
cmake --build "$work/cb" > "$work/cmake-build.log" 2>&1 || { cat "$work/cmake-build.log"; fail "building through find_package(ORX)"; }
check_loaded "$work/cb/consumer" "the CMake program"
check_static "$work/cb/consumer_static" "the static CMake program"

# One version: the library's, orx.pc's, the CMake package's, the program's
# and the plug-in's.
[ -n "$version" ] || fail "the consumer printed no version"
[ "$(pkg-config --modversion orx)" = "$version" ] || fail "orx.pc says $(pkg-config --modversion orx), liborx $version"
grep -q "PACKAGE_VERSION \"$version\"" "$libdir/cmake/ORX/ORXConfigVersion.cmake" || fail "ORXConfigVersion.cmake is not $version"
[ -f "$libdir/liborx.so.$version" ] || fail "liborx.so.1 is not liborx.so.$version"
first="$("$p/bin/orx" --version | head -1)"
[ "$first" = "orx (ORX) $version" ] || fail "orx --version says '$first', liborx $version"
plugin="$(find "$p" -name libgstorx.so -print -quit)"
if [ -n "$plugin" ] && command -v gst-inspect-1.0 > /dev/null; then
  plugin_version="$(GST_PLUGIN_PATH="$(dirname "$plugin")" GST_REGISTRY="$work/registry.bin" gst-inspect-1.0 orx |
    sed -n 's/^ *Version *//p')"
  [ "$plugin_version" = "$version" ] || fail "gst-inspect-1.0 orx says version '$plugin_version', liborx $version"
fi
echo "SDK consumer: pkg-config and CMake, shared and static, without LD_LIBRARY_PATH; version $version throughout: ok"
