#!/bin/sh
# Measures rfclib against sapsim over loopback and one TCP stream with iperf3
# in the same run, and prints the ratio. Usage: bench/sapsim/run.sh [BUILD_DIR]
set -eu
build=${1:-build}
bench="$build/bench/sapsim/sapsim_bench"
[ -x "$bench" ] || { echo "no $bench: build target sapsim_bench first" >&2; exit 1; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT
iperf_gbit=$("$(dirname "$0")/../iperf_loopback.sh")
echo "iperf3, one TCP stream over loopback: $iperf_gbit Gbit/s"

"$bench" | tee "$out"
rfc_gbyte=$(awk '/^throughput:/ {for (i = 1; i <= NF; i++) if ($i == "median") print $(i + 1)}' "$out")
awk -v r="$rfc_gbyte" -v g="$iperf_gbit" 'BEGIN {
    tcp = g / 8
    printf "iperf3: %.2f GB/s; rfclib table transfer: %.2f GB/s = %.0f%% of one TCP stream\n", tcp, r, 100 * r / tcp
}'
