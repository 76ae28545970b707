#!/bin/bash
# Builds the Debian package build/oekaki_<version>_<arch>.deb (install it with
# apt install ./build/oekaki_*.deb).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
bash "$ROOT/scripts/install-packages.sh"
cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target oekaki oekaki_package_files
cd "$BUILD_DIR"
cpack -G DEB
ls -1 "$BUILD_DIR"/oekaki_*.deb
