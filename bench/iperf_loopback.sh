#!/bin/sh
# Prints what one TCP stream carries over loopback, in Gbit/s (iperf3, 5 s),
# for the benchmarks to compare their transfers with.
set -eu
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
awk '/sender/ {for (i = 1; i <= NF; i++) if ($i == "Gbits/sec") print $(i - 1)}' "$out" | tail -1
