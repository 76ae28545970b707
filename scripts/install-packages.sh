#!/bin/bash
# Installs every Debian package the program, its tests and benchmarks need.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
PKGS=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n zlib1g-dev libwebp-dev
  firebird-dev libfbclient2 firebird3.0-server firebird3.0-utils
  fonts-ipafont-gothic
  libgtest-dev googletest
  xvfb imagemagick xauth
  clang libclang-rt-14-dev
  procps iproute2 iptables
  dpkg-dev lintian desktop-file-utils qt6-qpa-plugins xdotool
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
