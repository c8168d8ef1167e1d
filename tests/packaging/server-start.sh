#!/usr/bin/env bash
# server-start.sh PACKAGING_SERVER_DIR
# The service's start script turns server.conf into the server's options: the
# packaged file as it stands, files edited by hand (blanks, CRLF, quotes,
# values holding = and blanks, no newline at the end), and the files it must
# refuse with exit 78 and a message naming the line.
set -euo pipefail
dir=$1
start=$dir/quorvod-server-start
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

# The server's stand-in prints each argument it gets on a line of its own.
cat >"$work/server" <<'EOF'
#!/bin/sh
for a in "$@"; do printf '%s\n' "$a"; done
EOF
chmod +x "$work/server"
touch "$work/catalogue.db"

run() {  # conf-text -> prints the arguments, or the message; sets rc
  printf '%b' "$1" >"$work/server.conf"
  rc=0
  out=$(QUORVOD_SERVER=$work/server sh "$start" "$work/server.conf" "${@:2}" 2>&1) || rc=$?
}
expect() {  # name expected-rc expected-output
  if [ "$rc" != "$2" ] || [ "$out" != "$3" ]; then
    printf 'FAILED %s: exit %s, output:\n%s\nexpected exit %s, output:\n%s\n' "$1" "$rc" "$out" "$2" "$3"
    failures=$((failures + 1))
  else
    echo "ok: $1"
    passes=$((passes + 1))
  fi
}

# The packaged file: the catalogue under /var/lib/quorvod, every other
# setting left to the server's default.
run "$(sed "s|/var/lib/quorvod/catalogue.db|$work/catalogue.db|" "$dir/server.conf")"
expect "packaged server.conf" 0 "--db=$work/catalogue.db"

run "# settings\r\n  db =  $work/catalogue.db  \r\n\r\n; off:\r\nconsole =\r\nbind=127.0.0.5\r\n"
expect "blanks and CRLF" 0 "--db=$work/catalogue.db
--bind=127.0.0.5"

run 'mariadb = "mariadb://ktv:a b=c@db1/ktv?socket=/run/mysqld/mysqld.sock"\nconsole = 0.0.0.0:8211'
expect "quotes, = and blanks in a value, no newline at the end" 0 \
  "--mariadb=mariadb://ktv:a b=c@db1/ktv?socket=/run/mysqld/mysqld.sock
--console=0.0.0.0:8211"

run "db = $work/catalogue.db\n" --port 0
expect "the command line's options after the file's" 0 "--db=$work/catalogue.db
--port
0"

run 'db = /nowhere/catalogue.db\n'
expect "missing catalogue" 78 "quorvod-server-start: there is no catalogue /nowhere/catalogue.db yet: make it with quorvod-import (or quorvod-make-demo for a demo), then run: systemctl restart quorvod-server"

run 'bind 127.0.0.1\n'
expect "line without =" 78 "quorvod-server-start: $work/server.conf:1: not a setting (name = value): bind 127.0.0.1"

run '\n\nDb = x\n'
expect "name out of letters, digits and -" 78 "quorvod-server-start: $work/server.conf:3: \"Db\" is not a setting name (letters, digits and -)"

run '$(touch '"$work"'/owned) = 1\n'
expect "no shell expansion of names" 78 "quorvod-server-start: $work/server.conf:1: \"\$(touch $work/owned)\" is not a setting name (letters, digits and -)"
[ ! -e "$work/owned" ] || { echo "FAILED: a name was run as a command"; failures=$((failures + 1)); }

run 'log = $(touch '"$work"'/owned)`touch '"$work"'/owned`\n'
expect "no shell expansion of values" 0 "--log=\$(touch $work/owned)\`touch $work/owned\`"
[ ! -e "$work/owned" ] || { echo "FAILED: a value was run as a command"; failures=$((failures + 1)); }

rc=0
out=$(QUORVOD_SERVER=$work/server sh "$start" "$work/none.conf" 2>&1) || rc=$?
expect "unreadable settings file" 78 "quorvod-server-start: cannot read the settings file $work/none.conf"

echo "$passes passed, $failures failed"
[ $failures -eq 0 ]
