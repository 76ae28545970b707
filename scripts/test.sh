#!/bin/bash
# Installs what is needed, starts the local Firebird server, builds, and runs every test.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
bash "$ROOT/scripts/firebird-up.sh"
bash "$ROOT/scripts/build.sh"
# The end of the program inside hanging connects, and connections dropped while their
# event waits are armed, run once more under AddressSanitizer: a second build of only
# what those suites need, in build-asan/ (ctest runs them as asan_exit_during_connect
# and asan_event_drops, and skips them where that build is missing).
ASAN_DIR="${ASAN_BUILD_DIR:-$ROOT/build-asan}"
cmake -S "$ROOT" -B "$ASAN_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="-fsanitize=address -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address" >/dev/null
cmake --build "$ASAN_DIR" -j "$(nproc)" --target test_app_db test_db_db oekaki_paint_instance
cd "${BUILD_DIR:-$ROOT/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2 "$@"
