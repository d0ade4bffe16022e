#!/usr/bin/env bash
# Installs what is missing, builds, and starts ZarvikConfig. The program keeps
# ZarvikConfig.ini and the profile folder "bd" in its working folder, here
# ./run (created on first start). Arguments are passed to the program (for
# example: ./run.sh debug).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-deps.sh
zarvik_ensure_deps

JOBS=${JOBS:-$(nproc)}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVIK_UI=ON >/dev/null
cmake --build build -j "$JOBS" --target ZarvikConfig

mkdir -p run
cd run
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found (DISPLAY is not set): starting under a virtual X server." >&2
  exec xvfb-run -a ../build/ui/ZarvikConfig "$@"
fi
exec ../build/ui/ZarvikConfig "$@"
