#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Export speed of lumo_offline beside the reference tools, and the memory a
# stored packet costs. Prints ratios (lower is better for lumo_offline):
#
#   export with 0, 1, 4, 16 filters / tshark -q -z io,stat with the same
#   filters on the same file (best of RUNS runs each), in one pass (one
#   lumo_judge) and per filter (one rawshark each; PER_FILTER_RUNS runs);
#   in one pass also with several judges sharing the packets (JUDGES), on
#   a capture of 16 x 16 host pairs
#   export with 0 filters / tcpdump -r FILE -w /dev/null
#   4 filters with a calculation each against the same without
#   peak memory per stored packet for a capture of 10 million packets
#
# Usage: bench/offline_export_bench.sh [BUILD_DIR]   (default build)
# Env: PACKETS (default 200000), BIG_PACKETS (default 10000000), RUNS (3),
# FILTER_COUNTS (default "0 1 4 16"; the 0 case is always run for tcpdump),
# PER_FILTER_COUNTS (default "1 4 16"; one rawshark per filter is slow:
# about 14 minutes with 16 filters on 200000 packets), PER_FILTER_RUNS (1),
# JUDGES (default "1 2": the judge counts of the one-pass runs).
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
bin=$build/bin
packets=${PACKETS:-200000}
big=${BIG_PACKETS:-10000000}
runs=${RUNS:-3}
counts=${FILTER_COUNTS:-0 1 4 16}
per_filter_counts=${PER_FILTER_COUNTS:-1 4 16}
per_filter_runs=${PER_FILTER_RUNS:-1}
judges_list=${JUDGES:-1 2}
for tool in "$bin/lumo_offline" "$bin/capgen"; do
    [ -x "$tool" ] || { echo "offline_export: $tool is not built (make build)" >&2; exit 1; }
done
for tool in tshark tcpdump /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "offline_export: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/lumo_offline_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
export LUMO_HOME="$work/home"
mkdir -p "$LUMO_HOME"

all_filters="tcp
udp
tcp.port == 80
udp.port == 5000
frame.len > 1000
ip.src == 127.0.0.1
tcp.port == 443
udp.port == 5353
frame.len < 200
tcp.flags.push == 1
ip.dst == 127.0.0.2
udp.length > 500
tcp.len > 100
eth.type == 0x0800
ip.ttl == 64
tcp.port == 8080"

# A filter set of the first n filters, and the matching io,stat argument.
make_set() {
    n=$1
    : > "$work/set$n.fs"
    arg=""
    if [ "$n" -gt 0 ]; then
        echo "$all_filters" | head -n "$n" | while IFS= read -r f; do
            printf '"%s",bps,,\r\n' "$f" >> "$work/set$n.fs"
        done
        arg=$(echo "$all_filters" | head -n "$n" | paste -sd, -)
    fi
    echo "$arg"
}

# Best wall time in seconds of RUNS runs of a command.
best_time() {
    best=""
    i=0
    while [ "$i" -lt "$runs" ]; do
        /usr/bin/time -f "%e" -o "$work/time" "$@" >/dev/null 2>&1 || true
        t=$(tail -n 1 "$work/time")
        if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
        i=$((i + 1))
    done
    echo "$best"
}

ratio() { awk "BEGIN{ if ($2 > 0) printf \"%.2f\", $1 / $2; else print \"n/a\" }"; }

file="$work/bench.pcap"
"$bin/capgen" --packets "$packets" --mean-gap-us 200 --big-every 5000 --seed 3 --hosts 16 "$file"
echo "capture: $packets packets, $(wc -c < "$file") bytes"
echo
# One timed run of a command: its wall time in seconds.
one_time() {
    /usr/bin/time -f "%e" -o "$work/time" "$@" >/dev/null 2>&1 || true
    tail -n 1 "$work/time"
}
# The smaller of two times ("" counts as none).
min_time() {
    if [ -z "$1" ] || awk "BEGIN{exit !($2 < $1)}"; then echo "$2"; else echo "$1"; fi
}

