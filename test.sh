#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in the Release build and once in
# the Debug build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh test
scripts/build.sh release
(cd build/release && ctest --output-on-failure)
scripts/build.sh asan
# Qt WebEngine's bundled Chromium is not built with the sanitizers; leak reports from inside it
# are not ours, so leak checking is off while every memory and UB error still fails the run.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build/asan && ctest --output-on-failure)
