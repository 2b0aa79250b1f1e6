#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs every Debian package of scripts/debian-packages.txt that is not
# installed yet: apt-get update, then one non-interactive apt-get install,
# as root or through sudo. Does nothing when everything is there.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
list=$(grep -v '^#' "$here/debian-packages.txt" | grep -v '^[[:space:]]*$')

missing=""
for p in $list; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

echo "install-deps: installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
    sudo=""
elif command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
else
    echo "install-deps: need root or sudo to install:$missing" >&2
    exit 1
fi
# wireshark-common asks whether non-root users may capture; keep its default.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing
