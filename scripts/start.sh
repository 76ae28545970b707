#!/bin/bash
# Starts the built program (arguments passed on), on a virtual screen (Xvfb) when there
# is no display.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
EXE="${BUILD_DIR:-$ROOT/build}/oekaki"
if [[ ! -x "$EXE" ]]; then
  echo "The program is not built: $EXE is missing (bash scripts/build.sh)." >&2
  exit 1
fi
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display found: starting the program on a virtual screen (Xvfb)." >&2
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$EXE" "$@"
fi
exec "$EXE" "$@"
