#!/bin/sh
# Builds the Windows program, its tests and its installer into build-windows/
# (or $WINDOWS_BUILD_DIR) with mingw-w64 and the Windows Qt that
# scripts/windows-qt.sh makes (made first when it is missing: about an hour).
set -eu
cd "$(dirname "$0")/.."
. scripts/windows-env.sh
[ -f "$VANTREL_WINQT/vantrel-stamp" ] || scripts/windows-qt.sh
scripts/windows-setup.sh
build="${WINDOWS_BUILD_DIR:-build-windows}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$VANTREL_WINQT/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine "$@" >/dev/null
cmake --build "$build"
