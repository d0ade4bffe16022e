#!/usr/bin/env bash
# Installs what is missing, builds the programs (window, simulator,
# zarvikctl, screenshot tool) and starts ZarvikConfig in its working folder
# ./run (created on first start; it keeps ZarvikConfig.ini and the profile
# folder "bd"). Arguments are passed to the program (for example:
# ./run.sh debug).
#
# Without a real register, the simulated register (zarvik-sim, default
# scenario) is started on a pseudo-terminal and mapped to the port the
# program uses (COMPort of [Port] in run/ZarvikConfig.ini, COM1 when none is
# set), so that "Подключение" reaches it; it is stopped when the program
# ends. With a real register set ZARVIK_REGISTER=real: the program starts
# alone and uses the port configured in the window.
#
# Without a display the window is not started (it would wait unseen): the
# script shows the simulated register through zarvikctl instead and points
# to scripts/screenshots.sh for pictures of the window.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-deps.sh
zarvik_ensure_deps

JOBS=${JOBS:-$(nproc)}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVIK_UI=ON >/dev/null
cmake --build build -j "$JOBS" --target ZarvikConfig zarvik-sim zarvikctl zarvik-screenshots

ROOT=$(pwd)
mkdir -p run
cd run

REGISTER=${ZARVIK_REGISTER:-sim}
case "$REGISTER" in
  sim|real) ;;
  *) echo "ZARVIK_REGISTER must be \"sim\" or \"real\", not \"$REGISTER\"" >&2; exit 2 ;;
esac

has_display() {
  [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] && return 0
  case "${QT_QPA_PLATFORM:-}" in
    ''|offscreen|minimal*) return 1 ;;
    *) return 0 ;;
  esac
}

# The port the program connects to: COMPort of [Port] in ZarvikConfig.ini.
configured_port() {
  local port=""
  if [ -f ZarvikConfig.ini ]; then
    port=$(awk -F= '
      /^\[/ { sect = $0; gsub(/[\r\[\] ]/, "", sect); next }
      sect == "Port" && $1 ~ /^[ \t]*COMPort[ \t]*$/ { v = $2; gsub(/[\r \t]/, "", v); print v; exit }
    ' ZarvikConfig.ini)
  fi
  case "$port" in
    ''|*[!0-9]*) echo 1 ;;
    *) if [ "$port" -ge 1 ] && [ "$port" -le 256 ]; then echo "$port"; else echo 1; fi ;;
  esac
}

SIM_PID=""
stop_simulator() {
  if [ -n "$SIM_PID" ]; then
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=""
  fi
}
start_simulator() {
  local port=$1
  "$ROOT/build/sim/zarvik-sim" --com "$port" > zarvik-sim.log 2>&1 &
  SIM_PID=$!
  trap stop_simulator EXIT
  trap 'stop_simulator; exit 130' INT TERM HUP
  for _ in $(seq 1 100); do
    grep -q "serving port" zarvik-sim.log 2>/dev/null && break
    if ! kill -0 "$SIM_PID" 2>/dev/null; then
      cat zarvik-sim.log >&2
      echo "The simulated register did not start." >&2
      exit 1
    fi
    sleep 0.1
  done
  sed -n '1,2p' zarvik-sim.log
}

if ! has_display; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are not set): the window is not started."
  if [ "$REGISTER" = real ]; then
    echo "With a display, ./run.sh starts the window for the real register."
    echo "Without one, $ROOT/build/ctl/zarvikctl talks to it from here, e.g.: zarvikctl info"
    exit 0
  fi
  PORT=$(configured_port)
  echo "The simulated register on COM$PORT, as zarvikctl sees it:"
  start_simulator "$PORT"
  CTL="$ROOT/build/ctl/zarvikctl"
  for command in "info" "options get" "departments get" "goods get 1" "goods get 2" "goods get 3"; do
    echo
    echo "\$ zarvikctl --port $PORT $command"
    # shellcheck disable=SC2086
    "$CTL" --port "$PORT" $command || echo "(zarvikctl failed)"
  done
  echo
  echo "Pictures of the window without a display: scripts/screenshots.sh (writes PNG files into screenshots/)."
  exit 0
fi

if [ "$REGISTER" = sim ]; then
  PORT=$(configured_port)
  echo "Starting the simulated register on COM$PORT (set ZARVIK_REGISTER=real for a real register)."
  start_simulator "$PORT"
  # The program runs as a child so that the simulator is stopped when it ends.
  status=0
  ../build/ui/ZarvikConfig "$@" || status=$?
  stop_simulator
  exit "$status"
fi
exec ../build/ui/ZarvikConfig "$@"
