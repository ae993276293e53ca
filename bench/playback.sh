#!/bin/sh
# Real-time playback through orxdec: movies of the built-in test clip at 30
# fps played with qtdemux ! orxdec ! fakesink sync=true, the sink dropping
# frames later than 20 ms as a video sink does. Prints the frames dropped
# for every variant at 1920x1080 and at 3840x2160, then for four 1080p
# layers of each variant played at once in one pipeline (four decoders, as
# a player of layers runs them). A run with the decoder slowed by 50 ms a
# frame comes first, to show that drops are counted. With PHOTOS, a folder
# holding 1920x1080/ and 3840x2160/ of numbered PNG frames (frame0000.png
# on), the movies are made of those pictures instead of the test clip.
# usage: [PHOTOS=DIR] playback.sh ORX_BINARY GST_PLUGIN_DIR [FRAMES]
set -eu
orx=$1
export GST_PLUGIN_PATH="$2"
frames=${3:-90}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
variants="performance quality vovorevaded quality-alpha"
for v in $variants; do
  opt=$v transparency=discard
  [ "$v" = quality-alpha ] && opt=quality transparency=preserve
  for size in 1920x1080 3840x2160; do
    if [ -n "${PHOTOS:-}" ]; then
      set -- "$PHOTOS/$size/frame%04d.png"
    else
      set -- --test-clip --size "$size"
    fi
    "$orx" encode "$@" --frames "$frames" --fps 30 --optimize "$opt" \
      --transparency "$transparency" -q -o "$dir/$v-$size.mov"
  done
done
# The frames dropped by every sink of the pipeline, added up (each sink's
# last QoS report counts them all).
dropped() {
  gst-launch-1.0 -m "$@" 2>&1 |
    sed -n 's/.*from element "\([^"]*\)" (qos).*dropped=(guint64)\([0-9]*\).*/\1 \2/p' |
    awk '{ d[$1] = $2 } END { n = 0; for (k in d) n += d[k]; print n }'
}
# One branch of a pipeline: a movie through orxdec into a synchronised sink.
branch() {  # movie, sink name, extra elements before the sink
  echo "filesrc location=$1 ! qtdemux ! orxdec $3 ! fakesink name=$2 sync=true qos=true max-lateness=20000000"
}
# shellcheck disable=SC2046 # the branch's words are the pipeline's
slow=$(dropped $(branch "$dir/performance-1920x1080.mov" s "! identity sleep-time=50000"))
echo "check: a decoder slowed by 50 ms a frame drops $slow of $frames"
printf '%-16s %14s %14s %22s\n' variant 1080p30 4K30 "four 1080p30 layers"
for v in $variants; do
  # shellcheck disable=SC2046
  hd=$(dropped $(branch "$dir/$v-1920x1080.mov" s ""))
  # shellcheck disable=SC2046
  uhd=$(dropped $(branch "$dir/$v-3840x2160.mov" s ""))
  # shellcheck disable=SC2046
  layers=$(dropped $(branch "$dir/$v-1920x1080.mov" s0 "") $(branch "$dir/$v-1920x1080.mov" s1 "") \
    $(branch "$dir/$v-1920x1080.mov" s2 "") $(branch "$dir/$v-1920x1080.mov" s3 ""))
  printf '%-16s %14s %14s %22s\n' "$v" "$hd of $frames" "$uhd of $frames" "$layers of $((4 * frames))"
done
