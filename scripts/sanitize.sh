#!/usr/bin/env bash
# Builds everything as a Debug build (assertions on: Q_ASSERT, Qt's checks of empty lists
# and out-of-range indexes) with AddressSanitizer and UBSan (GCC) into ./build-sanitize
# (or $VANTORY_SANITIZE_DIR), and runs the whole test suite headless under them, the
# record server test included. Extra arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VANTORY_SANITIZE_DIR:-$root/build-sanitize}"
jobs="$(nproc 2>/dev/null || echo 2)"

"$root/scripts/deps.sh" ccache
# ccache (scripts/deps.sh installs it) makes a later run on the same machine quick; paths
# under the source folder count relative, so another clone hits the same entries.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$root"
fi
# -O1 and line tables only (-g1) keep the sanitized build and suite within CI's time;
# Debug keeps every assertion.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" \
  -DVANTORY_SANITIZE=ON -DVANTORY_FUZZ=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$jobs"

cd "$build"
# Full stacks, so that the suppressions see the system libraries' own allocations.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export ASAN_OPTIONS="fast_unwind_on_malloc=0:detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
# A timing test that the sanitizers' load makes miss its mark gets one more run
# (--repeat until-pass:2); a real fault fails both.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --repeat until-pass:2 "$@"
