#!/bin/sh
# Sets up, builds and starts the program on the working copy beside it.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting the program on a virtual screen (xvfb-run)." >&2
    exec xvfb-run -a -s "-screen 0 1024x768x24" build/vantrel-filter
fi
exec build/vantrel-filter
