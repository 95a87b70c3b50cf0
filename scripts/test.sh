#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what the build needs,
# builds everything with warnings as errors and runs the tests; runs the
# concurrency tests of every component under the thread sanitizer; then
# builds and runs the whole suite under the address and undefined-behaviour
# sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
# A warm compiler cache makes a second run on the same machine much faster.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

echo "== release build (warnings are errors)"
cmake -S . -B build -DVURUDE_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

echo "== thread sanitizer build (the concurrency tests of every component)"
cmake -S . -B build-tsan -DVURUDE_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DVURUDE_SANITIZE=thread \
  -DVURUDE_BENCHMARKS=OFF "${launcher[@]}" >/dev/null
tsan_tests=(
  rfclib/rfclib_tests
  server/connection/vurude_connection_test
  server/engine/vurude_engine_test
  sapsim/sapsim_conformance_test
)
cmake --build build-tsan -j "$jobs" --target sapsim $(for t in "${tsan_tests[@]}"; do basename "$t"; done)
# Two at a time; each prints its own summary, any failure fails the run.
printf '%s\n' "${tsan_tests[@]}" |
  TSAN_OPTIONS=halt_on_error=1 xargs -P "$jobs" -I{} sh -c 'build-tsan/tests/{} --gtest_brief=1 || { echo "FAILED: {}"; exit 255; }'

echo "== sanitizer build (address, undefined behaviour)"
cmake -S . -B build-asan -DVURUDE_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
  -DVURUDE_SANITIZE=address,undefined -DVURUDE_BENCHMARKS=OFF "${launcher[@]}" >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp":fast_unwind_on_malloc=0 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600
