#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once in
# the normal build, once more under AddressSanitizer and UndefinedBehavior-
# Sanitizer, and the fuzz targets briefly.
# Options through the environment: JOBS (parallel build jobs, default:
# cores), TEST_JOBS (tests run side by side, default: three per core),
# ZARVIK_SANITIZE_RUN=0 to skip the sanitizer build and run,
# ZARVIK_FUZZ_SMOKE=0 to skip building and briefly running the fuzz targets,
# ZARVIK_PACKAGE_TEST=0 to skip the Debian packages and their install test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-deps.sh
zarvik_ensure_deps

JOBS=${JOBS:-$(nproc)}
# The tests spend most of their time waiting on lines and time-outs (a normal
# run uses the processor for about a sixth of its length), so three run
# side by side on each core; each must pass on a busy machine anyway.
TEST_JOBS=${TEST_JOBS:-$((3 * $(nproc)))}
export QT_QPA_PLATFORM=offscreen

# Builds a tree (or the given targets of it); any compiler warning fails the
# run (warnings are kept at zero).
build_without_warnings() {
  local dir=$1 log
  shift
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  log=$(mktemp)
  if ! cmake --build "$dir" -j "$JOBS" "${targets[@]}" 2>&1 | tee "$log"; then
    rm -f "$log"
    return 1
  fi
  if grep -q "warning:" "$log"; then
    echo "Warnings in the build of $dir:" >&2
    grep -A3 "warning:" "$log" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVIK_UI=ON -DZARVIK_TESTS=ON
build_without_warnings build
ctest --test-dir build --output-on-failure -j "$TEST_JOBS" --timeout 600

# The Debian packages of this build (no second build: only packing and
# lintian), installed into a scratch root and run from there as an ordinary
# user. ZARVIK_PACKAGE_TEST=0 skips it.
if [ "${ZARVIK_PACKAGE_TEST:-1}" = 1 ]; then
  package_start=$(date +%s)
  scripts/package.sh build/dist
  scripts/install-test.sh build/dist
  echo "packages: ok ($(($(date +%s) - package_start)) s)"
fi

# The same tests (core, simulator, zarvikctl, window) under the sanitizers, in a
# tree of their own without benchmarks and fuzz targets. Undefined behaviour
# stops the program (-fno-sanitize-recover); address errors and leaks end it
# with exit code 86, undefined behaviour with 87, so a test cannot pass over
# one, and every report also lands in build-asan/reports, which must stay
# empty (it catches reports of child processes whose exit code no test sees).
# Tests labelled no_sanitize (pure load or timing tests, see DEVELOPERS.md)
# run only in the normal build.
if [ "${ZARVIK_SANITIZE_RUN:-1}" = 1 ]; then
  # Unoptimised with line tables only: quickest to build, readable traces.
  # (-O1 costs 1.3 to 2.3 times the compile time and saves little: the tests
  # mostly wait for lines and time-outs, not for the processor.)
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Sanitize -DCMAKE_CXX_FLAGS_SANITIZE="-O0 -g1" \
    -DZARVIK_SANITIZE=ON -DZARVIK_UI=ON -DZARVIK_TESTS=ON -DZARVIK_BENCH=OFF -DZARVIK_FUZZ=OFF >/dev/null
  build_without_warnings build-asan
  reports=$(pwd)/build-asan/reports
  rm -rf "$reports"
  mkdir -p "$reports"
  export ASAN_OPTIONS="exitcode=86:detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1:log_path=$reports/asan"
  export UBSAN_OPTIONS="exitcode=87:halt_on_error=1:print_stacktrace=1"
  sanitized_ok=1
  ctest --test-dir build-asan --output-on-failure -j "$TEST_JOBS" --timeout 900 -LE no_sanitize || sanitized_ok=0
  if [ -n "$(ls -A "$reports")" ]; then
    echo "Sanitizer reports:" >&2
    cat "$reports"/* >&2
    sanitized_ok=0
  fi
  unset ASAN_OPTIONS UBSAN_OPTIONS
  [ "$sanitized_ok" = 1 ] || exit 1
  echo "sanitizer run: ok"
fi

# The fuzz targets are built with clang and each run briefly, so that a
# target that no longer builds or crashes at once is caught here.
if [ "${ZARVIK_FUZZ_SMOKE:-1}" = 1 ] && command -v clang++ >/dev/null 2>&1; then
  CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZARVIK_UI=OFF -DZARVIK_TESTS=OFF -DZARVIK_BENCH=OFF -DZARVIK_FUZZ=ON >/dev/null
  # Only the targets: the programs are built and tested above.
  build_without_warnings build-fuzz fuzz_all
  smoke() {
    local f=$1 name scratch
    name=$(basename "$f")
    # New inputs go to a scratch folder; the committed corpus is only read.
    scratch=$(mktemp -d)
    local seeds=()
    [ -d "fuzz/corpus/${name#fuzz_}" ] && seeds=("fuzz/corpus/${name#fuzz_}")
    if ! "$f" -max_total_time=5 -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 "$scratch" "${seeds[@]}" \
        >"build-fuzz/$name.log" 2>&1; then
      cat "build-fuzz/$name.log"
      rm -rf "$scratch"
      echo "fuzz smoke $name: FAILED"
      return 1
    fi
    rm -rf "$scratch"
    echo "fuzz smoke $name: ok"
  }
  export -f smoke
  shopt -s nullglob
  targets=()
  for f in build-fuzz/fuzz/fuzz_*; do
    [ -x "$f" ] && targets+=("$f")
  done
  # JOBS targets at a time; a failing target fails the run.
  printf '%s\n' "${targets[@]}" | xargs -P "$JOBS" -I{} bash -c 'smoke "$1"' _ {}
fi
echo "All tests passed."
