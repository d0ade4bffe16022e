#!/usr/bin/env bash
# Builds the Debian packages zarvikconfig, zarvikctl and zarvik-sim into
# OUTDIR (default dist/) and checks them with lintian.
#
#   scripts/package.sh [OUTDIR]
#
# The packages are made from the tree in BUILD_DIR (default build/), which is
# configured as test.sh configures it when missing; only the three programs
# are built (nothing when they are up to date), so after ./test.sh this takes
# seconds. ZARVIK_LINTIAN=0 skips lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-deps.sh
zarvik_ensure_deps

OUT=${1:-dist}
BUILD_DIR=${BUILD_DIR:-build}
JOBS=${JOBS:-$(nproc)}

if [ ! -f "$BUILD_DIR/CPackConfig.cmake" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVIK_UI=ON -DZARVIK_TESTS=ON >/dev/null
fi
cmake --build "$BUILD_DIR" -j "$JOBS" --target ZarvikConfig zarvikctl zarvik-sim

mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
# The packages' files are owned by root and keep the modes the install rules
# give, whatever the umask of the caller.
umask 022
(cd "$BUILD_DIR" && cpack -G DEB -B "$staging" >"$staging/cpack.log" 2>&1) || {
  cat "$staging/cpack.log" >&2
  echo "cpack failed" >&2
  exit 1
}
debs=()
for f in "$staging"/*.deb; do
  rm -f "$OUT/$(basename "$f")"
  mv "$f" "$OUT/"
  debs+=("$OUT/$(basename "$f")")
done
[ "${#debs[@]}" -eq 3 ] || { echo "expected 3 packages, got ${#debs[@]}" >&2; exit 1; }

if [ "${ZARVIK_LINTIAN:-1}" = 1 ]; then
  # No errors and no warnings; overrides only in the packages, with reasons.
  lintian --fail-on error,warning --tag-display-limit 0 "${debs[@]}"
fi
for f in "${debs[@]}"; do
  printf '%s  %s KiB\n' "$(basename "$f")" "$(( $(stat -c %s "$f") / 1024 ))"
done
