#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# Options through the environment: JOBS (parallel jobs, default: cores),
# ZARVIK_FUZZ_SMOKE=0 to skip building and briefly running the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-deps.sh
zarvik_ensure_deps

JOBS=${JOBS:-$(nproc)}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVIK_UI=ON -DZARVIK_TESTS=ON
cmake --build build -j "$JOBS"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j "$JOBS" --timeout 600

# The fuzz targets are built with clang and each run briefly, so that a
# target that no longer builds or crashes at once is caught here.
if [ "${ZARVIK_FUZZ_SMOKE:-1}" = 1 ] && command -v clang++ >/dev/null 2>&1; then
  CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZARVIK_UI=OFF -DZARVIK_TESTS=OFF -DZARVIK_BENCH=OFF -DZARVIK_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j "$JOBS"
  shopt -s nullglob
  for f in build-fuzz/fuzz/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    # New inputs go to a scratch folder; the committed seeds are only read.
    scratch=$(mktemp -d)
    seeds=()
    [ -d "fuzz/corpus/${name#fuzz_}" ] && seeds=("fuzz/corpus/${name#fuzz_}")
    if ! "$f" -max_total_time=10 -rss_limit_mb=2048 -print_final_stats=0 "$scratch" "${seeds[@]}" \
        >"build-fuzz/$name.log" 2>&1; then
      cat "build-fuzz/$name.log"
      rm -rf "$scratch"
      exit 1
    fi
    rm -rf "$scratch"
    echo "fuzz smoke $name: ok"
  done
fi
echo "All tests passed."
