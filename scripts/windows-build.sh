#!/bin/sh
# Builds the Windows program, its tests and its installer into build-windows/
# (the windows preset) with mingw-w64 and the Windows Qt that
# scripts/windows-qt.sh makes (made first when it is missing: about an hour).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/windows-setup.sh
. scripts/windows-env.sh
[ -f "$VANTREL_WINQT/vantrel-stamp" ] || scripts/windows-qt.sh
scripts/build.sh windows
