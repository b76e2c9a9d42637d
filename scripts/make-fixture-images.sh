#!/usr/bin/env bash
# Remakes the local ad service's splash creatives (tools/adserver/fixtures/static/splash-*): small
# real images the SDK downloads, decodes and fits to the screen. A portrait PNG for the current
# campaign, a portrait JPEG for the expired one, a landscape PNG for the future one (so fitting is
# seen both ways). Needs gstreamer1.0-tools with the base and good plugins (pngenc, jpegenc).
set -euo pipefail
dir="${1:-$(dirname "$0")/../tools/adserver/fixtures/static}"
make() {  # pattern width height encoder file [videotestsrc properties...]
  local pattern=$1 width=$2 height=$3 encoder=$4 file=$5
  shift 5
  gst-launch-1.0 -q videotestsrc num-buffers=1 pattern="$pattern" "$@" \
    ! video/x-raw,width="$width",height="$height" ! videoconvert ! $encoder \
    ! filesink location="$dir/$file"
}
make ball 320 480 pngenc splash-current.png foreground-color=0xffffd24a background-color=0xff1e78dc
make solid-color 320 480 "jpegenc quality=80" splash-past.jpg foreground-color=0xff808080
make checkers-8 480 320 pngenc splash-future.png
