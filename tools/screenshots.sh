#!/usr/bin/env bash
# screenshots.sh BIN_DIR OUT_DIR [SCENE...]
# Takes the README's pictures of the real terminal: a private Xvfb, the demo
# catalogue (made once under OUT_DIR/../../build-shots unless QUOR_SHOT_DEMO
# names one), quorvod-server on a loopback address of its own at port 211,
# the terminal from a room folder pointed at it, then xdotool touches at the
# controls' places and one PNG per scene. The Xvfb has two screens as a room
# has them: the terminal on screen 0, the TV on screen 1, where the mpv driver
# plays the demo's videos. Scenes: singers songs types number letters queue playing
# cannot-play (all by default; playing shows the terminal and the TV side by
# side; cannot-play queues songs whose files are broken). Needs
# xdotool, ImageMagick and ffmpeg (the demo's videos).
set -euo pipefail
BIN=$(cd "$1" && pwd)
OUT=$(mkdir -p "$2" && cd "$2" && pwd)
shift 2
SCENES=("$@")
[ ${#SCENES[@]} -gt 0 ] || SCENES=(singers songs types number letters queue playing cannot-play)
log() { printf '\033[1m[shots]\033[0m %s\n' "$*"; }

WORK=$(mktemp -d /tmp/quorvod-shots-XXXXXX)
DEMO=${QUOR_SHOT_DEMO:-$WORK/demo}
if [ ! -f "$DEMO/catalogue.db" ]; then
  log "making the demo catalogue in $DEMO"
  QT_QPA_PLATFORM=offscreen "$BIN/quorvod-make-demo" "$DEMO" --video-seconds 20 >/dev/null
fi

# A display and a loopback address nobody else uses.
n=150
while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
ADDR=127.0.$((RANDOM % 200 + 20)).$((RANDOM % 200 + 20))
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -n "${QUOR_SHOT_KEEP:-}" ] && log "kept $WORK" || rm -rf "$WORK"
}
trap cleanup EXIT
Xvfb :$n -screen 0 800x600x24 -screen 1 800x600x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=:$n
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { log "Xvfb :$n did not come up"; exit 1; }

"$BIN/quorvod-server" --db "$DEMO/catalogue.db" --bind "$ADDR" --port 211 \
  --log "$WORK/server.log" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q listening "$WORK/server.log" 2>/dev/null && break; sleep 0.1; done

ROOM=$WORK/room
mkdir -p "$ROOM/Photo"
cp "$BIN/quorvod" "$BIN/libdsengine.so" "$BIN/libreeldrv-mpv.so" "$ROOM/"
cp -r "$BIN/Photo/." "$ROOM/Photo/"
[ -d "$DEMO/Photo" ] && cp -r "$DEMO/Photo/." "$ROOM/Photo/"
printf '[Drivers32]\nreeldrv=libreeldrv-mpv.so\n[reeldrv-mpv]\nvo=x11\nao=null\nx11-screen=1\nfullscreen=yes\n' \
  > "$ROOM/drivers.ini"
printf '[LyraboxSet]\nRoomName=Room1\nServerName=quorvod\nServerIP=%s\n' "$ADDR" > "$ROOM/VODSet.ini"

