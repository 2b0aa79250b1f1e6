#!/bin/sh
# What `make run` starts once the build is done: the live grapher, when a
# display is available.
set -eu
cd "$(dirname "$0")/.."
bin=build/bin
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
