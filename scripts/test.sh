#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what the build needs,
# builds everything with warnings as errors and runs the tests, then does the
# same in an address/undefined-behaviour sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)

echo "== release build (warnings are errors)"
cmake -S . -B build -DVURUDE_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

echo "== sanitizer build (address, undefined behaviour)"
cmake -S . -B build-asan -DVURUDE_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
  -DVURUDE_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp":fast_unwind_on_malloc=0 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600
