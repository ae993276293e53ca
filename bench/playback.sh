#!/bin/sh
# Real-time playback through orxdec: 1080p30 movies of every variant (the
# built-in test clip, 90 frames) played with qtdemux ! orxdec ! fakesink
# sync=true, the sink dropping frames later than 20 ms as a video sink
# does; prints the frames dropped per variant on the default road and on
# the graphics road (ORX_FORCE_GL=1). A run with the decoder slowed by 50 ms
# a frame comes first, to show that drops are counted.
# usage: playback.sh ORX_BINARY GST_PLUGIN_DIR [FRAMES]
set -eu
orx=$1
export GST_PLUGIN_PATH=$2
frames=${3:-90}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for v in performance quality vovorevaded quality-alpha; do
  opt=$v transparency=discard
  [ "$v" = quality-alpha ] && opt=quality transparency=preserve
  "$orx" encode --test-clip --size 1920x1080 --frames "$frames" --fps 30 --optimize "$opt" \
    --transparency "$transparency" -q -o "$dir/$v.mov"
done
dropped() {  # movie, extra elements before the sink, environment setting
  env ${3:-ORX_FORCE_GL=0} gst-launch-1.0 -m filesrc location="$1" ! qtdemux ! orxdec $2 ! fakesink sync=true qos=true \
    max-lateness=20000000 2>&1 | sed -n 's/.*dropped=(guint64)\([0-9]*\).*/\1/p' | tail -n 1
}
slow=$(dropped "$dir/performance.mov" "! identity sleep-time=50000")
echo "check: a decoder slowed by 50 ms a frame drops ${slow:-0} of $frames"
printf '%-16s %16s %16s\n' variant "dropped (road)" "dropped (GL)"
for v in performance quality vovorevaded quality-alpha; do
  d=$(dropped "$dir/$v.mov" "")
  g=$(dropped "$dir/$v.mov" "" ORX_FORCE_GL=1)
  printf '%-16s %16s %16s\n' "$v" "${d:-0} of $frames" "${g:-0} of $frames"
done
