#!/bin/sh
# Builds the Windows program and installer and runs the test suites and the
# end-to-end scenarios under Wine. The Windows Qt comes first when it is
# missing: unpacked from ../shared/windows-qt when a ready-made copy with the
# same stamp is there (seconds), built otherwise (about an hour on two cores).
set -eu
cd "$(dirname "$0")/.."
scripts/windows-build.sh
ctest --preset windows
