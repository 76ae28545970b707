#!/bin/bash
# Brings up the local Firebird server on 127.0.0.1:3050 with the program's fixed
# administrator password. Safe to run any number of times.
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
PASSWORD=plumstone
SECDB=/var/lib/firebird/3.0/system/security3.fdb
CONF=/etc/firebird/3.0/firebird.conf
# The server's events (a painting window learns at once that another PC stored a
# stroke) go over a second connection that the PC makes to a port the server opens for
# it. A fixed port queues those connections: one PC whose connection never arrives
# (a firewall drops it) holds every other PC's events for ConnectionTimeout each time.
# Port 0 gives each its own port, so a dead one delays nobody (bench_event_port).
AUX_PORT=${OEKAKI_AUX_PORT:-0}
# How long the server waits for that connection (default 180 s).
CONNECTION_TIMEOUT=${OEKAKI_CONNECTION_TIMEOUT:-}
# Where the service keeps it too, so that either can stop what the other started.
PIDFILE=/run/firebird3.0/firebird.pid

# One bring-up at a time: two at once race for the port and both fail. (The server
# must not inherit the lock, or it would hold it for as long as it runs.)
mkdir -p /run/lock
exec 9>/run/lock/oekaki-firebird-up.lock
flock 9

bash "$HERE/install-packages.sh"

listening() { (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; }

login_works() {
  timeout 20 fbsvcmgr localhost:service_mgr user SYSDBA password "$PASSWORD" info_server_version >/dev/null 2>&1
}

stop_server() {
  bash "$HERE/firebird-down.sh" || true
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
    runuser -u firebird -- /usr/sbin/fbguard -daemon -forever -pidfile "$PIDFILE" 9>&-
  else
    su -s /bin/sh firebird -c "/usr/sbin/fbguard -daemon -forever -pidfile $PIDFILE" 9>&-
  fi
}

aux_port_set() {
  grep -qx "RemoteAuxPort = $AUX_PORT" "$CONF" || return 1
  if [ -n "$CONNECTION_TIMEOUT" ]; then
    grep -qx "ConnectionTimeout = $CONNECTION_TIMEOUT" "$CONF"
  else
    ! grep -q '^[[:space:]]*ConnectionTimeout[[:space:]]*=' "$CONF"
  fi
}

if listening && login_works && aux_port_set; then
  echo "firebird: already running on 127.0.0.1:3050"
  exit 0
fi

stop_server
if ! aux_port_set; then
  sed -i '/^[[:space:]]*RemoteAuxPort[[:space:]]*=/d; /^[[:space:]]*ConnectionTimeout[[:space:]]*=/d' "$CONF"
  echo "RemoteAuxPort = $AUX_PORT" >> "$CONF"
  if [ -n "$CONNECTION_TIMEOUT" ]; then
    echo "ConnectionTimeout = $CONNECTION_TIMEOUT" >> "$CONF"
  fi
fi
set_password

# The guardian gives up when the server fails to start (a port still held by a server
# that is going down, say): try again a few times before saying so.
for attempt in 1 2 3; do
  start_server || echo "firebird: start $attempt did not come up" >&2
  for _ in $(seq 100); do
    if listening && login_works; then
      echo "firebird: running on 127.0.0.1:3050"
      exit 0
    fi
    sleep 0.2
  done
  stop_server
  sleep 2
done
echo "firebird: the server did not answer on 127.0.0.1:3050" >&2
exit 1
