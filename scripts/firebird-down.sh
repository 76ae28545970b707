#!/bin/bash
# Stops the local Firebird server on 127.0.0.1:3050 that firebird-up.sh (or the
# firebird3.0 service) started: the process in its PID file, else the one listening
# on the port, with its guardian. Never by process name. Safe when nothing runs.
set -uo pipefail
PIDFILE=/run/firebird3.0/firebird.pid
SERVER=/usr/sbin/firebird
GUARD=/usr/sbin/fbguard

is() { [[ -n "$1" && "$(readlink "/proc/$1/exe" 2>/dev/null)" == "$2" ]]; }

server=""
[[ -r "$PIDFILE" ]] && server="$(tr -dc 0-9 <"$PIDFILE")"
if ! is "$server" "$SERVER"; then
  server="$(ss -ltnpH 'sport = :3050' 2>/dev/null | grep -o 'pid=[0-9]*' | head -n1 | cut -d= -f2)"
fi
if ! is "$server" "$SERVER"; then
  rm -f "$PIDFILE"
  exit 0
fi
guard="$(awk '{print $4}' "/proc/$server/stat" 2>/dev/null)"
is "$guard" "$GUARD" || guard=""

# The guardian first, or it starts the server again.
[[ -n "$guard" ]] && kill -TERM "$guard" 2>/dev/null
kill -TERM "$server" 2>/dev/null
for _ in $(seq 100); do
  is "$server" "$SERVER" || { rm -f "$PIDFILE"; exit 0; }
  sleep 0.2
done
[[ -n "$guard" ]] && is "$guard" "$GUARD" && kill -KILL "$guard" 2>/dev/null
is "$server" "$SERVER" && kill -KILL "$server" 2>/dev/null
for _ in $(seq 25); do
  is "$server" "$SERVER" || { rm -f "$PIDFILE"; exit 0; }
  sleep 0.2
done
echo "firebird: server $server did not stop" >&2
exit 1
