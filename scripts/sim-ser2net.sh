#!/usr/bin/env bash
# The register simulator behind ser2net on loopback: starts zarvik-sim on a
# pseudo-terminal, writes a ser2net configuration that serves that terminal
# on two local TCP ports (telnet with the com-port control, and raw TCP),
# starts ser2net in the foreground of this script and prints the device
# texts to put in the section "Devices" of ZarvikConfig.ini. Ctrl+C (or
# SIGTERM) ends both.
#
#   scripts/sim-ser2net.sh [--rfc2217-port N] [--tcp-port N] [--sim PATH] [--ini FILE --com N]
#                          [--tls] [--password] [--user NAME] [-- SIMULATOR-ARGS...]
#
# --rfc2217-port  the port of rfc2217:// (default 3001)
# --tcp-port      the port of tcp:// (default 3002); the server keeps that
#                 line at 9600 baud, 8N1
# --sim           the simulator program (default build/sim/zarvik-sim)
# --ini, --com    also write COM<N>=rfc2217://127.0.0.1:PORT and
#                 COM<N+1>=tcp://127.0.0.1:PORT into the section "Devices" of
#                 that ZarvikConfig.ini (removed again on exit)
# --tls           serve both ports through TLS with client authentication
#                 (certauth): makes a scratch CA, a server certificate for
#                 localhost and 127.0.0.1 and a client certificate with
#                 openssl; the devices are rfc2217+tls:// and tcp+tls://
#                 with COM<N>.CA, .Cert and .Key
# --password      (implies --tls) the client logs in with a password instead
#                 of a certificate: COM<N>.User; the password is taken from
#                 ZARVIK_NET_PASSWORD or made up and shown once
# --user          the user ser2net lets in (default engineer)
# Everything after -- goes to zarvik-sim (--scenario, --baud, --pace,
# --match-speed, --fault ...).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)

RFC_PORT=3001
TCP_PORT=3002
SIM="$ROOT/build/sim/zarvik-sim"
INI=""
COM=""
TLS=0
PASSWORD=0
USER_NAME=engineer
SIM_ARGS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --rfc2217-port) RFC_PORT="$2"; shift 2 ;;
    --tcp-port) TCP_PORT="$2"; shift 2 ;;
    --sim) SIM="$2"; shift 2 ;;
    --ini) INI=$(realpath -m "$2"); shift 2 ;;
    --com) COM="$2"; shift 2 ;;
    --tls) TLS=1; shift ;;
    --password) TLS=1; PASSWORD=1; shift ;;
    --user) USER_NAME="$2"; shift 2 ;;
    --) shift; SIM_ARGS=("$@"); break ;;
    -h|--help) sed -n '2,33p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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
keys = tuple(f"COM{n}{k}" for n in (com, com + 1) for k in ("=", ".CA=", ".Cert=", ".Key=", ".User="))
data = open(path, "rb").read().decode("cp1251")
lines = [l for l in data.split("\r\n") if not l.startswith(keys)]
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

