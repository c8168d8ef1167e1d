#!/usr/bin/env bash
# install-inner.sh WORK LOWER DISPLAY DEB...
# Run by install.sh in a mount namespace of its own. With LOWER (a Debian 12
# tree holding the packages' dependencies) the packages go into an overlay
# over it and every program runs chrooted there; without, into this machine.
set -euo pipefail
work=$1
lower=$2
display=$3
shift 3
debs=("$@")

say() { printf '[install-test] %s\n' "$*"; }
fail() {
  printf '[install-test] FAILED: %s\n' "$*" >&2
  exit 1
}
ok() { say "ok: $*"; }
# A command that fails outside a check ends the script (errexit); say which.
set -E
# shellcheck disable=SC2154  # rc is set by the trap itself
trap 'rc=$?; printf "[install-test] FAILED: line %s: %s (exit %s)\\n" "$LINENO" "$BASH_COMMAND" "$rc" >&2' ERR
started() { echo "$1" >>"$work/pids"; }
# Runs a command in the tree (chroot), or here. Programs started in the
# background go through "${tree[@]}" directly, so that $! is their own pid.
in_tree() { "${tree[@]}" "$@"; }
# Polls a command until it succeeds; fails with the message after the seconds.
wait_for() {
  local seconds=$1 what=$2
  shift 2
  local end=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $end ] || fail "$what (waited ${seconds} s)"
    sleep 0.1
  done
}

if [ -n "$lower" ]; then
  root=$work/root
  mkdir -p "$work/upper" "$work/overlay-work" "$root"
  if ! mount -t overlay overlay \
    -o "lowerdir=$lower,upperdir=$work/upper,workdir=$work/overlay-work" "$root" 2>/dev/null; then
    say "no overlay file system here: copying the tree"
    cp -a "$lower/." "$root/"
  fi
  mount -t proc proc "$root/proc"
  mount --bind /dev "$root/dev"
  mkdir -p "$root/tmp/.X11-unix" "$root/tmp/debs"
  mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
  cp "${debs[@]}" "$root/tmp/debs/"
  debdir=/tmp/debs
  tree=(chroot "$root")
else
  # This machine itself: only one without QuorVOD, whose traces go again.
  root=
  debdir=$(dirname "${debs[0]}")
  tree=()
  if dpkg-query -W quorvod-server quorvod-terminal quorvod-tools >/dev/null 2>&1 ||
    [ -e /var/lib/quorvod ] || getent passwd quorvod >/dev/null; then
    fail "QuorVOD is installed here already: the test installs on a machine without it only"
  fi
  undo_host() {
    apt-get purge -y -q quorvod-server quorvod-terminal quorvod-tools >/dev/null 2>&1 || true
    userdel --remove quorvod-room 2>/dev/null || true
    userdel quorvod 2>/dev/null || true
    groupdel quorvod 2>/dev/null || true
    rm -rf /var/lib/quorvod /var/log/quorvod
  }
  trap undo_host EXIT
fi

# --- Install, as a venue does.
names=()
for deb in "${debs[@]}"; do names+=("$debdir/$(basename "$deb")"); done
say "installing ${names[*]##*/}"
in_tree env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  -o DPkg::Lock::Timeout=600 "${names[@]}" >"$work/apt-install.log" 2>&1 ||
  fail "apt-get install: $(tail -5 "$work/apt-install.log")"
ok "the three packages install with apt"

passwd=$(in_tree getent passwd quorvod) || fail "no user quorvod"
[[ $passwd == *:/var/lib/quorvod:/usr/sbin/nologin ]] || fail "user quorvod: $passwd"
ok "the service's user quorvod exists, home /var/lib/quorvod, no login shell"

