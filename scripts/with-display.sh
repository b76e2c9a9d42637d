#!/usr/bin/env bash
# Runs a command where the window tests can open a display: the session's own, else a virtual one
# from Xvfb. Decided when the command runs, not when the Makefile is read, so a first `make test`
# sees the Xvfb that `make deps` has just installed.
#
# With a display to offer it sets ORVEX_REQUIRE_DISPLAY=1 (unless the caller set it): a window
# test that then cannot open one fails instead of skipping, so a run never passes with its window
# tests left out. Without a display and without xvfb-run the tests skip, and this says so.
set -euo pipefail
[[ $# -gt 0 ]] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  export ORVEX_REQUIRE_DISPLAY="${ORVEX_REQUIRE_DISPLAY:-1}"
  exec "$@"
elif command -v xvfb-run >/dev/null 2>&1; then
  export ORVEX_REQUIRE_DISPLAY="${ORVEX_REQUIRE_DISPLAY:-1}"
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
else
  echo "with-display: no display and no xvfb-run: the window tests will be skipped" >&2
  exec "$@"
fi
