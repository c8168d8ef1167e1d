#!/usr/bin/env bash
# soak.sh BIN_DIR MINUTES OUT_DIR
# A long night in one room, shortened: the real terminal (from BIN_DIR) plays a
# queue of short clips on the mpv driver under a private two-screen Xvfb,
# while its application server is restarted and its player killed on a
# schedule; guests keep queueing songs and pressing 呼叫服务; quorvod-load,
# when BIN_DIR has it, runs simulated rooms against the same server. Samples
# the memory of the terminal, its player and the server every 30 s
# (OUT_DIR/memory.csv) and ends with a summary (OUT_DIR/summary.txt): memory
# at start and end and growth per hour, songs played, player and server
# restarts, room requests pressed and stored, whether the terminal was the
# same process all along. Exits 1 when the terminal died or a room request
# was lost or stored twice.
#
#   SOAK_SERVER_EVERY  seconds between server restarts (default 300)
#   SOAK_PLAYER_EVERY  seconds between player kills (default 180)
#   SOAK_CLIP_SECONDS  length of every clip (default 8)
#   SOAK_LOAD_ROOMS    simulated rooms of quorvod-load (default 20)
set -uo pipefail
BIN=$(cd "$1" && pwd)
MINUTES=$2
OUT=$(mkdir -p "$3" && cd "$3" && pwd)
SERVER_EVERY=${SOAK_SERVER_EVERY:-300}
PLAYER_EVERY=${SOAK_PLAYER_EVERY:-180}
CLIP=${SOAK_CLIP_SECONDS:-8}
LOAD_ROOMS=${SOAK_LOAD_ROOMS:-20}
log() { printf '[soak %s] %s\n' "$(date +%H:%M:%S)" "$*" | tee -a "$OUT/soak.log"; }

