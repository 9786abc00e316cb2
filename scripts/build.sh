#!/bin/sh
# Configures and builds one preset of CMakePresets.json (default: default,
# in build/), quietly but for warnings and errors while configuring.
set -eu
cd "$(dirname "$0")/.."
preset="${1:-default}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
