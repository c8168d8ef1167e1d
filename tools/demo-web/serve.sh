#!/usr/bin/env bash
# serve.sh DISPLAY WORK_DIR
# Serves every screen of the X display DISPLAY to a browser: one x11vnc per
# screen, on loopback ports it picks itself, and websockify with noVNC's
# client on one web address, whose page shows the screens side by side and
# passes clicks and keys back. Files go to WORK_DIR (web/, logs). Runs until
# it is ended (SIGTERM or SIGINT), then ends what it started.
#
# QUORVOD_DEMO_WEB=ADDR:PORT sets the web address; by default 127.0.0.1:6080,
# or the next free port up to 6099 when that one is taken. The page asks for
# no password: keep it on loopback or on a network you trust.
set -euo pipefail
xdisplay=$1
work=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
novnc=${QUORVOD_NOVNC_DIR:-/usr/share/novnc}

log() { printf '\033[1m[demo]\033[0m %s\n' "$*"; }
fail() {
  log "no browser view: $*" >&2
  exit 1
}

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 0' TERM INT HUP

port_in_use() { (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; }

for tool in x11vnc websockify xdpyinfo; do
  command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (./ktv deps installs it)"
done
[ -f "$novnc/core/rfb.js" ] || fail "noVNC is missing in $novnc (./ktv deps installs it)"

info=$(DISPLAY=$xdisplay xdpyinfo) || fail "cannot reach the display $xdisplay"
screens=$(awk '/^number of screens:/ {print $4}' <<<"$info")
[[ $screens =~ ^[1-9][0-9]*$ ]] || fail "cannot read the screens of $xdisplay"

# The page: noVNC's client modules, our index.html, and screens.json naming
# each screen's websockify token and size.
web=$work/web
rm -rf "$web"
mkdir -p "$web"
ln -s "$novnc/core" "$web/core"
ln -s "$novnc/vendor" "$web/vendor"
cp "$here/index.html" "$web/index.html"
tokens=$work/web-tokens
: >"$tokens"
list=
# One x11vnc per screen, on the first free port from 5900 (given, not
# autoprobed: x11vnc's own probe spends seconds on IPv6). Another run may take
# a port between the look and the bind; x11vnc then ends and the next is tried.
next_vnc_port=5900
start_vnc() {  # screen -> port in $port
  local s=$1 vnclog=$work/x11vnc-$1.log pid
  port=
  while [ $next_vnc_port -lt 6000 ]; do
    local try=$next_vnc_port
    next_vnc_port=$((next_vnc_port + 1))
    port_in_use 127.0.0.1 $try && continue
    x11vnc -display "$xdisplay.$s" -localhost -noipv6 -rfbport $try -nopw -forever -shared \
      -noxdamage -xkb >"$vnclog" 2>&1 &
    pid=$!
    for _ in $(seq 100); do
      grep -q '^PORT=' "$vnclog" && break
      kill -0 $pid 2>/dev/null || break
      sleep 0.05
    done
    if grep -q '^PORT=' "$vnclog"; then
      pids+=($pid)
      port=$try
      return
    fi
    kill $pid 2>/dev/null || true
    grep -q 'could not obtain listening port' "$vnclog" ||
      fail "x11vnc for screen $s did not start: $(tail -3 "$vnclog")"
  done
  fail "no free port for x11vnc between 5900 and 5999"
}
for ((s = 0; s < screens; s++)); do
  start_vnc $s
  size=$(awk -v s="screen #$s:" '$0 == s {f = 1} f && /dimensions:/ {print $2; exit}' <<<"$info")
  [[ $size =~ ^[0-9]+x[0-9]+$ ]] || size=800x600
  echo "screen$s: 127.0.0.1:$port" >>"$tokens"
  list+="{\"token\":\"screen$s\",\"screen\":$s,\"width\":${size%x*},\"height\":${size#*x}},"
done
echo "{\"display\":\"$xdisplay\",\"screens\":[${list%,}]}" >"$web/screens.json"

if [ -n "${QUORVOD_DEMO_WEB:-}" ]; then
  addr=$QUORVOD_DEMO_WEB
  [[ $addr =~ ^[0-9.]+:[0-9]+$ ]] || fail "QUORVOD_DEMO_WEB must be ADDRESS:PORT, not \"$addr\""
  port_in_use "${addr%:*}" "${addr##*:}" && fail "$addr is taken"
else
  addr=
  for port in $(seq 6080 6099); do
    if ! port_in_use 127.0.0.1 "$port"; then
      addr=127.0.0.1:$port
      break
    fi
  done
  [ -n "$addr" ] || fail "ports 6080 to 6099 are all taken; set QUORVOD_DEMO_WEB=ADDRESS:PORT"
fi
websockify --web "$web" --token-plugin TokenFile --token-source "$tokens" "$addr" \
  >"$work/websockify.log" 2>&1 &
pids+=($!)
probe=${addr%:*}
[ "$probe" = 0.0.0.0 ] && probe=127.0.0.1
for _ in $(seq 100); do
  port_in_use "$probe" "${addr##*:}" && break
  kill -0 "${pids[-1]}" 2>/dev/null || fail "websockify ended: $(tail -3 "$work/websockify.log")"
  sleep 0.1
done
log "the demo in a browser: http://$addr/ (see the screens, click and type on them)"
wait
