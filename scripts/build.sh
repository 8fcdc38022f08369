#!/usr/bin/env bash
# Configures and builds Vantory into ./build (or $VANTORY_BUILD_DIR).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VANTORY_BUILD_DIR:-$root/build}"
jobs="$(nproc 2>/dev/null || echo 2)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" "$@"
cmake --build "$build" -j "$jobs"
