#!/usr/bin/env bash
# The main job on a fresh machine: installs what the build needs, builds,
# starts the simulated SAP system and the server (main port given as the
# first argument, default 6999), logs on through the server with the
# reference client, and keeps both running until Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/.."

port="${1:-6999}"
data="demo-data"

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vurude_server sapsim vokcli

pids=()
stop () { kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; }
trap stop EXIT
trap 'exit 130' INT TERM

mkdir -p "$data"
echo "== sapsim (data in $data/; the first start creates the sample tables)"
coproc SAPSIM { exec build/sapsim/sapsim --data "$data" --port 0 2>"$data/sapsim.log"; }
pids+=("$SAPSIM_PID")
read -r ready <&"${SAPSIM[0]}"
gwserv="${ready##* }"
echo "   $ready"

echo "== vurude_server on port $port (log in $data/vurude_server.log)"
build/server/host/vurude_server -d 1 -p "$port" 2>"$data/vurude_server.log" &
pids+=("$!")
for _ in $(seq 100); do
  grep -q "Listening on port $port" "$data/vurude_server.log" && break
  kill -0 "${pids[1]}" 2>/dev/null || { cat "$data/vurude_server.log"; exit 1; }
  sleep 0.1
done

echo "== vokcli connect: log on as DEMO in client 100 through the server"
DEMO_PASSWORD=demo build/client/vokcli/vokcli connect --port "$port" --verbose \
  --gwhost 127.0.0.1 --gwserv "$gwserv" --client 100 --user DEMO --password-env DEMO_PASSWORD --encrypt

echo "== running; connect your client to port $port (Ctrl+C stops)"
wait