# Ids, not names: this machine's user list is not the tree's.
gid=$(in_tree getent group quorvod | cut -d: -f3)
mode=$(stat -c '%a %u %g' "$root/etc/quorvod/server.conf")
[ "$mode" = "640 0 $gid" ] || fail "server.conf has mode, owner, group $mode, not 640 0 $gid (root, quorvod)"
conffiles=$(in_tree dpkg-query -W -f='${Conffiles}\n' quorvod-server quorvod-terminal)
for f in /etc/quorvod/server.conf /etc/quorvod/VODSet.ini /etc/quorvod/drivers.ini; do
  grep -q "^ $f " <<<"$conffiles" || fail "$f is no conffile"
done
ok "server.conf (readable by the service only), VODSet.ini and drivers.ini are conffiles"

[ -L "$root/etc/systemd/system/multi-user.target.wants/quorvod-server.service" ] ||
  fail "quorvod-server.service is not enabled"
ok "quorvod-server.service is enabled"

prog=$root/usr/lib/quorvod
for f in quorvod libdsengine.so libreeldrv-mpv.so libreeldrv-sim.so Photo/NONAME.BMP; do
  [ -f "$prog/$f" ] || fail "the program folder lacks $f"
done
for ini in VODSet.ini drivers.ini; do
  [ "$(readlink "$prog/$ini")" = "/etc/quorvod/$ini" ] || fail "$ini beside the terminal is no link to /etc/quorvod/$ini"
done
for elf in /usr/lib/quorvod/quorvod /usr/lib/quorvod/libdsengine.so /usr/lib/quorvod/libreeldrv-mpv.so \
  /usr/bin/quorvod-server /usr/bin/quorvod-make-demo; do
  missing=$(in_tree ldd "$elf" | grep 'not found' || true)
  [ -z "$missing" ] || fail "$elf lacks libraries: $missing"
done
ok "the terminal's program folder is whole and every program finds its libraries"

unit=$root/lib/systemd/system/quorvod-server.service
if command -v systemd-analyze >/dev/null; then
  if [ -n "$root" ]; then
    verify=$(systemd-analyze verify --root="$root" /lib/systemd/system/quorvod-server.service 2>&1) ||
      fail "systemd-analyze verify: $verify"
  else
    verify=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $verify"
  fi
  [ -z "$verify" ] || fail "systemd-analyze verify says: $verify"
  ok "systemd-analyze verify finds nothing to say about quorvod-server.service"
else
  fail "systemd-analyze is missing (./ktv deps installs systemd)"
fi

# --- A catalogue, made as the service's user (as an import would be).
in_tree setpriv --reuid=quorvod --regid=quorvod --init-groups \
  env HOME=/var/lib/quorvod QT_QPA_PLATFORM=offscreen \
  quorvod-make-demo /var/lib/quorvod --songs 200 --no-video >"$work/make-demo.log" 2>&1 ||
  fail "quorvod-make-demo: $(tail -3 "$work/make-demo.log")"
ok "quorvod-make-demo made a catalogue in /var/lib/quorvod"

# --- The server from its unit's command line, with the unit's user, folder
# and capability and no other.
execstart=$(sed -n 's/^ExecStart=//p' "$unit")
user=$(sed -n 's/^User=//p' "$unit")
workdir=$(sed -n 's/^WorkingDirectory=//p' "$unit")
cap=$(sed -n 's/^AmbientCapabilities=CAP_//p' "$unit" | tr 'A-Z' 'a-z')
[ -n "$execstart" ] && [ -n "$user" ] && [ "$cap" = net_bind_service ] || fail "unexpected unit: $(cat "$unit")"
server=
for _ in 1 2 3 4 5; do
  ip=127.0.$((RANDOM % 250 + 2)).$((RANDOM % 250 + 2))
  sed -i "s/^bind =.*/bind = $ip/" "$root/etc/quorvod/server.conf"
  : >"$work/server.log"
  "${tree[@]}" setpriv --reuid="$user" --regid="$user" --init-groups --no-new-privs \
    --inh-caps="+$cap" --ambient-caps="+$cap" --bounding-set="-all,+$cap" \
    sh -c "cd '$workdir' && exec $execstart" >"$work/server.log" 2>&1 &
  server=$!
  started $server
  for _ in $(seq 100); do
    grep -q "listening on $ip:211" "$work/server.log" && break
    kill -0 $server 2>/dev/null || break
    sleep 0.1
  done
  grep -q "listening on $ip:211" "$work/server.log" && break
  kill $server 2>/dev/null || true
  server=