pids=()
server=
cleanup() {
  for p in "${pids[@]}" $server; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT

# --- the catalogue, the display, the server -------------------------------
DATA=$OUT/catalogue
if [ ! -f "$DATA/catalogue.db" ]; then
  log "making a catalogue of 200 songs, $CLIP-second clips"
  QT_QPA_PLATFORM=offscreen "$BIN/quorvod-make-demo" "$DATA" --songs 200 --video-seconds "$CLIP" \
    --no-photos >"$OUT/make-demo.log" 2>&1 || { log "the catalogue could not be made"; exit 2; }
fi
display=
for n in $(seq 150 199); do
  if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=:$n; break; fi
done
Xvfb "$display" -screen 0 800x600x24 -screen 1 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
pids+=("$xvfb")
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY=$display

ADDRESS=127.$((2 + $$ % 250)).$((($$ / 250) % 250 + 2)).11
start_server() {
  "$BIN/quorvod-server" --db "$DATA/catalogue.db" --port 211 --bind "$ADDRESS" \
    --log "$OUT/server.log" >>"$OUT/server.out" 2>&1 &
  server=$!
  for _ in $(seq 100); do
    grep -q "listening on $ADDRESS" "$OUT/server.out" 2>/dev/null && [ "$(grep -c "listening on $ADDRESS" "$OUT/server.out")" -ge "$1" ] && return 0
    sleep 0.1
  done
  log "the server did not start"; return 1
}
: >"$OUT/server.out"
starts=1
start_server 1 || exit 2
log "server on $ADDRESS:211 (pid $server)"

# --- the room ---------------------------------------------------------------
ROOM=$OUT/room
rm -rf "$ROOM" && mkdir -p "$ROOM/Photo"
cp "$BIN/quorvod" "$BIN/libdsengine.so" "$BIN/libreeldrv-mpv.so" "$ROOM/"
cp "$BIN/Photo/NONAME.BMP" "$ROOM/Photo/" 2>/dev/null
printf '[LyraboxSet]\nRoomName=SoakRoom\nServerIP=%s\n[KeyMap]\n' "$ADDRESS" >"$ROOM/VODSet.ini"
cat >"$ROOM/drivers.ini" <<INI
[Drivers32]
reeldrv=libreeldrv-mpv.so
[reeldrv-mpv]
vo=x11
ao=null
x11-screen=1
fullscreen=yes
input-ipc-server=$ROOM/mpv.sock
INI
QUORVOD_DRIVERS_INI=$ROOM/drivers.ini QUORVOD_SHARE_ROOT=$DATA/media "$ROOM/quorvod" \
  >"$OUT/terminal.out" 2>&1 &
terminal=$!
pids+=("$terminal")
xdotool search --sync --onlyvisible --name 'QuorVOD客户端' >/dev/null
log "terminal up (pid $terminal)"

load=
if [ -x "$BIN/quorvod-load" ]; then
  # Rooms of their own addresses (127.0.0.2 on), errors allowed: the server
  # is restarted under them. At the end it counts its presses on both ends.
  "$BIN/quorvod-load" --host "$ADDRESS" --port 211 --terminals "$LOAD_ROOMS" \
    --seconds $((MINUTES * 60 - 30)) --ramp-ms 5000 --room-percent 5 --allow-errors \
    >"$OUT/load.out" 2>&1 &
  load=$!
  pids+=("$load")
  log "quorvod-load: $LOAD_ROOMS rooms (pid $load)"
else
  log "no quorvod-load in $BIN: the terminal alone"
fi

# --- what guests do ---------------------------------------------------------
touch_at() { xdotool mousemove "$1" "$2" click 1; sleep 0.25; }
queue_song() {  # the number keypad, then the song's row
  touch_at 100 296; touch_at 237 392
  local d key
  for ((i = 0; i < ${#1}; i++)); do
    d=${1:i:1}; key=$d; [ "$d" = 0 ] && key=10
    if [ "$key" -le 5 ]; then touch_at $((300 + 28 + 48 * (key - 1))) 88
    else touch_at $((300 + 29 + 48 * (key - 6))) 140; fi
  done
  touch_at 397 92
}
mapfile -t songs < <(sqlite3 "$DATA/catalogue.db" 'select SINGID from vodinfo order by SINGID')
# A message box of the terminal is what a guest would answer with OK: each is
# kept as a picture (box-N.png) and answered.
boxes=0
dismiss_boxes() {
  local id
  for id in $(xdotool search --onlyvisible --name '^QuorVOD$' 2>/dev/null); do
    boxes=$((boxes + 1))
    import -window "$id" "$OUT/box-$boxes.png" 2>/dev/null
    log "message box $boxes answered (box-$boxes.png)"
    xdotool windowfocus --sync "$id" key Return 2>/dev/null
    sleep 0.3
  done
}
player_pid() { pgrep -P "$terminal" -x mpv | head -1; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }

echo "seconds,terminal_kb,player_kb,server_kb" >"$OUT/memory.csv"
begin=$(date +%s)
end=$((begin + MINUTES * 60))
next_queue=$begin next_press=$((begin + 20)) next_sample=$begin
next_server=$((begin + SERVER_EVERY)) next_player=$((begin + PLAYER_EVERY))
presses=0 kills=0 restarts=0 song=0
while [ "$(date +%s)" -lt "$end" ]; do
  now=$(date +%s)
  if ! kill -0 "$terminal" 2>/dev/null; then log "THE TERMINAL ENDED"; break; fi
  dismiss_boxes
  if [ "$now" -ge "$next_sample" ]; then
    echo "$((now - begin)),$(rss_kb "$terminal"),$(rss_kb "$(player_pid)"),$(rss_kb "$server")" \
      >>"$OUT/memory.csv"
    next_sample=$((now + 30))
  fi
  if [ "$now" -ge "$next_queue" ]; then
    queue_song "${songs[$((song % ${#songs[@]}))]}"
    song=$((song + 7))
    next_queue=$((now + CLIP))
  fi
  if [ "$now" -ge "$next_press" ]; then
    touch_at 100 360
    presses=$((presses + 1))
    next_press=$((now + 60))
  fi
  if [ "$now" -ge "$next_player" ]; then
    p=$(player_pid)
    if [ -n "$p" ]; then kill -KILL "$p" && kills=$((kills + 1)) && log "player $p killed"; fi
    next_player=$((now + PLAYER_EVERY))
  fi
  if [ "$now" -ge "$next_server" ]; then
    kill "$server"; wait "$server" 2>/dev/null
    starts=$((starts + 1)); restarts=$((restarts + 1))
    start_server "$starts" && log "server restarted (pid $server)"
    next_server=$((now + SERVER_EVERY))
  fi
  sleep 1
done

# A last press with the server up: a row kept from a press during a restart
# goes with it.
sleep 3
dismiss_boxes
touch_at 100 360
presses=$((presses + 1))
sleep 5
dismiss_boxes
alive=no; kill -0 "$terminal" 2>/dev/null && alive=yes
# The simulated rooms end by themselves; 4 = a press of theirs lost or stored twice.
load_status=0
if [ -n "$load" ]; then wait "$load"; load_status=$?; fi
stored=$(sqlite3 "$DATA/catalogue.db" "select count(*) from roomcall where ClientName='SoakRoom'")
played=$(grep -c 'select PATH1 from vodinfo where SINGID=' "$OUT/server.log")
growth() {  # column: kB at the first sample (after 30 s of warm-up), at a third of the run
           # (the caches are filled by then) and at the last, with the growth per hour
  awk -F, -v c="$1" -v third=$((MINUTES * 20)) '
    NR == 3 {a = $c; t = $1}
    NR > 2 && !m && $1 >= third {m = $c; tm = $1}
    END {
      h = ($1 - t) / 3600; hm = ($1 - tm) / 3600
      if (h > 0) printf "%d kB -> %d kB (%+.0f kB/h)", a, $c, ($c - a) / h
      if (m && hm > 0) printf "; from %d s: %d kB -> %d kB (%+.0f kB/h)", tm, m, $c, ($c - m) / hm
    }' "$OUT/memory.csv"
}
{
  echo "soak of $MINUTES minutes, clips of $CLIP s"
  echo "terminal: same process all along: $alive (pid $terminal)"
  echo "terminal memory: $(growth 2)"
  echo "player memory:   $(growth 3) (a new player after each kill)"
  echo "server memory:   $(growth 4) (a new server after each restart)"
  echo "songs looked up: $played; player kills: $kills; server restarts: $restarts"
  echo "room requests pressed: $presses; stored: $stored"
  echo "message boxes answered: $boxes"
  [ -n "$load" ] && echo "quorvod-load: $(tail -3 "$OUT/load.out" | tr '\n' ' ')"
} | tee "$OUT/summary.txt"
[ "$alive" = yes ] && [ "$stored" = "$presses" ] && [ "$load_status" != 4 ]
