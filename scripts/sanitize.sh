#!/bin/sh
# Builds the whole project with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ and runs the test suite there. Any report fails the test
# it happens in. Leaks reported inside third-party libraries are suppressed
# by tests/sanitizers/lsan.supp; our own code gets no suppressions.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh

scripts/build.sh asan
# The options and suppressions are in the asan test preset. It leaves out the
# end-to-end tests: they drive the same code on a real X display, where
# third-party libraries (xkbcommon, D-Bus) trip the checks.
ctest --preset asan