done
[ -n "$server" ] || fail "the server did not start: $(cat "$work/server.log")"
uid_of() { ps -o uid= -p "$1" | tr -d ' '; }
[ "$(uid_of $server)" = "$(in_tree id -u quorvod)" ] || fail "the server runs as uid $(uid_of $server)"
caps=$(sed -n 's/^CapEff:[[:space:]]*//p' /proc/$server/status)
[ "$caps" = 0000000000000400 ] || fail "the server's capabilities are $caps, not CAP_NET_BIND_SERVICE alone"
ok "ExecStart of the unit serves the catalogue on $ip:211 as quorvod, with CAP_NET_BIND_SERVICE alone"

# --- A room: the kiosk session of a user of its own, the terminal against the
# server (the simulating driver: Xvfb shows no video).
in_tree useradd --create-home quorvod-room
sed -i "s/^ServerIP=.*/ServerIP=$ip/" "$root/etc/quorvod/VODSet.ini"
"${tree[@]}" setpriv --reuid=quorvod-room --regid=quorvod-room --init-groups env -i HOME=/home/quorvod-room PATH=/usr/bin:/bin \
  DISPLAY="$display" QUORVOD_DRIVERS_INI=/usr/lib/quorvod/drivers-sim.ini \
  /usr/libexec/quorvod/quorvod-session >"$work/session.log" 2>&1 &
session=$!
started $session
connections() { grep -c 'connected: ' "$work/server.log" || true; }
# The terminal opens its last dataset on the temp provider.
opened() { grep -q 'tempDataSetProvider' "$work/server.log"; }
more_connections() { [ "$(connections)" -gt "$1" ]; }
wait_for 30 "the terminal did not open its datasets on the server" opened
terminal=$(pgrep -P $session -x quorvod) || fail "no terminal under the session"
[ "$(uid_of "$terminal")" = "$(in_tree id -u quorvod-room)" ] || fail "the terminal runs as uid $(uid_of "$terminal")"
ok "the kiosk session's terminal connects to the server and opens its datasets"

sleep 1
import -display "$display" -window root "$work/terminal.png"
colours=$(convert "$work/terminal.png" -format %k info:)
[ "$colours" -gt 1000 ] || fail "the screen shows $colours colours: no window painted?"
ok "the terminal's window is painted ($colours colours; $work/terminal.png)"

# A terminal that dies is back within 3 s.
before=$(connections)
kill -KILL "$terminal"
killed=$(date +%s%N)
again() {
  restarted=$(pgrep -P $session -x quorvod) && [ "$restarted" != "$terminal" ]
}
wait_for 5 "the session did not start the terminal again" again
ms=$((($(date +%s%N) - killed) / 1000000))
[ $ms -le 3000 ] || fail "the terminal came back after $ms ms, not within 3 s"
wait_for 30 "the new terminal did not reach the server" more_connections "$before"
ok "the kiosk session started the killed terminal again after $ms ms, and it reconnected"

kill -TERM $session
wait_for 10 "the session did not end on SIGTERM" eval "! kill -0 $session 2>/dev/null"
kill -0 "$restarted" 2>/dev/null && fail "the terminal outlived its session"
ok "the session ends on SIGTERM and takes the terminal with it"

kill -TERM $server
status=0
wait $server || status=$?
[ $status -eq 0 ] || fail "the server exited with $status on SIGTERM"
ok "the server ends with 0 on SIGTERM"

