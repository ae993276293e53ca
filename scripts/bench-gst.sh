#!/usr/bin/env bash
# Playback speed of the orxdec GStreamer element beside orx decode, in the
# same run: for each variant a 1920x1080 movie of the built-in test clip is
# made, then decoded by
#   gst-launch-1.0 filesrc ! qtdemux ! orxdec ! fakesink
#   orx decode MOVIE -o /dev/null
# Both times are whole runs (start-up included), the best of REPEATS.
# Usage: scripts/bench-gst.sh [BUILD_DIR] (FRAMES, SIZE, REPEATS from the environment)
set -euo pipefail

BUILD=${1:-build}
FRAMES=${FRAMES:-120}
SIZE=${SIZE:-1920x1080}
REPEATS=${REPEATS:-3}
ORX="$BUILD/app/orx"
PLUGINS="$BUILD/gst-plugins"
LAUNCH=$(command -v gst-launch-1.0) || { echo "gst-launch-1.0 is not installed" >&2; exit 1; }
[ -x "$ORX" ] || { echo "$ORX is not built" >&2; exit 1; }
[ -f "$PLUGINS/libgstorx.so" ] || { echo "$PLUGINS/libgstorx.so is not built" >&2; exit 1; }

WORK=$(mktemp -d /tmp/orx-bench-gst-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
export ORX_PREFERENCES_DIR="$WORK/prefs"
export GST_PLUGIN_PATH="$PLUGINS"
export GST_REGISTRY="$WORK/registry.bin"
"${LAUNCH%-launch-1.0}-inspect-1.0" orxdec > /dev/null  # builds the registry outside the timings

# Seconds of the best of REPEATS runs of a command.
best() {
  local best="" t0 t1 s
  for _ in $(seq "$REPEATS"); do
    t0=$(date +%s.%N)
    "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    t1=$(date +%s.%N)
    s=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$s < $best" | bc -l)" = 1 ]; then best=$s; fi
  done
  echo "$best"
}

echo "orxdec against orx decode: $FRAMES frames of $SIZE, best of $REPEATS, $(nproc) processors"
printf "%-24s %-14s %12s %12s %8s\n" "settings" "frames hold" "orxdec fps" "orx fps" "ratio"
for transparency in discard preserve; do
  for optimize in quality performance vovorevaded; do
    movie="$WORK/$transparency-$optimize.mov"
    "$ORX" encode -q --test-clip --size "$SIZE" --frames "$FRAMES" --transparency "$transparency" \
      --optimize "$optimize" -o "$movie"
    # The first frame's variant (awk reads to the end: no broken pipe).
    variant=$("$ORX" info --frames "$movie" | awk '$1 == "0" && v == "" { v = $2 ($3 == "LZF" ? "+LZF" : " raw") } END { print v }')
    g=$(best "$LAUNCH" -q filesrc location="$movie" ! qtdemux ! orxdec ! fakesink)
    o=$(best "$ORX" decode -q "$movie" -o /dev/null)
    printf "%-24s %-14s %12.1f %12.1f %8.2f\n" "$transparency $optimize" "$variant" \
      "$(echo "$FRAMES / $g" | bc -l)" "$(echo "$FRAMES / $o" | bc -l)" "$(echo "$o / $g" | bc -l)"
    rm -f "$movie"
  done
done
echo "ratio: orxdec's frame rate over orx decode's (1.00 = the same speed)"