start_terminal() {
  QUORVOD_DRIVERS_INI=$ROOM/drivers.ini QUORVOD_SHARE_ROOT=${SHARE_ROOT:-$DEMO/media} \
    "$ROOM/quorvod" >"$WORK/terminal.log" 2>&1 &
  terminal=$!
  for _ in $(seq 100); do
    xdotool search --name 'QuorVOD' >/dev/null 2>&1 && break
    sleep 0.1
  done
  sleep 1.5
  kill -0 "$terminal" 2>/dev/null || { log "the terminal ended:"; cat "$WORK/terminal.log"; exit 1; }
}
stop_terminal() {
  kill "$terminal" 2>/dev/null || true
  wait "$terminal" 2>/dev/null || true
}
# A touch at a control's middle (window client coordinates = screen ones).
touch() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-0.4}"; }
shot() {
  sleep 0.5
  import -display "$DISPLAY.0" -window root "$OUT/$1.png"
  log "wrote $OUT/$1.png"
}
# The terminal (screen 0) and the TV (screen 1) side by side, with captions.
shot_both() {
  sleep 0.5
  import -display "$DISPLAY.0" -window root "$WORK/screen0.png"
  import -display "$DISPLAY.1" -window root "$WORK/screen1.png"
  local font
  font=$(fc-match -f '%{file}' 'Noto Sans CJK SC')
  convert -background '#1d2126' -fill '#c9d1d9' -font "$font" -pointsize 16 \
    \( "$WORK/screen0.png" -gravity north -splice 0x28 -annotate +0+4 '点歌屏 · room terminal (screen 0)' \) \
    \( "$WORK/screen1.png" -gravity north -splice 0x28 -annotate +0+4 '电视 · TV (screen 1)' \) \
    -gravity center +smush 16 -bordercolor '#1d2126' -border 8 "$OUT/$1.png"
  log "wrote $OUT/$1.png"
}
# Control middles, from the window's layout table.
SELECT_Y=(0 106 168 233 296 360 424)
ROW_Y=(0 92 148 204 260 316 372 428)
key() {  # keypad key 1..10
  local k=$1 x y
  if [ "$k" -le 5 ]; then
    x=$((300 + 28 + 48 * (k - 1))); y=88
  else
    x=$((300 + 29 + 48 * (k - 6))); y=140
  fi
  touch "$x" "$y" 0.2
}

# A share whose song files are all broken: the folders as they are, each
# file a kilobyte of random bytes.
broken_share() {
  local to=$WORK/broken-media
  if [ ! -d "$to" ]; then
    (cd "$DEMO/media" && find . -type d -exec mkdir -p "$to/{}" \; &&
      find . -type f -exec sh -c 'head -c 1024 /dev/urandom > "$0/$1"' "$to" {} \;)
  fi
  echo "$to"
}

for scene in "${SCENES[@]}"; do
  SHARE_ROOT=
  [ "$scene" = cannot-play ] && SHARE_ROOT=$(broken_share)
  start_terminal
  case $scene in
    singers)  # the male singers' first photo page
      touch 100 "${SELECT_Y[1]}"; touch 237 115; shot singers ;;
    songs)  # a singer's songs with two of them queued (blue)
      touch 100 "${SELECT_Y[1]}"; touch 237 264; touch 368 129
      touch 397 "${ROW_Y[2]}"; touch 397 "${ROW_Y[4]}"; shot songs ;;
    types)  # the type buttons and the first page of 流行
      touch 100 "${SELECT_Y[2]}"; touch 237 73; shot types ;;
    number)  # the number keypad with three digits typed
      touch 100 "${SELECT_Y[4]}"; touch 237 392; key 1; key 10; key 2; shot number ;;
    letters)  # the letter keypad: "GA" (key 3, next, key 1)
      touch 100 "${SELECT_Y[4]}"; touch 237 133; key 3; key 10; key 1; shot letters ;;
    queue)  # the queue view on page 2 with one row picked (ten songs queued)
      touch 100 "${SELECT_Y[1]}"; touch 237 115; touch 368 129
      for r in 1 2 3 4 5 6 7; do touch 397 "${ROW_Y[$r]}" 0.2; done
      touch 733 471
      for r in 1 2 3; do touch 397 "${ROW_Y[$r]}" 0.2; done
      touch 100 "${SELECT_Y[6]}"; touch 733 471; touch 397 "${ROW_Y[2]}"; shot queue ;;
    playing)  # three songs queued: the first plays on the TV while two wait,
      # so the status line scrolls "正在播放：" with the first one
      touch 100 "${SELECT_Y[1]}"; touch 237 115; touch 368 129
      touch 397 "${ROW_Y[1]}" 0.1; touch 397 "${ROW_Y[2]}" 0.1; touch 397 "${ROW_Y[3]}" 0.1
      sleep 3.2; shot_both playing ;;
    cannot-play)  # the same songs, but every song file is garbage: the status line
      # says which song could not be played, and the queue goes on
      touch 100 "${SELECT_Y[1]}"; touch 237 115; touch 368 129
      touch 397 "${ROW_Y[1]}" 0.1; touch 397 "${ROW_Y[2]}" 0.1; touch 397 "${ROW_Y[3]}" 0.1
      sleep 1.2; shot cannot-play ;;
    *) log "unknown scene $scene" ;;
  esac
  stop_terminal
done
