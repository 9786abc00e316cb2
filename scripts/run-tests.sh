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
# stage NAME COMMAND...: runs one stage, saying how long it took.
stage() {
    name=$1 start=$(date +%s)
    shift
    "$@" || failed="$failed $name"
    echo "== $name: $(($(date +%s) - start)) s" >&2
}
stage test-suite ctest --preset default
stage fuzzer scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
stage sanitizers scripts/sanitize.sh
stage windows scripts/windows-tests.sh

if [ -n "$failed" ]; then
    echo "FAILED:$failed" >&2
    exit 1
fi
echo "All passed: test suite, fuzzer, sanitizers, Windows under Wine."
