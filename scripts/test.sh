#!/usr/bin/env bash
# Installs what is missing, builds from scratch and runs every test.
#   scripts/test.sh             plain build in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

dir=build
opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRELLIX_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  opts=(-DCMAKE_BUILD_TYPE=Debug -DBRELLIX_WERROR=ON -DBRELLIX_SANITIZE=ON -DBRELLIX_BENCH=OFF)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
rm -rf "$dir"
cmake -S . -B "$dir" "${opts[@]}"
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
