#!/usr/bin/env bash
# The orx program under valgrind's memcheck: every variant encoded and
# decoded (processor road: the graphics driver is not ours to check). Any
# memory error or definite/indirect leak fails the test.
set -euo pipefail
orx="$1"
supp="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ORX_PREFERENCES_DIR="$work/prefs" ORX_DISABLE_GL=1
vg=(valgrind -q --error-exitcode=9 --leak-check=full --show-leak-kinds=definite,indirect
    --errors-for-leak-kinds=definite,indirect --suppressions="$supp")
for v in "quality discard" "performance discard" "vovorevaded discard" "quality preserve"; do
  set -- $v
  "${vg[@]}" "$orx" encode --test-clip --size 72x40 --frames 4 --optimize "$1" --transparency "$2" --threads 2 \
    -q -y -o "$work/m.mov"
  "${vg[@]}" "$orx" decode "$work/m.mov" -q -y -o "$work/m.argb"
  "${vg[@]}" "$orx" info --frames "$work/m.mov" > /dev/null
  echo "$1/$2: clean"
done
