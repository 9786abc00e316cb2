#!/bin/sh
# Installs the Windows toolchain from Debian's archive: mingw-w64 (posix
# threads, which Qt needs), Wine to run the tests, NSIS for the installer,
# icoutils to read the built files' resources back and xz to unpack a
# ready-made Windows Qt.
set -eu
cd "$(dirname "$0")/.."
exec scripts/setup.sh g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine nsis zip icoutils xz-utils
