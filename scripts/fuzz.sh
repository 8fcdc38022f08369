#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into ./build-fuzz-ci (or $VANTORY_FUZZ_DIR) and
# runs each one for $VANTORY_FUZZ_SECONDS seconds (30 by default) on a copy of its seed
# corpus in fuzz/corpus/. Fails when a target finds a crash; the crashing input is left
# in <build>/fuzz/artifacts/ as <target>-crash-* (or -leak-*, -timeout-*).
#   scripts/fuzz.sh [target...]     default: all three targets
# Skips with a message (exit 0) when clang or its libFuzzer runtime is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VANTORY_FUZZ_DIR:-$root/build-fuzz-ci}"
seconds="${VANTORY_FUZZ_SECONDS:-30}"
jobs="$(nproc 2>/dev/null || echo 2)"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_r321_reply fuzz_feig_reply fuzz_config_open)
fi

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not found, fuzz targets skipped"
  exit 0
fi
probe="$(mktemp -d)"
trap 'rm -rf "$probe"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
  >"$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1; then
  echo "fuzz: clang has no libFuzzer runtime, fuzz targets skipped"
  exit 0
fi

# Debug keeps Qt's and our assertions; -O1 keeps it fast enough to fuzz.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DVANTORY_FUZZ=ON \
  -DVANTORY_BUILD_TESTS=OFF -DVANTORY_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export ASAN_OPTIONS="fast_unwind_on_malloc=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
status=0
artifacts="$build/fuzz/artifacts"
rm -rf "$artifacts"
mkdir -p "$artifacts"
for t in "${targets[@]}"; do
  work="$build/fuzz/work-$t"
  log="$build/fuzz/$t.log"
  rm -rf "$work"
  mkdir -p "$work"
  echo "== $t: ${seconds}s"
  # New inputs go to the work directory; the committed seeds are only read.
  rc=0
  "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/$t-" "$work" "$root/fuzz/corpus/$t" \
    >"$log" 2>&1 || rc=$?
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)|ERROR|SUMMARY|invariant broken|Test unit written' \
    "$log" || true
  if [ "$rc" != 0 ] || compgen -G "$artifacts/$t-*" >/dev/null; then
    echo "fuzz: $t found a problem (exit $rc); see $log and $artifacts" >&2
    status=1
  fi
done
exit "$status"
