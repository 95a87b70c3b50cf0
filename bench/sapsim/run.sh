#!/bin/sh
# Measures rfclib against sapsim over loopback and one TCP stream with iperf3
# in the same run, and prints the ratio. Usage: bench/sapsim/run.sh [BUILD_DIR]
set -eu
build=${1:-build}
bench="$build/bench/sapsim/sapsim_bench"
[ -x "$bench" ] || { echo "no $bench: build target sapsim_bench first" >&2; exit 1; }
command -v iperf3 >/dev/null || { echo "iperf3 is not installed" >&2; exit 1; }

out=$(mktemp)
trap 'rm -f "$out"' EXIT
iperf3 -s -1 -p 5201 >/dev/null 2>&1 &
server=$!
# The server needs a moment to listen: retry the client until it connects.
tries=0
until iperf3 -c 127.0.0.1 -p 5201 -t 5 -f g >"$out" 2>&1; do
    tries=$((tries + 1))
    [ $tries -lt 50 ] || { cat "$out" >&2; kill $server 2>/dev/null; exit 1; }
done
wait $server 2>/dev/null || true
iperf_gbit=$(awk '/sender/ {for (i = 1; i <= NF; i++) if ($i == "Gbits/sec") print $(i - 1)}' "$out" | tail -1)
echo "iperf3, one TCP stream over loopback: $iperf_gbit Gbit/s"

"$bench" | tee "$out"
rfc_gbyte=$(awk '/^throughput:/ {for (i = 1; i <= NF; i++) if ($i == "median") print $(i + 1)}' "$out")
awk -v r="$rfc_gbyte" -v g="$iperf_gbit" 'BEGIN {
    tcp = g / 8
    printf "iperf3: %.2f GB/s; rfclib table transfer: %.2f GB/s = %.0f%% of one TCP stream\n", tcp, r, 100 * r / tcp
}'
