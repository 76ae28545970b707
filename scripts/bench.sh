#!/bin/bash
# Runs every benchmark against the local server and prints one table of their figures.
# bash scripts/bench.sh [--quick]
# The slow-network figures go through a delay relay on the loopback address; the full run
# takes about a quarter of an hour on a busy 2-core machine, --quick a few minutes.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
bash "$ROOT/scripts/firebird-up.sh" >/dev/null
bash "$ROOT/scripts/build.sh" >/dev/null
LOG="$(mktemp)"
trap 'rm -f "$LOG"' EXIT
status=0
for b in "$BUILD_DIR"/bench/bench_*; do
  [[ -f "$b" && -x "$b" ]] || continue
  echo "== $(basename "$b")"
  QT_QPA_PLATFORM=offscreen "$b" "$@" | tee -a "$LOG" | grep -v '^TABLE|' || status=1
done
echo
echo "| Measure | Result | Target |"
echo "|---|---|---|"
grep '^TABLE|' "$LOG" | sed 's/^TABLE|/| /; s/|/ | /g; s/$/ |/' | sed 's/  */ /g'
exit $status
