#!/bin/sh
# Builds the whole project with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ and runs the test suite there. Any report fails the test
# it happens in. Leaks reported inside third-party libraries are suppressed
# by tests/sanitizers/lsan.supp; our own code gets no suppressions.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh

BUILD_DIR=build-asan scripts/build.sh -DVANTREL_SANITIZE=ON

root="$(pwd)"
cd build-asan
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The end-to-end tests are left out: they drive the same code on a real X
# display, where third-party libraries (xkbcommon, D-Bus) trip the checks.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 900 --label-exclude "e2e|package"
