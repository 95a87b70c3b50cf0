#!/usr/bin/env bash
# The main job on a fresh machine: installs what the build needs, builds,
# starts the simulated SAP system with its sample data and the server (main
# port given as the first argument, default 6999), logs on through the
# server with the reference client, runs a join and an aggregate, prints
# their rows and stops both.
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
build/server/host/vurude_server -d 3 -p "$port" 2>"$data/vurude_server.log" &
pids+=("$!")
listening=no
for _ in $(seq 300); do
  grep -q "Listening on port $port" "$data/vurude_server.log" && { listening=yes; break; }
  kill -0 "${pids[1]}" 2>/dev/null || break
  sleep 0.1
done
[ "$listening" = yes ] || { echo "vurude_server did not start:" >&2; cat "$data/vurude_server.log" >&2; exit 1; }

export DEMO_PASSWORD=demo
logon=(--port "$port" --gwhost 127.0.0.1 --gwserv "$gwserv" --client 100 --user DEMO
       --password-env DEMO_PASSWORD --encrypt)

echo "== vokcli connect: log on as DEMO in client 100 through the server"
build/client/vokcli/vokcli connect "${logon[@]}" --verbose

echo "== a join: Lufthansa flights of January 2026 with the airline's name"
build/client/vokcli/vokcli select "${logon[@]}" --format table \
  --table SFLIGHT:F --table SCARR:C:inner --on "F~CARRID = C~CARRID" \
  --field F~CARRID --field C~CARRNAME --field F~CONNID --field F~FLDATE --field F~PRICE --field F~CURRENCY \
  --where "F~CARRID EQ 'LH' AND F~FLDATE BETWEEN '20260101' AND '20260131'" --order-by "F~FLDATE F~CONNID"

echo "== an aggregate: bookings and revenue per airline over the whole booking table"
build/client/vokcli/vokcli select "${logon[@]}" --format table \
  --table SBOOK --field CARRID --field "count(BOOKID) as BOOKINGS" --field "sum(LOCCURAM) as REVENUE" \
  --group-by CARRID --order-by CARRID

echo "== done; sapsim and the server stop now (logs in $data/)"
