#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds a C program outside
# the tree against it: through pkg-config (shared and static) and through
# find_package(ORX) (both targets). Each program runs, and each must have
# loaded or linked the installed library, none from the build tree.
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
  LD_DEBUG=libs "$1" "$work/m.mov" > "$work/out" 2> "$work/ld.log" || { cat "$work/out" "$work/ld.log" | tail -5; fail "$2 failed"; }
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
cc -std=c11 -Wall -Wextra -Werror $(pkg-config --cflags orx) "$source_dir/consumer.c" -o "$work/pc_shared" \
  $(pkg-config --libs orx) -Wl,-rpath,"$libdir" || fail "building through pkg-config"
check_loaded "$work/pc_shared" "the pkg-config program"
static_libs="$(pkg-config --static --libs orx | sed 's/-lorx\b/-Wl,-Bstatic -lorx -Wl,-Bdynamic/')"
cc -std=c11 -Wall -Wextra -Werror $(pkg-config --cflags orx) "$source_dir/consumer.c" -o "$work/pc_static" $static_libs \
  2> "$work/cc.log" || { cat "$work/cc.log"; fail "building statically through pkg-config"; }
check_static "$work/pc_static" "the static pkg-config program"

cmake -S "$source_dir" -B "$work/cb" -DCMAKE_PREFIX_PATH="$p" -DCMAKE_BUILD_RPATH="$libdir" > "$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "configuring through find_package(ORX)"; }
cmake --build "$work/cb" > "$work/cmake-build.log" 2>&1 || { cat "$work/cmake-build.log"; fail "building through find_package(ORX)"; }
check_loaded "$work/cb/consumer" "the CMake program"
check_static "$work/cb/consumer_static" "the static CMake program"
echo "SDK consumer: pkg-config and CMake, shared and static: ok"
