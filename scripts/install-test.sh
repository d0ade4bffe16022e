#!/usr/bin/env bash
# Installs the packages of DEBDIR (scripts/package.sh) into a throwaway root
# and runs the installed programs from there as an ordinary user with a
# scratch home and a scratch working folder:
#   1. XDG variables unset: zarvikctl --help; zarvik-sim --com 200 with
#      zarvikctl --port 200 info against it (they meet in
#      ~/.config/ZarvikConfig/ZarvikConfig.ini), and the bash completion of
#      zarvikctl --port offers port 200;
#   2. XDG variables set: the window under the offscreen platform opens with
#      the word "help", shows the installed user manual (it says where in its
#      log) and is closed by SIGTERM as by its close button (settings written);
#   3. a ZarvikConfig.ini of a portable run in the working folder is named,
#      not used and left alone; ZARVIK_PORTABLE=1 uses it.
# Then the user's files must be where the XDG rules put them, and nothing
# may have been written beside the programs or in the working folder.
#
#   scripts/install-test.sh [DEBDIR]     (default dist/)
set -euo pipefail
DEBDIR=$(cd "${1:-dist}" && pwd)

# Generous limits for a loaded machine; reached only when something hangs.
START_LIMIT_S=60
STOP_LIMIT_S=60

scratch=$(mktemp -d /tmp/zarvik-install-XXXXXX)
chmod 755 "$scratch"
PIDS=()
cleanup() {
  local p
  for p in "${PIDS[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "install test: $*" >&2
  exit 1
}

root=$scratch/root
mkdir -p "$root"
for name in zarvikconfig zarvikctl zarvik-sim; do
  deb=$(ls "$DEBDIR/${name}"_*.deb 2>/dev/null | head -n1)
  [ -n "$deb" ] || fail "no package $name in $DEBDIR"
  dpkg -x "$deb" "$root"
done
BIN=$root/usr/bin
for p in zarvikconfig zarvikctl zarvik-sim; do
  [ -x "$BIN/$p" ] || fail "$p is not installed as an executable"
