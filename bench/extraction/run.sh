#!/bin/sh
# One TCP stream over loopback with iperf3, then the extraction of SBOOK
# through the server and directly from sapsim, in the same run.
# Usage: bench/extraction/run.sh [BUILD_DIR] [extraction_bench options]
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
bench="$build/bench/extraction/extraction_bench"
[ -x "$bench" ] || { echo "no $bench: build target extraction_bench first" >&2; exit 1; }
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
awk '/sender/ {for (i = 1; i <= NF; i++) if ($i == "Gbits/sec") printf "iperf3, one TCP stream over loopback: %s Gbit/s = %.0f MB/s\n", $(i - 1), $(i - 1) * 125}' "$out" | tail -1

"$bench" "$@"
