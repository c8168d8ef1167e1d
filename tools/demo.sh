#!/usr/bin/env bash
# demo.sh BIN_DIR DEMO_DIR
# Makes the demo catalogue (once), lays out a room folder with the terminal and
# everything it reads beside it, starts the application server on the demo
# catalogue with its front-desk console on 127.0.0.1:8211 (staff account
# "desk", password "ktv-desk-demo") and then the terminal (under a private Xvfb
# when there is no display). Ends the server when the terminal ends.
set -euo pipefail
BIN=$1
DEMO=$2
ROOM=$DEMO/room
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

# Without a real display the video has nowhere to go: the simulating driver
# plays the queue instead (positions advance in real time, nothing is shown).
driver=libreeldrv-sim.so
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1 && [ -e "$ROOM/libreeldrv-mpv.so" ]; then
  driver=libreeldrv-mpv.so
fi
cat > "$ROOM/drivers.ini" <<INI
[Drivers32]
reeldrv=$driver

[reeldrv-mpv]
vo=gpu,x11
ao=pulse,alsa,null
fullscreen=no
hwdec=auto-safe
INI

if [ ! -f "$ROOM/VODSet.ini" ]; then
  # Remote-control key codes: the numeric keypad and function keys of an
  # ordinary keyboard stand in for the remote (Windows virtual-key codes).
  cat > "$ROOM/VODSet.ini" <<'INI'
[LyraboxSet]
RoomName=Room1
ServerName=quorvod
ServerIP=127.0.0.1

[KeyMap]
Play=118
Pause=119
NextSong=120
Fast=121
FastBack=122
Channel=123
Volup=107
Voldown=109
Num0=96
Num1=97
Num2=98
Num3=99
Num4=100
Num5=101
Num6=102
Num7=103
Num8=104
Num9=105
Selected=112
Priority=113
Delete=46
Pageup=33
Pagedown=34
Affirm=13
Return=8
up=38
down=40
Left=37
Right=39
Vinoserve=114
INI
fi

server_pid=
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true; }
trap cleanup EXIT
# The front desk's console, and a staff account to log in to it with.
DESK_USER=desk
DESK_PASSWORD=ktv-desk-demo
if [ -x "$BIN/quorvod-server" ] && [ -f "$DEMO/catalogue.db" ]; then
  printf '%s\n' "$DESK_PASSWORD" |
    "$BIN/quorvod-server" --db "$DEMO/catalogue.db" --add-staff "$DESK_USER" >/dev/null
  log "starting quorvod-server on port 211 (log: $DEMO/server.log)"
  "$BIN/quorvod-server" --db "$DEMO/catalogue.db" --port 211 --log "$DEMO/server.log" \
    --console 127.0.0.1:8211 &
  server_pid=$!
  sleep 0.5
  log "front-desk console: http://127.0.0.1:8211/  (staff $DESK_USER, password $DESK_PASSWORD)"
fi

export QUORVOD_SHARE_ROOT=$DEMO/media
export QUORVOD_DRIVER_LOG=$DEMO/driver.log
run() {
  log "starting the terminal; end it with Ctrl+Alt+End (or Ctrl+C here)"
  "$ROOM/quorvod"
}
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  run
else
  log "no display: the terminal runs under Xvfb :77; look at it with"
  log "  import -display :77 -window root shot.png"
  Xvfb :77 -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap 'cleanup; kill $xvfb 2>/dev/null || true' EXIT
  for _ in $(seq 50); do [ -e /tmp/.X11-unix/X77 ] && break; sleep 0.1; done
  DISPLAY=:77 run
fi