# --- The tree booted with systemd-nspawn: systemd itself starts the enabled
# service, with the unit's whole sandbox, and starts it again when it dies.
if [ -n "$root" ]; then
  umount "$root/tmp/.X11-unix" "$root/dev" "$root/proc"
  SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=0 systemd-nspawn --quiet --directory="$root" --boot \
    --register=no --keep-unit --console=pipe </dev/null >"$work/boot.log" 2>&1 &
  nspawn=$!
  started $nspawn
  init=
  # The tree's init is the child of systemd-nspawn that is pid 1 in a pid
  # namespace of its own; nspawn's other children come and go while it
  # starts, and taking one of them leaves nothing to ask.
  find_init() {
    local p
    init=
    for p in $(pgrep -P $nspawn); do
      [ "$(awk '/^NSpid:/ { print $NF }' "/proc/$p/status" 2>/dev/null)" = 1 ] && init=$p && break
    done
    [ -n "$init" ]
  }
  wait_for 20 "systemd-nspawn did not boot the tree: $(tail -3 "$work/boot.log")" find_init
  in_boot() { nsenter --target "$init" --mount --pid --uts --ipc "$@"; }
  active() { [ "$(in_boot systemctl is-active quorvod-server 2>/dev/null)" = active ]; }
  wait_for 60 "systemd did not start quorvod-server at boot" active
  main=$(in_boot systemctl show --value -p MainPID quorvod-server)
  # The same process as this machine sees it: the server under the tree's init.
  # Other tests of the suite run servers of the same name beside this one; a
  # filter over all of them ended the script silently (errexit, pipefail)
  # whenever the last one listed was not the tree's.
  server=$(pgrep -x -P "$init" quorvod-server | head -1 || true)
  [ -n "$server" ] || fail "no quorvod-server under the booted system's init"
  status=$(grep -E '^(CapEff|NoNewPrivs|Seccomp):' /proc/$server/status | tr -s '\t ' ' ' | tr '\n' ' ')
  [ "$status" = "CapEff: 0000000000000400 NoNewPrivs: 1 Seccomp: 2 " ] ||
    fail "the service's process is not confined as the unit says: $status"
  (exec 3<>"/dev/tcp/$ip/211") || fail "the service does not listen on $ip:211"
  in_boot journalctl -u quorvod-server --no-pager | grep -q "listening on $ip:211" ||
    fail "the journal lacks the server's start line"
  ok "at boot systemd runs quorvod-server (pid $main in the tree) confined: CAP_NET_BIND_SERVICE alone, no new privileges, a system call filter; its log is in the journal"

  kill -KILL "$server"
  restarted() {
    local now
    now=$(in_boot systemctl show --value -p MainPID quorvod-server)
    [ "$now" != 0 ] && [ "$now" != "$main" ] && active && (exec 3<>"/dev/tcp/$ip/211") 2>/dev/null
  }
  wait_for 10 "systemd did not start the killed server again" restarted
  ok "systemd starts the killed server again and it serves"

  in_boot systemctl poweroff >/dev/null 2>&1 || true
  wait_for 30 "the booted tree did not power off" eval "! kill -0 $nspawn 2>/dev/null"
  mount -t proc proc "$root/proc"
  mount --bind /dev "$root/dev"
fi

# --- Purge: the packages and their configuration go, the venue's data stays.
in_tree env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=600 \
  quorvod-server quorvod-terminal quorvod-tools >"$work/apt-purge.log" 2>&1 ||
  fail "apt-get purge: $(tail -5 "$work/apt-purge.log")"
for gone in /etc/quorvod /usr/lib/quorvod /usr/bin/quorvod-server \
  /etc/systemd/system/multi-user.target.wants/quorvod-server.service; do
  [ ! -e "$root$gone" ] && [ ! -L "$root$gone" ] || fail "$gone is left after the purge"
done
[ -f "$root/var/lib/quorvod/catalogue.db" ] || fail "the purge took the catalogue"
ok "the purge removes the programs and settings and keeps the catalogue"

echo "install test: all checks passed"
