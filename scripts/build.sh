#!/bin/sh
# Configures and builds into build/ (or $BUILD_DIR), with Debian's hardening
# flags (fortify, stack protector, full RELRO, bind-now, PIE) and source paths
# mapped to "." so that two clones build the same bytes. Every build folder
# is configured here: $BUILD_TYPE, $BUILD_TARGET (all by default) and CMake
# options as arguments.
set -eu
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" "$@" >/dev/null
cmake --build "$build" ${BUILD_TARGET:+--target "$BUILD_TARGET"}
