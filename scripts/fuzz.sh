#!/bin/sh
# Builds the keyword-file fuzzer (clang, libFuzzer, ASan, UBSan) into
# build-fuzz/ and runs it for a bounded time on a scratch copy of the seed
# corpus in fuzz/corpus/. Exits non-zero when it finds a crash; the input
# that caused it is left in build-fuzz/ as crash-* (or leak-*, timeout-*).
#
#   scripts/fuzz.sh [seconds]      default 60, or $FUZZ_SECONDS
#   build-fuzz/fuzz/fuzz_keywordfile build-fuzz/crash-...   replays one input
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-${FUZZ_SECONDS:-60}}"
scripts/setup.sh

scripts/build.sh fuzz

# New inputs go to a scratch corpus, never into the committed seeds.
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT INT TERM
cp fuzz/corpus/* "$corpus/"

echo "Fuzzing the keyword file reader and writer for ${seconds}s..."
status=0
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}" \
    build-fuzz/fuzz/fuzz_keywordfile -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix=build-fuzz/ \
        "$corpus" >build-fuzz/fuzz.log 2>&1 || status=$?
tail -n 25 build-fuzz/fuzz.log
if [ "$status" -ne 0 ]; then
    echo "FUZZING FAILED (exit $status); full log: build-fuzz/fuzz.log" >&2
    exit 1
fi
echo "Fuzzing found nothing in ${seconds}s."