# The runs of each filter count alternate between the programs, so that a
# machine that slows down or speeds up during the script touches both.
printf '%-8s %-11s %12s %12s %8s\n' filters mode lumo_offline "tshark" ratio
ours0=""
for n in $counts; do
    arg=$(make_set "$n")
    per_filter=0
    case " $per_filter_counts " in *" $n "*) [ "$n" -gt 0 ] && per_filter=1 ;; esac
    ref="" one="" per="" several=""
    i=0
    while [ "$i" -lt "$runs" ]; do
        if [ -n "$arg" ]; then
            ref=$(min_time "$ref" "$(one_time tshark -n -q -r "$file" -z "io,stat,0.05,,$arg")")
        else
            ref=$(min_time "$ref" "$(one_time tshark -n -q -r "$file" -z "io,stat,0.05")")
        fi
        one=$(min_time "$one" "$(one_time "$bin/lumo_offline" --one-pass --judges 1 --filter-set "$work/set$n.fs" \
            --interval 50000 --export-csv /dev/null "$file")")
        if [ "$n" -gt 0 ]; then
            for j in $judges_list; do
                [ "$j" -gt 1 ] || continue
                t=$(one_time "$bin/lumo_offline" --one-pass --judges "$j" --filter-set "$work/set$n.fs" \
                    --interval 50000 --export-csv /dev/null "$file")
                eval "prev=\${best_$j:-}"
                eval "best_$j=$(min_time "$prev" "$t")"
            done
        fi
        if [ "$per_filter" -eq 1 ] && [ "$i" -lt "$per_filter_runs" ]; then
            per=$(min_time "$per" "$(one_time "$bin/lumo_offline" --per-filter --filter-set "$work/set$n.fs" \
                --interval 50000 --export-csv /dev/null "$file")")
        fi
        i=$((i + 1))
    done
    printf '%-8s %-11s %11ss %11ss %8s\n' "$n" one-pass "$one" "$ref" "$(ratio "$one" "$ref")"
    if [ "$n" -gt 0 ]; then
        for j in $judges_list; do
            [ "$j" -gt 1 ] || continue
            eval "t=\$best_$j"
            printf '%-8s %-11s %11ss %11ss %8s   (%s / one judge)\n' "$n" "$j judges" "$t" "$ref" "$(ratio "$t" "$ref")" \
                "$(ratio "$t" "$one")"
            eval "best_$j="
        done
    fi
    [ "$per_filter" -eq 1 ] && printf '%-8s %-11s %11ss %11ss %8s\n' "$n" per-filter "$per" "$ref" "$(ratio "$per" "$ref")"
    [ "$n" -eq 0 ] && ours0=$one
done
if [ -z "$ours0" ]; then
    make_set 0 >/dev/null
    ours0=$(best_time "$bin/lumo_offline" --filter-set "$work/set0.fs" --interval 50000 --export-csv /dev/null "$file")
fi
dump=$(best_time tcpdump -r "$file" -w /dev/null)
echo
echo "0 filters beside tcpdump -r FILE -w /dev/null: ${ours0}s / ${dump}s = $(ratio "$ours0" "$dump")"

# Calculations: 4 filters each with a sum of a field against the same 4
# filters without (goal: at most 1.3x).
printf '"tcp",sum(tcp.len),,\r\n"udp",max(udp.length),,\r\n"tcp.port == 80",avg(tcp.window_size),,\r\n"frame.len > 1000",count(ip.len),,\r\n' > "$work/calc.fs"
printf '"tcp",bps,,\r\n"udp",bps,,\r\n"tcp.port == 80",bps,,\r\n"frame.len > 1000",bps,,\r\n' > "$work/plain.fs"
plain="" calc=""
i=0
while [ "$i" -lt "$runs" ]; do
    plain=$(min_time "$plain" "$(one_time "$bin/lumo_offline" --one-pass --filter-set "$work/plain.fs" \
        --interval 50000 --export-csv /dev/null "$file")")
    calc=$(min_time "$calc" "$(one_time "$bin/lumo_offline" --one-pass --filter-set "$work/calc.fs" \
        --interval 50000 --export-csv /dev/null "$file")")
    i=$((i + 1))
done
echo
echo "4 filters with calculations / without: ${calc}s / ${plain}s = $(ratio "$calc" "$plain") (goal <= 1.3)"

# Memory: the peak resident size of an export of BIG_PACKETS small packets,
# less that of a one-packet file, per packet. Read per filter with no
# filter, so no judging process runs: the size is lumo_offline's own (a
# waited-for lumo_judge would count with it).
small="$work/small.pcap"
"$bin/capgen" --small --packets 1 "$small"
"$bin/capgen" --small --packets "$big" --mean-gap-us 10 "$work/big.pcap"
rss() {
    /usr/bin/time -f "%M" -o "$work/rss" "$@" >/dev/null 2>&1 || true
    tail -n 1 "$work/rss"
}
base=$(rss "$bin/lumo_offline" --per-filter --filter-set "$work/set0.fs" --interval 1000000 --export-csv /dev/null "$small")
peak=$(rss "$bin/lumo_offline" --per-filter --filter-set "$work/set0.fs" --interval 1000000 --export-csv /dev/null "$work/big.pcap")
echo
awk "BEGIN{ printf \"peak memory for %d packets: %d KiB (base %d KiB): %.2f bytes per stored packet (item 16 bytes: ratio %.2f)\n\", $big, $peak, $base, ($peak - $base) * 1024 / $big, ($peak - $base) * 1024 / $big / 16 }"
