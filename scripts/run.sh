#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# What `make run` starts once the build is done: the live grapher, when a
# display is available; without one, the bundled sample capture drawn into a
# PNG by lumo_offline's export.
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
    echo "run: no display, so lumo_offline drew the sample capture $out/sample.pcap"
    echo "     into $(pwd)/$out/sample.png (counts per 50 ms in $(pwd)/$out/sample.csv)."
    exit 0
fi

if [ ! -x "$bin/lumo" ]; then
    echo "run: $bin/lumo is not built yet; everything else is built in $bin."
    exit 0
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no display (\$DISPLAY and \$WAYLAND_DISPLAY are unset); lumo is built in $bin." >&2
    exit 1
fi
# Capturing needs root or two capabilities on the program (see README).
if [ "$(id -u)" -ne 0 ] && ! { command -v getcap >/dev/null 2>&1 &&
        getcap "$bin/lumo" | grep -q cap_net_raw; }; then
    echo "run: lumo may not capture: run as root or grant it capabilities:" >&2
    echo "     sudo setcap cap_net_raw,cap_net_admin+eip $bin/lumo" >&2
fi
exec "$bin/lumo"
