#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UBSan (GCC) into ./build-sanitize (or
# $VANTORY_SANITIZE_DIR) and runs the whole test suite headless under them.
# Extra arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VANTORY_SANITIZE_DIR:-$root/build-sanitize}"
jobs="$(nproc 2>/dev/null || echo 2)"

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTORY_SANITIZE=ON \
  -DVANTORY_FUZZ=OFF >/dev/null
cmake --build "$build" -j "$jobs"

cd "$build"
# Full stacks, so that the suppressions see the system libraries' own allocations.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export ASAN_OPTIONS="fast_unwind_on_malloc=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" "$@"
