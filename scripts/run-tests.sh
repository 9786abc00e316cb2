#!/bin/sh
# Sets up, builds and runs every test: the test suite, then the keyword file
# fuzzer for a minute ($FUZZ_SECONDS), then the suite again under ASan and
# UBSan, then the Windows program and installer built and their suites run
# under Wine (the Windows Qt made first when it is missing: see
# scripts/windows-qt.sh). Fails when any of them fails.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
export VANTREL_SET_UP=1
scripts/build.sh

failed=""
ctest --preset default || failed="$failed test-suite"
scripts/fuzz.sh "${FUZZ_SECONDS:-60}" || failed="$failed fuzzer"
scripts/sanitize.sh || failed="$failed sanitizers"
scripts/windows-tests.sh || failed="$failed windows"

if [ -n "$failed" ]; then
    echo "FAILED:$failed" >&2
    exit 1
fi
echo "All passed: test suite, fuzzer, sanitizers, Windows under Wine."
