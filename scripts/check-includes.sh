#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The include direction of the lower folders: a file may include headers of
# its own folder and of the folders below it, never of a folder above it.
#
#   platform/   platform/
#   pipeline/   platform/, pipeline/
#   capture/    platform/, pipeline/, capture/
#   graph/      platform/, graph/
#
# Allowed everywhere above platform/: the debug log (shell/debuglog.h) and
# the filter record that every layer passes along (filterset/filterset.h).
# Prints each offending line and exits 1; exits 0 when the tree is clean.
# Usage: scripts/check-includes.sh [SOURCE_DIR]
set -u
cd "${1:-$(dirname "$0")/..}" || exit 2
status=0
check() {
    folder=$1
    allowed=$2
    for f in "$folder"/*.h "$folder"/*.cpp; do
        [ -f "$f" ] || continue
        grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$f" | while IFS= read -r line; do
            header=$(printf '%s\n' "$line" | sed 's/^[^"]*"\([^"]*\)".*/\1/')
            case "$header" in
            */*) ;;
            *) continue ;;  # a header beside the file
            esac
            ok=0
            for a in $allowed; do
                case "$header" in
                "$a"*) ok=1 ;;
                esac
            done
            if [ "$ok" -eq 0 ]; then
                echo "$f:$line: $folder/ may not include $header" >&2
                echo x
            fi
        done
    done
}
found=$(
    check platform "platform/"
    check pipeline "platform/ pipeline/ shell/debuglog.h filterset/filterset.h"
    check capture "platform/ pipeline/ capture/ shell/debuglog.h filterset/filterset.h"
    check graph "platform/ graph/ shell/debuglog.h filterset/filterset.h"
)
[ -n "$found" ] && status=1
exit $status
