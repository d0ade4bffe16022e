#!/usr/bin/env bash
# Pictures of the main window without a display: builds the window's
# screenshot tool and the register simulator, starts the simulator (default
# scenario) on a pseudo-terminal in a scratch working folder, and lets the
# tool open the real main window there under a virtual X server (Xvfb), or
# Qt's offscreen platform when Xvfb is missing or ZARVIK_SCREENSHOT_PLATFORM=offscreen.
# The tool connects, visits the pages and the tabs of the configuration page
# and writes one PNG per view into the output folder.
#
#   scripts/screenshots.sh [--out DIR] [--pages LIST] [--trigger ACTIONS] [--size WxH] [WORD...]
#   scripts/screenshots.sh --manual
#
# --out      the folder for the pictures (default: screenshots/ in the checkout)
# --size     the window's size, e.g. 1024x600 (a laptop screen); the virtual
#            screen is made that size too (default: 1180x760 on 1600x1000)
# --pages    some of: start,find,ports,connected,options,departments,receipt,
#            taxes,operators,text,goods,journal,configsys,monitor,wait,
#            differences,backup,journaltables,journalsummary,shop,shopday,
#            help,helpjournal,about (default: all)
# --trigger  actions run after connecting, e.g. aLoadAll,tovarLoadAll
# --manual   makes every picture of the user manual again, into
#            docs/manual/images/ (the pictures its chapters show, with the
#            register's settings, goods and journal read first)
# WORDs go to the program (okb shows the text tab, debug, ...).
# Environment: JOBS (build jobs), ZARVIK_SIM_BAUD (simulator line speed;
# default 115200, unpaced).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
source scripts/ensure-deps.sh
zarvik_ensure_deps

OUT="$ROOT/screenshots"
SIZE=""
ARGS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --out) OUT=$(realpath -m "$2"); shift 2 ;;
    --size) SIZE="$2"; ARGS+=("$1" "$2"); shift 2 ;;
    --pages|--trigger) ARGS+=("$1" "$2"); shift 2 ;;
    --manual)
      # The pictures the chapters of docs/manual show, by name.
      OUT="$ROOT/docs/manual/images"
      PICTURES=$(grep -oh 'images/[a-z]*\.png' docs/manual/*.md | sed 's|images/||; s|\.png||' | sort -u | paste -sd,)
      ARGS+=(--pages "$PICTURES" --trigger aLoadAll,tovarLoadAll,aLoadMagazin)
      shift ;;
    -h|--help) sed -n '2,26p' "$0"; exit 0 ;;
    *) ARGS+=("$1"); shift ;;
  esac
done

JOBS=${JOBS:-2}
BUILD="$ROOT/build"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVIK_UI=ON >/dev/null
# The manual too, for the pictures of the help window.
cmake --build "$BUILD" -j "$JOBS" --target zarvik-screenshots zarvik-sim zarvikctl zarvik_manual

PORT=200
SPEED=${ZARVIK_SIM_BAUD:-115200}
WORK=$(mktemp -d)
SIM_PID=""
cleanup() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

cd "$WORK"
printf '[Port]\r\nCOMPort=%s\r\nSpeed=%s\r\n' "$PORT" "$SPEED" > ZarvikConfig.ini
"$BUILD/sim/zarvik-sim" --com "$PORT" > sim.log 2>&1 &
SIM_PID=$!
for _ in $(seq 1 100); do
  grep -q "serving port" sim.log 2>/dev/null && break
  kill -0 "$SIM_PID" 2>/dev/null || { cat sim.log >&2; echo "the simulator did not start" >&2; exit 1; }
  sleep 0.1
done

TOOL=("$BUILD/ui/zarvik-screenshots" --out "$OUT" "${ARGS[@]}")
PLATFORM=${ZARVIK_SCREENSHOT_PLATFORM:-xvfb}
if [ "$PLATFORM" = xvfb ] && command -v xvfb-run >/dev/null 2>&1; then
  SCREEN=1600x1000
  [ -n "$SIZE" ] && SCREEN=$SIZE
  xvfb-run -a -s "-screen 0 ${SCREEN}x24" "${TOOL[@]}"
else
  QT_QPA_PLATFORM=offscreen "${TOOL[@]}"
fi
echo "Screenshots in $OUT"
