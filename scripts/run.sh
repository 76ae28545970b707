#!/bin/bash
# Installs what is needed, starts the local Firebird server, builds and starts the program.
# The folder /var/lib/oekaki/data/ is prepared for the databases: the server can write there.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
bash "$ROOT/scripts/firebird-up.sh"
install -d -o firebird -g firebird -m 0775 /var/lib/oekaki/data
bash "$ROOT/scripts/build.sh"
EXE="${BUILD_DIR:-$ROOT/build}/oekaki"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display found: starting the program on a virtual screen (Xvfb)." >&2
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$EXE"
fi
exec "$EXE"
