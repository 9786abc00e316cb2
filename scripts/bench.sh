#!/bin/sh
# Builds a Release build in build-release/ and runs the keyword store
# benchmark; arguments go to it (--sizes 10000,100000 --reps 7 --dir DIR).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
BUILD_DIR=build-release BUILD_TYPE=Release scripts/build.sh -DBUILD_TESTING=OFF
exec build-release/bench/bench_store "$@"
