#!/bin/bash
# Brings up the local Firebird server on 127.0.0.1:3050 with the program's fixed
# administrator password. Safe to run any number of times.
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
PASSWORD=plumstone
SECDB=/var/lib/firebird/3.0/system/security3.fdb
# Where the service keeps it too, so that either can stop what the other started.
PIDFILE=/run/firebird3.0/firebird.pid

bash "$HERE/install-packages.sh"

listening() { (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; }

login_works() {
  timeout 20 fbsvcmgr localhost:service_mgr user SYSDBA password "$PASSWORD" info_server_version >/dev/null 2>&1
}

stop_server() {
  bash "$HERE/firebird-down.sh"
}

set_password() {
  # The server is down here, so the security database is opened embedded.
  printf "CREATE OR ALTER USER SYSDBA PASSWORD '%s' USING PLUGIN Srp;\nCOMMIT;\n" "$PASSWORD" |
    isql-fb -q -user SYSDBA "$SECDB"
  chown -R firebird:firebird /var/lib/firebird/3.0 /tmp/firebird 2>/dev/null || true
  sed -i "s/^ISC_PASSWORD=.*/ISC_PASSWORD=\"$PASSWORD\"/" /etc/firebird/3.0/SYSDBA.password 2>/dev/null || true
}

start_server() {
  mkdir -p /run/firebird3.0 /tmp/firebird
  chown firebird:firebird /run/firebird3.0 /tmp/firebird
  chmod 0770 /tmp/firebird
  if command -v runuser >/dev/null; then
    runuser -u firebird -- /usr/sbin/fbguard -daemon -forever -pidfile "$PIDFILE"
  else
    su -s /bin/sh firebird -c "/usr/sbin/fbguard -daemon -forever -pidfile $PIDFILE"
  fi
}

if listening && login_works; then
  echo "firebird: already running on 127.0.0.1:3050"
  exit 0
fi

stop_server
set_password
start_server

for _ in $(seq 150); do
  if listening && login_works; then
    echo "firebird: running on 127.0.0.1:3050"
    exit 0
  fi
  sleep 0.2
done
echo "firebird: the server did not answer on 127.0.0.1:3050" >&2
exit 1
