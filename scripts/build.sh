#!/usr/bin/env bash
# Builds one configuration: release (build/release) or asan (build/asan, Debug with
# AddressSanitizer and UndefinedBehaviorSanitizer).
set -euo pipefail
cd "$(dirname "$0")/.."
config=${1:-release}
case "$config" in
  release) args=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan) args=(-DCMAKE_BUILD_TYPE=Debug -DIV_SANITIZE=ON -DIV_BUILD_BENCH=OFF) ;;
  *) echo "usage: $0 [release|asan]" >&2; exit 2 ;;
esac
cmake -S . -B "build/$config" -G Ninja "${args[@]}" >/dev/null
cmake --build "build/$config"
