#!/bin/sh
# Sets up, builds and runs every test: the test suite, then the keyword file
# fuzzer for a minute ($FUZZ_SECONDS), then the suite again under ASan and
# UBSan, then the Windows build's suites under Wine (skipped, and said so,
# while the Windows Qt is not made). Fails when any of them fails.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
export VANTREL_SET_UP=1
scripts/build.sh

failed=""
ctest --preset default || failed="$failed test-suite"
scripts/fuzz.sh "${FUZZ_SECONDS:-60}" || failed="$failed fuzzer"
scripts/sanitize.sh || failed="$failed sanitizers"
windows="Windows under Wine"
scripts/windows-tests.sh || case $? in
    77) windows="Windows skipped (no Windows Qt)" ;;
    *) failed="$failed windows" ;;
esac

if [ -n "$failed" ]; then
    echo "FAILED:$failed" >&2
    exit 1
fi
echo "All passed: test suite, fuzzer, sanitizers; $windows."
