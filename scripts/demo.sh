#!/usr/bin/env bash
# The main job on a fresh machine: installs what the build needs, builds the
# server and runs it in the console (debug level 1) on the port given as the
# first argument (default 6999) until Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/.."

port="${1:-6999}"

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vurude_server

echo "== vurude_server on port $port (Ctrl+C stops it)"
exec build/server/host/vurude_server -d 1 -p "$port"
