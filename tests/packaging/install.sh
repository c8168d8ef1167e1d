#!/usr/bin/env bash
# install.sh DIST_DIR
# The three packages installed into a fresh Debian 12 tree as on a venue's
# machines, then used: the server started from its unit's command line with
# the unit's user and capability, a terminal against it from the kiosk
# session, the session starting a crashed terminal again, the unit checked by
# systemd-analyze, the tree booted with systemd-nspawn (systemd starts the
# sandboxed service, and again after a crash), and a purge that leaves the
# venue's data.
#
# The tree is made by debootstrap and kept under $QUORVOD_TEST_CACHE
# (/var/cache/quorvod-test): the bare system once, and the system with the
# packages' dependencies once per set of dependencies. A run installs into an
# overlay over that, in a mount namespace of its own, so nothing of it stays.
# When debootstrap cannot reach a mirror, the packages are installed on this
# machine itself and purged again at the end.
set -euo pipefail
dist=$(cd "$1" && pwd)
cache=${QUORVOD_TEST_CACHE:-/var/cache/quorvod-test}
mirror=${QUORVOD_TEST_MIRROR:-http://deb.debian.org/debian}
security=${QUORVOD_TEST_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

say() { printf '[install-test] %s\n' "$*"; }
fail() {
  printf '[install-test] FAILED: %s\n' "$*" >&2
  exit 1
}

shopt -s nullglob
debs=("$dist"/quorvod-server_*.deb "$dist"/quorvod-terminal_*.deb "$dist"/quorvod-tools_*.deb)
[ ${#debs[@]} -eq 3 ] || fail "expected the three packages in $dist (./ktv package makes them)"

# The dependencies of the three packages, as apt package names (the first of
# alternatives; versions are apt's business).
dependencies() {
  for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Depends; done |
    tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' | grep -v '^$' | sort -u
}
# systemd too: a venue's machine boots with it, and the unit is checked
# against the tree's own.
deps=$(dependencies; echo systemd)
key=$(sha256sum <<<"$deps" | cut -c1-16)

# Makes $cache/bookworm (debootstrap) and $cache/deps-$key (that plus the
# dependencies) when missing. Under a lock: other runs of the suite share them.
prepare_trees() {
  mkdir -p "$cache"
  exec 9>"$cache/lock"
  flock 9
  if [ ! -x "$cache/bookworm/usr/bin/apt-get" ]; then
    say "debootstrap of Debian 12 into $cache/bookworm (once)"
    rm -rf "$cache/bookworm.new"
    debootstrap --variant=minbase bookworm "$cache/bookworm.new" "$mirror" \
      >"$cache/debootstrap.log" 2>&1 || {
      tail -5 "$cache/debootstrap.log" >&2
      rm -rf "$cache/bookworm.new"
      flock -u 9
      return 1
    }
    cat >"$cache/bookworm.new/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
    mv "$cache/bookworm.new" "$cache/bookworm"
  fi
  if [ ! -f "$cache/deps-$key/.complete" ]; then
    say "installing the packages' dependencies into $cache/deps-$key (once per set)"
    rm -rf "$cache/deps-$key.new"
    cp -a "$cache/bookworm" "$cache/deps-$key.new"
    # shellcheck disable=SC2086
    if ! unshare --mount --propagation private bash -c '
        set -e
        root=$1; shift
        mount -t proc proc "$root/proc"
        mount --bind /dev "$root/dev"
        cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
        export DEBIAN_FRONTEND=noninteractive
        chroot "$root" apt-get update -qq
        chroot "$root" apt-get install -y -qq --no-install-recommends "$@"
        chroot "$root" apt-get clean' _ "$cache/deps-$key.new" $deps >"$cache/deps.log" 2>&1; then
      tail -5 "$cache/deps.log" >&2
      rm -rf "$cache/deps-$key.new"
      flock -u 9
      return 1
    fi
    touch "$cache/deps-$key.new/.complete"
    mv "$cache/deps-$key.new" "$cache/deps-$key"
    # Trees of older dependency sets, unused for a week, go.
    find "$cache" -maxdepth 1 -name 'deps-*' -mtime +7 ! -name "deps-$key" -exec rm -rf {} +
  fi
  touch "$cache/deps-$key"
  flock -u 9
}

if [ "${QUORVOD_TEST_ON_HOST:-}" != 1 ] && command -v debootstrap >/dev/null && prepare_trees; then
  lower=$cache/deps-$key
else
  say "NOTE: no Debian 12 tree could be made (no mirror?): installing on this machine itself"
  lower=
fi

work=$(mktemp -d /var/tmp/quorvod-install-test.XXXXXX)
cleanup() {
  local status=$?
  [ -f "$work/pids" ] && while read -r pid; do kill "$pid" 2>/dev/null || true; done <"$work/pids"
  # Whatever still runs inside the tree was started by this run.
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$work/root" ] && kill -KILL "${proc#/proc/}" 2>/dev/null
  done
  if [ $status -eq 0 ] && [ "${QUORVOD_TEST_KEEP:-}" != 1 ]; then rm -rf "$work"; else say "logs kept in $work"; fi
}
trap cleanup EXIT

# A free display for the terminal: no socket and no lock file. Xvfb runs here;
# the tree reaches it through its socket folder.
n=$((100 + RANDOM % 400))
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
echo $! >>"$work/pids"
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$n" ] || fail "Xvfb :$n did not start"

# The rest runs in a mount namespace of its own: the overlay and the bind
# mounts vanish with it, however it ends.
unshare --mount --propagation private bash "$here/install-inner.sh" \
  "$work" "$lower" ":$n" "${debs[@]}"
