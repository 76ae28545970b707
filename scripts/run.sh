#!/bin/bash
# Installs what is needed, starts the local Firebird server, builds and starts the program.
# The folder /var/lib/oekaki/data/ is prepared for the databases: the server can write there.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
bash "$ROOT/scripts/firebird-up.sh"
install -d -o firebird -g firebird -m 0775 /var/lib/oekaki/data
# Only the program: the tests and benchmarks are built by the test command.
bash "$ROOT/scripts/build.sh" --target oekaki
exec bash "$ROOT/scripts/start.sh" "$@"
