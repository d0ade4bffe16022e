#!/usr/bin/env bash
# The register simulator behind ser2net on loopback: starts zarvik-sim on a
# pseudo-terminal, writes a ser2net configuration that serves that terminal
# on two local TCP ports (telnet with the com-port control, and raw TCP),
# starts ser2net in the foreground of this script and prints the device
# texts to put in the section "Devices" of ZarvikConfig.ini. Ctrl+C (or
# SIGTERM) ends both.
#
#   scripts/sim-ser2net.sh [--rfc2217-port N] [--tcp-port N] [--sim PATH] [--ini FILE --com N]
#                          [-- SIMULATOR-ARGS...]
#
# --rfc2217-port  the port of rfc2217:// (default 3001)
# --tcp-port      the port of tcp:// (default 3002); the server keeps that
#                 line at 9600 baud, 8N1
# --sim           the simulator program (default build/sim/zarvik-sim)
# --ini, --com    also write COM<N>=rfc2217://127.0.0.1:PORT and
#                 COM<N+1>=tcp://127.0.0.1:PORT into the section "Devices" of
#                 that ZarvikConfig.ini (removed again on exit)
# Everything after -- goes to zarvik-sim (--scenario, --baud, --pace,
# --match-speed, --fault ...).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)

RFC_PORT=3001
TCP_PORT=3002
SIM="$ROOT/build/sim/zarvik-sim"
INI=""
COM=""
SIM_ARGS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --rfc2217-port) RFC_PORT="$2"; shift 2 ;;
    --tcp-port) TCP_PORT="$2"; shift 2 ;;
    --sim) SIM="$2"; shift 2 ;;
    --ini) INI=$(realpath -m "$2"); shift 2 ;;
    --com) COM="$2"; shift 2 ;;
    --) shift; SIM_ARGS=("$@"); break ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "sim-ser2net: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
if [ -n "$INI" ] && [ -z "$COM" ]; then
  echo "sim-ser2net: --ini needs --com N" >&2
  exit 2
fi
command -v ser2net >/dev/null || { echo "sim-ser2net: ser2net is not installed (apt-get install ser2net)" >&2; exit 1; }
[ -x "$SIM" ] || { echo "sim-ser2net: no simulator at $SIM (build it: cmake --build build --target zarvik-sim)" >&2; exit 1; }

WORK=$(mktemp -d /tmp/zarvik-ser2net.XXXXXX)
SIM_PID=""
SER_PID=""
cleanup() {
  [ -n "$SER_PID" ] && kill "$SER_PID" 2>/dev/null && wait "$SER_PID" 2>/dev/null || true
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null || true
  if [ -n "$INI" ] && [ -f "$INI" ]; then
    python3 - "$INI" "$COM" <<'EOF' || true
import sys
path, com = sys.argv[1], int(sys.argv[2])
keys = {f"COM{com}=", f"COM{com + 1}="}
data = open(path, "rb").read().decode("cp1251")
lines = [l for l in data.split("\r\n") if not any(l.startswith(k) for k in keys)]
open(path + ".tmp", "wb").write("\r\n".join(lines).encode("cp1251"))
import os; os.replace(path + ".tmp", path)
EOF
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

# Line-buffered, so that its first line (the terminal it serves) is seen at once.
stdbuf -oL -eL "$SIM" "${SIM_ARGS[@]}" >"$WORK/sim.log" 2>&1 &
SIM_PID=$!
PTY=""
for _ in $(seq 1 200); do
  PTY=$(grep -o 'serving.*' "$WORK/sim.log" | grep -o '/dev/[^ ]*' | head -n1)
  [ -n "$PTY" ] && break
  kill -0 "$SIM_PID" 2>/dev/null || { cat "$WORK/sim.log" >&2; exit 1; }
  sleep 0.05
done
[ -n "$PTY" ] || { echo "sim-ser2net: the simulator did not say which terminal it serves" >&2; exit 1; }
cat "$WORK/sim.log"

cat >"$WORK/ser2net.yaml" <<EOF
connection: &rfc2217
  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,$RFC_PORT
  connector: serialdev,$PTY,9600n81,local
connection: &raw
  accepter: tcp(nodelay),127.0.0.1,$TCP_PORT
  connector: serialdev,$PTY,9600n81,local
EOF
ser2net -n -d -c "$WORK/ser2net.yaml" -P "$WORK/ser2net.pid" >"$WORK/ser2net.log" 2>&1 &
SER_PID=$!
sleep 0.3
kill -0 "$SER_PID" 2>/dev/null || { cat "$WORK/ser2net.log" >&2; exit 1; }

echo "sim-ser2net: ser2net serves $PTY as rfc2217://127.0.0.1:$RFC_PORT and tcp://127.0.0.1:$TCP_PORT"
if [ -n "$INI" ]; then
  python3 - "$INI" "$COM" "rfc2217://127.0.0.1:$RFC_PORT" "tcp://127.0.0.1:$TCP_PORT" <<'EOF'
import os, sys
path, com, rfc, raw = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
data = open(path, "rb").read().decode("cp1251") if os.path.exists(path) else ""
lines = [l for l in data.split("\r\n") if l and not l.startswith((f"COM{com}=", f"COM{com + 1}="))]
if "[Devices]" not in lines:
    lines.append("[Devices]")
i = lines.index("[Devices]") + 1
lines[i:i] = [f"COM{com}={rfc}", f"COM{com + 1}={raw}"]
open(path + ".tmp", "wb").write(("\r\n".join(lines) + "\r\n").encode("cp1251"))
os.replace(path + ".tmp", path)
EOF
  echo "sim-ser2net: COM$COM and COM$((COM + 1)) written to $INI"
else
  echo "sim-ser2net: in ZarvikConfig.ini, section [Devices]: COM7=rfc2217://127.0.0.1:$RFC_PORT or COM7=tcp://127.0.0.1:$TCP_PORT"
fi
echo "sim-ser2net: Ctrl+C ends the simulator and ser2net"
wait "$SER_PID"
