#!/bin/sh
# One TCP stream over loopback with iperf3, then the extraction of SBOOK
# through the server and directly from sapsim, in the same run.
# Usage: bench/extraction/run.sh [BUILD_DIR] [extraction_bench options]
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
bench="$build/bench/extraction/extraction_bench"
[ -x "$bench" ] || { echo "no $bench: build target extraction_bench first" >&2; exit 1; }
gbit=$("$(dirname "$0")/../iperf_loopback.sh")
awk -v g="$gbit" 'BEGIN { printf "iperf3, one TCP stream over loopback: %s Gbit/s = %.0f MB/s\n", g, g * 125 }'

"$bench" "$@"
