#!/usr/bin/env bash
# Remakes the local ad service's video (tools/adserver/fixtures/static/video.webm): 5 s of a moving
# test pattern with a quiet tone, VP8 + Opus in WebM, which Debian's base and good GStreamer
# plugins and WebKit play. Needs gstreamer1.0-tools.
set -euo pipefail
out="${1:-$(dirname "$0")/../tools/adserver/fixtures/static/video.webm}"
gst-launch-1.0 -q -e \
  videotestsrc pattern=smpte horizontal-speed=4 num-buffers=150 \
  ! video/x-raw,width=320,height=180,framerate=30/1 ! videoconvert \
  ! vp8enc target-bitrate=250000 keyframe-max-dist=30 deadline=1 ! queue ! mux. \
  audiotestsrc num-buffers=235 volume=0.1 freq=440 ! audio/x-raw,rate=48000,channels=1 \
  ! audioconvert ! opusenc bitrate=16000 ! queue ! mux. \
  webmmux name=mux ! filesink location="$out"
