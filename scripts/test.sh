#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what the build needs,
# builds everything with warnings as errors and runs the tests; runs the
# concurrency tests under the thread sanitizer; then builds and runs the
# whole suite under the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)

echo "== release build (warnings are errors)"
cmake -S . -B build -DVURUDE_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

echo "== thread sanitizer build (the concurrency tests)"
cmake -S . -B build-tsan -DVURUDE_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DVURUDE_SANITIZE=thread >/dev/null
cmake --build build-tsan -j "$jobs" --target rfclib_tests vurude_connection_test
for test in build-tsan/tests/rfclib/rfclib_tests build-tsan/tests/server/connection/vurude_connection_test; do
  TSAN_OPTIONS=halt_on_error=1 "$test" --gtest_brief=1
done

echo "== sanitizer build (address, undefined behaviour)"
cmake -S . -B build-asan -DVURUDE_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
  -DVURUDE_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp":fast_unwind_on_malloc=0 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600
