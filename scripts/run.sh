#!/bin/sh
# What `make run` starts once the build is done.
set -eu
cd "$(dirname "$0")/.."
bin=build/bin

# Without a display: draw the bundled sample capture (made by capgen) with
# the sample filter set into a PNG through lumo_offline's export.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/lumo_offline" ]; then
    out=build/sample
    mkdir -p "$out"
    "$bin/capgen" --sample "$out/sample.pcap"
    "$bin/lumo_offline" --filter-set resources/samples/sample.fs \
        --export-png "$out/sample.png" --export-csv "$out/sample.csv" "$out/sample.pcap"
    echo "No display: the sample capture $out/sample.pcap is drawn in $(pwd)/$out/sample.png"
    echo "(counts per 50 ms interval in $(pwd)/$out/sample.csv)."
    exit 0
fi

if [ -x "$bin/lumo" ]; then
    exec "$bin/lumo"
fi
echo "lumo: the core library and tools are built in $bin; the programs come in later changes."
