#!/usr/bin/env bash
# Builds everything as a Debug build (assertions on: Q_ASSERT, Qt's checks of empty lists
# and out-of-range indexes) with AddressSanitizer and UBSan (GCC) into ./build-sanitize
# (or $VANTORY_SANITIZE_DIR), and runs the whole test suite headless under them, the
# record server test included. Extra arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VANTORY_SANITIZE_DIR:-$root/build-sanitize}"
jobs="$(nproc 2>/dev/null || echo 2)"

"$root/scripts/deps.sh"
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# -O1 keeps the sanitized suite within CI's time; Debug keeps every assertion.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DVANTORY_SANITIZE=ON -DVANTORY_FUZZ=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$jobs"

cd "$build"
# Full stacks, so that the suppressions see the system libraries' own allocations.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export ASAN_OPTIONS="fast_unwind_on_malloc=0:detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
# The timing tests allow for the sanitizers' slower code (see tests/timescale.h).
export VANTORY_TIME_SCALE="${VANTORY_TIME_SCALE:-3}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" "$@"
