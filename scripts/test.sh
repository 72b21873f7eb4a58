#!/bin/bash
# Runs every test: the Linux build under AddressSanitizer and UndefinedBehaviorSanitizer, the
# threaded tests under ThreadSanitizer, the Windows cross build under Wine, and a short run of
# each fuzz target.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
jobs=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh build windows fuzz

echo "== Linux tests (ASan + UBSan) =="
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNORVIK_SANITIZE=ON -DNORVIK_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd build-asan && ctest --output-on-failure -j "$jobs")

echo "== Threaded tests (ThreadSanitizer) =="
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNORVIK_SANITIZE_THREAD=ON -DNORVIK_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target platform_tests service_core_tests session_tests space_swapchain_tests winpipe_tests \
    apilayer_tests window_service_tests input_tests gpu_tests basic_driver_tests lenssdk_tests plexa_tests
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
(cd build-tsan && ctest --output-on-failure -j "$jobs" -L threads)

echo "== Windows tests under Wine =="
scripts/test-windows.sh

echo "== Fuzz targets =="
FUZZ_SECONDS=${FUZZ_SECONDS:-15} scripts/fuzz.sh

echo "All tests passed."
