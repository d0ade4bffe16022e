#!/usr/bin/env bash
# Clean builds of the three trees of ./test.sh, timed, without a compiler
# cache: the normal tree, the sanitizer tree and the fuzz targets (clang).
#   scripts/build-times.sh [OUTDIR] [TREE...]   (trees: normal asan fuzz; default all)
# Each tree is configured as ./test.sh configures it, in OUTDIR/build-TREE
# (default OUTDIR: /tmp/zarvik-build-times), and built with JOBS jobs
# (default: cores). Prints wall, user and system seconds per tree and the
# load average before and after (on a busy machine the CPU seconds compare
# better than the wall time). The trees are removed afterwards unless KEEP=1.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-/tmp/zarvik-build-times}
shift || true
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(normal asan fuzz)
JOBS=${JOBS:-$(nproc)}
mkdir -p "$out"
unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER
export CCACHE_DISABLE=1

configure() {
  local tree=$1 dir=$2
  case $tree in
    normal) cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVIK_UI=ON -DZARVIK_TESTS=ON ;;
    asan)
      cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Sanitize -DCMAKE_CXX_FLAGS_SANITIZE="-O0 -g1" \
        -DZARVIK_SANITIZE=ON -DZARVIK_UI=ON -DZARVIK_TESTS=ON -DZARVIK_BENCH=OFF -DZARVIK_FUZZ=OFF
      ;;
    fuzz)
      CXX=clang++ cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZARVIK_UI=OFF -DZARVIK_TESTS=OFF -DZARVIK_BENCH=OFF -DZARVIK_FUZZ=ON
      ;;
    *)
      echo "unknown tree $tree (normal, asan, fuzz)" >&2
      return 2
      ;;
  esac
}

printf '| tree | wall, s | user, s | system, s | warnings | load before | load after |\n|---|---:|---:|---:|---:|---|---|\n'
for tree in "${trees[@]}"; do
  dir=$out/build-$tree
  rm -rf "$dir"
  configure "$tree" "$dir" >"$out/$tree.configure.log" 2>&1
  target=()
  [ "$tree" = fuzz ] && target=(--target fuzz_all)
  before=$(cut -d' ' -f1-3 /proc/loadavg)
  if ! /usr/bin/time -f '%e %U %S' -o "$out/$tree.time" cmake --build "$dir" -j "$JOBS" "${target[@]}" \
      >"$out/$tree.log" 2>&1; then
    echo "the $tree tree does not build: $out/$tree.log" >&2
    exit 1
  fi
  after=$(cut -d' ' -f1-3 /proc/loadavg)
  read -r wall user sys <"$out/$tree.time"
  warnings=$(grep -c 'warning:' "$out/$tree.log" || true)
  printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$tree" "$wall" "$user" "$sys" "$warnings" "$before" "$after"
  [ "${KEEP:-0}" = 1 ] || rm -rf "$dir"
done
