#!/bin/sh
# Builds the Windows program, its tests and its installer into build-windows/
# (the windows preset) with mingw-w64 and the Windows Qt that
# scripts/windows-qt.sh makes (first when it is missing or made for another
# version or options: unpacked in seconds from ../shared/windows-qt when a
# copy with the same stamp is there, built in about an hour otherwise).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/windows-setup.sh
. scripts/windows-env.sh
scripts/windows-qt.sh
scripts/build.sh windows
