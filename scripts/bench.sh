#!/bin/sh
# Builds a Release build in build-release/ and runs the benchmarks: the
# keyword store (arguments go to it: --sizes 10000,100000 --reps 7 --dir DIR),
# then start-up and the main window at a million rows.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release
build-release/bench/bench_store "$@"
echo
QT_QPA_PLATFORM=offscreen build-release/bench/bench_window