done
# The user manual: every chapter of docs/manual, every picture its pages
# show, and the man page of zarvikctl pointing to it.
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
manual=$root/usr/share/doc/zarvikconfig/manual
for md in "$SOURCE"/docs/manual/*.md; do
  page=$(basename "$md" .md)
  [ -f "$manual/$page.html" ] || fail "the manual's $page.html is not installed"
done
for src in $(grep -oh '<img src="[^"]*"' "$manual"/*.html | sed 's/^<img src="//; s/"$//' | sort -u); do
  [ -f "$manual/$src" ] || fail "the manual's picture $src is not installed"
done
zcat "$root/usr/share/man/man1/zarvikctl.1.gz" | grep -q 'zarvikconfig/manual' ||
  fail "the man page of zarvikctl does not point to the manual"
listing() { (cd "$root" && find . -printf '%p %m %s %T@\n' | sort); }
listing >"$scratch/root-before"

home1=$scratch/home1 home2=$scratch/home2 xdg=$scratch/xdg work=$scratch/work
mkdir -p "$home1" "$home2" "$xdg" "$work"
AS=()
if [ "$(id -u)" -eq 0 ]; then
  # An ordinary user: nobody, owning only the scratch home, XDG and working
  # folders (the root stays root's, as an installed system is).
  chown nobody:nogroup "$home1" "$home2" "$xdg" "$work"
  AS=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi
# A clean environment: no XDG variables unless given.
BASE_ENV=(env -i PATH=/usr/bin:/bin LANG=C.UTF-8)

wait_for() {  # wait_for LIMIT_S COMMAND...: true once COMMAND succeeds
  local limit=$1 deadline
  shift
  deadline=$(($(date +%s) + limit))
  until "$@"; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}
stop() {  # stop PID: SIGTERM, then wait (bounded) for its exit status
  local pid=$1 status=0
  kill -TERM "$pid"
  wait_for "$STOP_LIMIT_S" bash -c "! kill -0 $pid 2>/dev/null" || fail "process $pid did not stop"
  wait "$pid" || status=$?
  return "$status"
}

cd "$work"

# 1. XDG variables unset.
out=$("${AS[@]}" "${BASE_ENV[@]}" HOME="$home1" "$BIN/zarvikctl" --help) || fail "zarvikctl --help failed"
grep -q '^Usage: zarvikctl' <<<"$out" || fail "zarvikctl --help printed no usage"

"${AS[@]}" "${BASE_ENV[@]}" HOME="$home1" "$BIN/zarvik-sim" --com 200 >"$scratch/sim.out" 2>&1 &
sim=$!
PIDS+=("$sim")
wait_for "$START_LIMIT_S" grep -q 'serving port 200' "$scratch/sim.out" || {
  cat "$scratch/sim.out" >&2
  fail "zarvik-sim did not start"
}
grep -q 'Зарвик-02Ф' "$scratch/sim.out" || fail "zarvik-sim did not serve the shipped shop scenario"
ini1=$home1/.config/ZarvikConfig/ZarvikConfig.ini
grep -q '^COM200=' "$ini1" || fail "zarvik-sim did not map port 200 in $ini1"
info=$("${AS[@]}" "${BASE_ENV[@]}" HOME="$home1" "$BIN/zarvikctl" --port 200 info 2>"$scratch/ctl.err") || {
  cat "$scratch/ctl.err" >&2
  fail "zarvikctl --port 200 info failed"
}
grep -q '002100457731' <<<"$info" || fail "zarvikctl info did not show the simulated register: $info"
# The installed bash completion offers the simulator's port after --port.
ports=$("${AS[@]}" "${BASE_ENV[@]}" HOME="$home1" bash -c \
  'source "$1"; COMP_WORDS=("$2" --port ""); COMP_CWORD=2; _zarvikctl; echo "${COMPREPLY[*]}"' _ \
  "$root/usr/share/bash-completion/completions/zarvikctl" "$BIN/zarvikctl") || fail "bash completion failed"
grep -qw 200 <<<"$ports" || fail "bash completion did not offer port 200: $ports"
stop "$sim" || fail "zarvik-sim did not stop cleanly"
grep -q '^COM200=' "$ini1" && fail "zarvik-sim left its port mapping behind"

# 2. XDG variables set: the window opens and closes.
XDG=(XDG_CONFIG_HOME="$xdg/config" XDG_DATA_HOME="$xdg/data" XDG_STATE_HOME="$xdg/state")
log=$xdg/state/ZarvikConfig/zarvikconfig.log
"${AS[@]}" "${BASE_ENV[@]}" HOME="$home2" "${XDG[@]}" QT_QPA_PLATFORM=offscreen \
  "$BIN/zarvikconfig" autonom help >"$scratch/window.out" 2>&1 &
window=$!
PIDS+=("$window")
# The window has opened once it made its profile folder (opening step 13,
# after the start line went to the log).
wait_for "$START_LIMIT_S" test -d "$xdg/data/ZarvikConfig/bd" || {
  cat "$scratch/window.out" >&2
  fail "the window did not open"
}
# "help": the manual opened from where the package installed it.
wait_for "$START_LIMIT_S" grep -aq "$manual/config.html" "$log" || {
  cat "$scratch/window.out" "$log" >&2
  fail "the installed window did not open the installed manual"
}
stop "$window" || {
  cat "$scratch/window.out" >&2
  fail "the window did not close cleanly"
}
[ -s "$log" ] || fail "no log in $log"
grep -q '^\[Port\]' "$xdg/config/ZarvikConfig/ZarvikConfig.ini" || fail "the window did not write its settings"

# 3. A portable run's file in the working folder: named, not used, kept.
printf '[Port]\r\nCOMPort=7\r\n' >"$work/ZarvikConfig.ini"
cp "$work/ZarvikConfig.ini" "$scratch/portable.ini"
"${AS[@]}" "${BASE_ENV[@]}" HOME="$home1" "$BIN/zarvikctl" ports >/dev/null 2>"$scratch/ports.err" ||
  fail "zarvikctl ports failed"
grep -q 'в рабочей папке есть ZarvikConfig.ini' "$scratch/ports.err" ||
  fail "zarvikctl did not name the working folder's ZarvikConfig.ini"
cmp -s "$work/ZarvikConfig.ini" "$scratch/portable.ini" || fail "the working folder's ZarvikConfig.ini changed"
rm "$work/ZarvikConfig.ini"
# Portable, in a folder of its own (its log lies there too).
portable=$scratch/portable
mkdir -p "$portable"
cp "$scratch/portable.ini" "$portable/ZarvikConfig.ini"
[ -z "${AS[*]}" ] || chown -R nobody:nogroup "$portable"
(cd "$portable" && "${AS[@]}" "${BASE_ENV[@]}" HOME="$home1" ZARVIK_PORTABLE=1 "$BIN/zarvikctl" --csv ports \
  >/dev/null 2>"$scratch/ports-portable.err") || fail "zarvikctl ports (portable) failed"
grep -q 'в рабочей папке' "$scratch/ports-portable.err" && fail "the portable run warned of its own files"
cmp -s "$portable/ZarvikConfig.ini" "$scratch/portable.ini" || fail "the portable ZarvikConfig.ini changed"

# Where the files went.
listing >"$scratch/root-after"
diff "$scratch/root-before" "$scratch/root-after" >&2 || fail "files were written beside the programs"
leftover=$(find "$work" -mindepth 1)
[ -z "$leftover" ] || fail "files were written in the working folder: $leftover"
# Only the XDG places of ZarvikConfig (and the platform's caches and Qt's
# own settings).
unexpected=$(cd "$home1" && find . -type f ! -path './.config/ZarvikConfig/*' \
  ! -path './.local/share/ZarvikConfig/*' ! -path './.local/state/ZarvikConfig/*' ! -path './.cache/*' \
  ! -path './.config/QtProject.conf')
[ -z "$unexpected" ] || fail "unexpected files in the home: $unexpected"
unexpected=$(cd "$home2" && find . -type f ! -path './.cache/*')
[ -z "$unexpected" ] || fail "the window wrote into the home although XDG variables were set: $unexpected"
# (QtProject.conf is Qt's own file of its dialogs' settings.)
unexpected=$(cd "$xdg" && find . -type f ! -path './config/ZarvikConfig/*' ! -path './data/ZarvikConfig/*' \
  ! -path './state/ZarvikConfig/*' ! -path './config/QtProject.conf')
[ -z "$unexpected" ] || fail "unexpected files in the XDG folders: $unexpected"
echo "install test: ok"
(cd "$scratch" && find home1 home2 xdg -type f | sort | sed 's/^/  /')
