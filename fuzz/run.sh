#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a given time,
# starting from the committed corpus and seeds made from the test fixtures.
#
#   fuzz/run.sh [-t SECONDS] [-m] [-b BUILD_DIR] [TARGET...]
#
#   -t SECONDS  time per target (default 60)
#   -m          afterwards merge what the run found into fuzz/corpus/<name>
#               (minimised with -merge=1), so the next run starts there
#   -b DIR      build folder (default build-fuzz)
#   TARGET      target names without "fuzz_" (default: every target)
#
# Runs one target at a time under "nice -n 19". A crash, leak, undefined
# behaviour or time-out stops the run; its input is kept under
# DIR/artifacts/<name>/. One summary line per target goes to standard output
# and to DIR/runs.txt: target, seconds, executions, coverage, features,
# corpus files, result.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=60
merge=0
build=build-fuzz
while getopts "t:mb:" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    m) merge=1 ;;
    b) build=$OPTARG ;;
    *) sed -n '2,18p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
case $build in /*) ;; *) build="$root/$build" ;; esac

JOBS=${JOBS:-2}
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZARVIK_UI=OFF -DZARVIK_TESTS=OFF -DZARVIK_BENCH=OFF -DZARVIK_FUZZ=ON >/dev/null
nice -n 19 cmake --build "$build" -j "$JOBS" >/dev/null

if [ $# -eq 0 ]; then
  set --
  for f in fuzz/fuzz_*.cpp; do
    n=$(basename "$f" .cpp)
    set -- "$@" "${n#fuzz_}"
  done
fi

# Seeds from the test fixtures and the shipped data, by target.
seed_files() {
  case $1 in
    dbf | goods_dbf | profile) printf '%s\n' tests/data/store/*.dbf ;;
    descriptor | ini) printf '%s\n' data/ECR_CFG/*.ini tests/data/model/*.ini ;;
    language) compgen -G 'data/lang/*.lng' || true ;;
    scenario) printf '%s\n' sim/scenarios/*.ini ;;
    journal_render) printf '%s\n' tests/data/journal/*.txt ;;
    *) ;;
  esac
}

summary() {
  printf '%-16s %6s s %12s execs  cov %6s  ft %7s  corpus %5s  %s\n' "$@"
}

status=0
for name in "$@"; do
  exe="$build/fuzz/fuzz_$name"
  if [ ! -x "$exe" ]; then
    echo "no target $name" >&2
    status=1
    continue
  fi
  corpus="$root/fuzz/corpus/$name"
  artifacts="$build/artifacts/$name"
  mkdir -p "$corpus" "$artifacts"
  work=$(mktemp -d)
  mkdir "$work/new" "$work/seeds"
  while IFS= read -r s; do
    [ -n "$s" ] && cp "$s" "$work/seeds/"
  done < <(seed_files "$name")
  # Targets that build their own seeds (register answers, profile files).
  ZARVIK_FUZZ_SEEDS="$work/seeds" "$exe" -runs=0 "$work/seeds" >/dev/null 2>&1 || true
  log="$build/fuzz_$name.log"
  result=ok
  if ! nice -n 19 "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" \
      "$work/new" "$corpus" "$work/seeds" >"$log" 2>&1; then
    result="FAILED (see $log)"
    status=1
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  if [ "$merge" = 1 ] && [ "$result" = ok ]; then
    merged=$(mktemp -d)
    nice -n 19 "$exe" -merge=1 -timeout=10 -rss_limit_mb=2048 "$merged" "$corpus" "$work/new" "$work/seeds" \
      >"$build/fuzz_$name.merge.log" 2>&1
    rm -rf "${corpus:?}"/*
    cp "$merged"/* "$corpus"/ 2>/dev/null || true
    rm -rf "$merged"
  fi
  files=$(find "$corpus" -type f | wc -l)
  line=$(summary "$name" "$seconds" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$files" "$result")
  echo "$line"
  echo "$(date -u +%Y-%m-%dT%H:%MZ) $line" >>"$build/runs.txt"
  rm -rf "$work"
done
exit $status
