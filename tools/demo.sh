#!/usr/bin/env bash
# demo.sh BIN_DIR DEMO_DIR
# Makes the demo catalogue (once), lays out a room folder with the terminal and
# everything it reads beside it, starts the application server on the demo
# catalogue with its front-desk console (staff account "desk", password
# "ktv-desk-demo") and then the terminal. Without a display the terminal runs
# under a private Xvfb whose screens are served to a browser
# (tools/demo-web/serve.sh, address printed). Ends the server when the
# terminal ends.
#
#   QUORVOD_DEMO_SERVER_IP  address the server listens on and the terminal
#                           connects to (default 127.0.0.1)
#   QUORVOD_DEMO_CONSOLE    ADDRESS:PORT of the front-desk console (default
#                           127.0.0.1:8211)
#   QUORVOD_DEMO_WEB        ADDRESS:PORT of the browser view (default
#                           127.0.0.1:6080, or the next free port)
set -euo pipefail
BIN=$1
DEMO=$2
ROOM=$DEMO/room
SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SERVER_IP=${QUORVOD_DEMO_SERVER_IP:-127.0.0.1}
# The demo's X screens when there is no display, as a room has them: the
# terminal on screen 0, the room's TV on screen 1 (the songs play there).
XVFB_SCREENS=(-screen 0 800x600x24 -screen 1 800x600x24)
log() { printf '\033[1m[demo]\033[0m %s\n' "$*"; }

mkdir -p "$DEMO"
if [ -x "$BIN/quorvod-make-demo" ] && [ ! -f "$DEMO/catalogue.db" ]; then
  log "making the demo catalogue in $DEMO"
  QT_QPA_PLATFORM=offscreen "$BIN/quorvod-make-demo" "$DEMO"
fi

log "laying out the room folder $ROOM"
mkdir -p "$ROOM/Photo"
for f in quorvod libdsengine.so libreeldrv-mpv.so libreeldrv-sim.so; do
  [ -e "$BIN/$f" ] && cp -f "$BIN/$f" "$ROOM/"
done
[ -d "$BIN/Photo" ] && cp -rf "$BIN/Photo/." "$ROOM/Photo/"
[ -d "$DEMO/Photo" ] && cp -rf "$DEMO/Photo/." "$ROOM/Photo/"

# The songs play with mpv: on a real display in a window of its own; under
# the demo's Xvfb full screen on the TV screen (screen 1), through the plain
# X11 output that Xvfb can show. Without the mpv driver the simulating one
# plays the queue instead (positions advance in real time, nothing is shown).
has_display=
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then has_display=1; fi
driver=libreeldrv-sim.so
[ -e "$ROOM/libreeldrv-mpv.so" ] && driver=libreeldrv-mpv.so
if [ -n "$has_display" ]; then
  video=$'vo=gpu,x11\nfullscreen=no\nhwdec=auto-safe'
else
  video=$'vo=x11\nx11-screen=1\nfullscreen=yes'
fi
cat > "$ROOM/drivers.ini" <<INI
[Drivers32]
reeldrv=$driver

[reeldrv-mpv]
$video
ao=pulse,alsa,null
INI

# The room's settings are the packaged VODSet.ini (the numeric keypad and
# function keys of an ordinary keyboard stand in for the remote control),
# pointed at the demo's server.
[ -f "$ROOM/VODSet.ini" ] || cp "$SRC/packaging/terminal/VODSet.ini" "$ROOM/VODSet.ini"
sed -i "s/^ServerIP=.*/ServerIP=$SERVER_IP/" "$ROOM/VODSet.ini"

server_pid=
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true; }
trap cleanup EXIT
# The front desk's console, and a staff account to log in to it with.
DESK_USER=desk
DESK_PASSWORD=ktv-desk-demo
CONSOLE=${QUORVOD_DEMO_CONSOLE:-127.0.0.1:8211}
if [ -x "$BIN/quorvod-server" ] && [ -f "$DEMO/catalogue.db" ]; then
  printf '%s\n' "$DESK_PASSWORD" |
    "$BIN/quorvod-server" --db "$DEMO/catalogue.db" --add-staff "$DESK_USER" >/dev/null
  log "starting quorvod-server on $SERVER_IP:211 (log: $DEMO/server.log)"
  server_args=(--db "$DEMO/catalogue.db" --bind "$SERVER_IP" --port 211 --log "$DEMO/server.log"
    --console "$CONSOLE")
  "$BIN/quorvod-server" "${server_args[@]}" &
  server_pid=$!
  sleep 0.5
  log "front-desk console: http://$CONSOLE/  (staff $DESK_USER, password $DESK_PASSWORD)"
fi

export QUORVOD_SHARE_ROOT=$DEMO/media
export QUORVOD_DRIVER_LOG=$DEMO/driver.log
run() {
  log "starting the terminal; end it with Ctrl+Alt+End (or Ctrl+C here)"
  "$ROOM/quorvod"
}
if [ -n "$has_display" ]; then
  run
else
  # A display number nobody uses: no socket and no lock file.
  n=77
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" "${XVFB_SCREENS[@]}" -nolisten tcp >"$DEMO/xvfb.log" 2>&1 &
  xvfb=$!
  web=
  trap 'cleanup; [ -n "$web" ] && kill $web 2>/dev/null; kill $xvfb 2>/dev/null || true' EXIT
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  log "no display: the terminal runs under Xvfb :$n (screen 0; the TV, where the songs play, is screen 1)"
  "$SRC/tools/demo-web/serve.sh" ":$n" "$DEMO" &
  web=$!
  DISPLAY=:$n run
fi
