#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vantory with its built-in simulated readers.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VANTORY_BUILD_DIR:-$root/build}"
"$root/scripts/deps.sh"
"$root/scripts/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No desktop session (a bare server): run on a virtual screen instead.
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$build/app/vantory" --simulate "$@"
fi
exec "$build/app/vantory" --simulate "$@"
