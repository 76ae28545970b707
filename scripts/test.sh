#!/bin/bash
# Installs what is needed, starts the local Firebird server, builds, and runs every test.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
bash "$ROOT/scripts/firebird-up.sh"
bash "$ROOT/scripts/build.sh"
cd "${BUILD_DIR:-$ROOT/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2 "$@"
