#!/usr/bin/env bash
# Installs what is missing, builds from scratch and runs every test.
#   scripts/test.sh             plain build in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   scripts/test.sh --tsan      ThreadSanitizer in build-tsan/, over the tests of
#                               what runs on several threads (the batch runs)
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
tests=()
if [ "${1:-}" = "--tsan" ]; then
  dir=build-tsan
  opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRELLIX_WERROR=ON -DBRELLIX_TSAN=ON -DBRELLIX_BENCH=OFF
        -DBRELLIX_APP=OFF)
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  tests=(-R '^(Fixture|ModeFixture|Console|Jobs|ConsoleWindow)')
fi
rm -rf "$dir"
cmake -S . -B "$dir" "${opts[@]}"
if [ ${#tests[@]} -gt 0 ]; then
  cmake --build "$dir" -j"$(nproc)" --target batch_runner_test batch_console_test brellix-batch
else
  cmake --build "$dir" -j"$(nproc)"
fi
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" "${tests[@]}"
