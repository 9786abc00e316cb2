#!/bin/sh
# Builds the Windows program and installer and runs the test suites and the
# end-to-end scenario under Wine. Without the Windows Qt (scripts/windows-qt.sh
# makes it once, in about an hour) it says so and skips, unless asked to make
# it with --make-qt (exit status 77 for skipped).
set -eu
cd "$(dirname "$0")/.."
. scripts/windows-env.sh
if [ ! -f "$VANTREL_WINQT/vantrel-stamp" ] && [ "${1:-}" != "--make-qt" ]; then
    echo "Windows: skipped: no Windows Qt in $VANTREL_WINQT."
    echo "Make it once with scripts/windows-qt.sh (about an hour on two cores), or run scripts/windows-tests.sh --make-qt."
    exit 77
fi
scripts/windows-build.sh
ctest --preset windows