RFC_SCHEME=rfc2217
TCP_SCHEME=tcp
SECURE=""
OPTIONS=""
KEYS=()
if [ "$TLS" = 1 ]; then
  command -v openssl >/dev/null || { echo "sim-ser2net: openssl is not installed (apt-get install openssl)" >&2; exit 1; }
  K="$WORK/keys"
  mkdir -p "$K" "$WORK/auth/$USER_NAME/allowed_certs"
  EC=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  (
    umask 077
    openssl req -x509 "${EC[@]}" -keyout "$K/ca.key" -out "$K/ca.crt" -days 30 -subj "/CN=sim-ser2net CA"
    openssl req "${EC[@]}" -keyout "$K/server.key" -out "$K/server.csr" -subj "/CN=localhost" \
      -addext "subjectAltName=DNS:localhost,IP:127.0.0.1"
    openssl x509 -req -in "$K/server.csr" -CA "$K/ca.crt" -CAkey "$K/ca.key" -CAcreateserial \
      -out "$K/server.crt" -days 30 -copy_extensions copy
    openssl req "${EC[@]}" -keyout "$K/client.key" -out "$K/client.csr" -subj "/CN=$USER_NAME"
    openssl x509 -req -in "$K/client.csr" -CA "$K/ca.crt" -CAkey "$K/ca.key" -CAcreateserial \
      -out "$K/client.crt" -days 30
  ) >"$WORK/openssl.log" 2>&1 || { cat "$WORK/openssl.log" >&2; exit 1; }
  # certauth checks the client's certificate against the user's folder:
  # the CA that signed it must be there (hashed) as well.
  cp "$K/ca.crt" "$WORK/auth/$USER_NAME/allowed_certs/"
  openssl rehash "$WORK/auth/$USER_NAME/allowed_certs"
  if [ "$PASSWORD" = 1 ]; then
    PASS="${ZARVIK_NET_PASSWORD:-}"
    if [ -z "$PASS" ]; then
      PASS=$(openssl rand -base64 12)
      echo "sim-ser2net: the password of $USER_NAME is $PASS (give it in the window's dialog or as ZARVIK_NET_PASSWORD)"
    fi
    (umask 077; printf '%s\n' "$PASS" >"$WORK/auth/$USER_NAME/password")
    PASS=""
  fi
  SECURE="certauth(enable-password),ssl(key=$K/server.key,cert=$K/server.crt),"
  OPTIONS="  options:
    authdir: $WORK/auth
    allowed-users: $USER_NAME"
  RFC_SCHEME=rfc2217+tls
  TCP_SCHEME=tcp+tls
  if [ "$PASSWORD" = 1 ]; then
    KEYS=("CA=$K/ca.crt" "User=$USER_NAME")
  else
    KEYS=("CA=$K/ca.crt" "Cert=$K/client.crt" "Key=$K/client.key")
  fi
fi

cat >"$WORK/ser2net.yaml" <<EOF
connection: &rfc2217
  accepter: telnet(rfc2217),${SECURE}tcp(nodelay),127.0.0.1,$RFC_PORT
  connector: serialdev,$PTY,9600n81,local
$OPTIONS
connection: &raw
  accepter: ${SECURE}tcp(nodelay),127.0.0.1,$TCP_PORT
  connector: serialdev,$PTY,9600n81,local
$OPTIONS
EOF
ser2net -n -d -c "$WORK/ser2net.yaml" -P "$WORK/ser2net.pid" >"$WORK/ser2net.log" 2>&1 &
SER_PID=$!
sleep 0.3
kill -0 "$SER_PID" 2>/dev/null || { cat "$WORK/ser2net.log" >&2; exit 1; }

RFC_DEVICE="$RFC_SCHEME://127.0.0.1:$RFC_PORT"
TCP_DEVICE="$TCP_SCHEME://127.0.0.1:$TCP_PORT"
echo "sim-ser2net: ser2net serves $PTY as $RFC_DEVICE and $TCP_DEVICE"
if [ -n "$INI" ]; then
  python3 - "$INI" "$COM" "$RFC_DEVICE" "$TCP_DEVICE" "${KEYS[@]}" <<'EOF'
import os, sys
path, com, rfc, raw = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
keys = sys.argv[5:]
data = open(path, "rb").read().decode("cp1251") if os.path.exists(path) else ""
ours = tuple(f"COM{n}{k}" for n in (com, com + 1) for k in ("=", ".CA=", ".Cert=", ".Key=", ".User="))
lines = [l for l in data.split("\r\n") if l and not l.startswith(ours)]
if "[Devices]" not in lines:
    lines.append("[Devices]")
i = lines.index("[Devices]") + 1
lines[i:i] = [f"COM{com}={rfc}"] + [f"COM{com}.{k}" for k in keys] + \
             [f"COM{com + 1}={raw}"] + [f"COM{com + 1}.{k}" for k in keys]
open(path + ".tmp", "wb").write(("\r\n".join(lines) + "\r\n").encode("cp1251"))
os.replace(path + ".tmp", path)
EOF
  echo "sim-ser2net: COM$COM and COM$((COM + 1)) written to $INI"
else
  echo "sim-ser2net: in ZarvikConfig.ini, section [Devices]:"
  echo "COM7=$RFC_DEVICE"
  for k in "${KEYS[@]}"; do echo "COM7.$k"; done
  echo "COM8=$TCP_DEVICE"
  for k in "${KEYS[@]}"; do echo "COM8.$k"; done
fi
echo "sim-ser2net: Ctrl+C ends the simulator and ser2net"
wait "$SER_PID"
