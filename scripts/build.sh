#!/usr/bin/env bash
# Builds one configuration:
#   run      the programs only, in build/release (Release; no tests, benchmarks or KDE plugin)
#   release  everything in build/release: the programs, tests, benchmarks, and KDE's preview
#            plugin when KF5 KIO is installed
#   asan     build/asan, Debug with AddressSanitizer and UndefinedBehaviorSanitizer, with tests
# run and release share build/release, so the tests build on what run built.
set -euo pipefail
cd "$(dirname "$0")/.."
config=${1:-release}
case "$config" in
  run) dir=release args=(-DCMAKE_BUILD_TYPE=Release -DIV_SANITIZE=OFF
                         -DIV_BUILD_TESTS=OFF -DIV_BUILD_BENCH=OFF -DIV_BUILD_KDE_PLUGIN=OFF) ;;
  release) dir=release args=(-DCMAKE_BUILD_TYPE=Release -DIV_SANITIZE=OFF
                             -DIV_BUILD_TESTS=ON -DIV_BUILD_BENCH=ON -DIV_BUILD_KDE_PLUGIN=ON) ;;
  asan) dir=asan args=(-DCMAKE_BUILD_TYPE=Debug -DIV_SANITIZE=ON
                       -DIV_BUILD_TESTS=ON -DIV_BUILD_BENCH=OFF -DIV_BUILD_KDE_PLUGIN=ON) ;;
  *) echo "usage: $0 [run|release|asan]" >&2; exit 2 ;;
esac
cmake -S . -B "build/$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "build/$dir"
