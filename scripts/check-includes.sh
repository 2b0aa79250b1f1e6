#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The include rules of the product folders, the table of README.md ("How it
# fits together"): a file may include headers of its own folder and of the
# folders its rule names, nothing else.
#
#   platform/    nothing else
#   pipeline/    platform/
#   capture/     platform/, pipeline/
#   graph/       platform/ (it is handed its rows and knows nothing of where
#                they come from)
#   filterset/   platform/, pipeline/ (the filter check's child process),
#                capture/ (the interfaces and the capture filter check)
#   shell/       platform/, pipeline/, capture/, graph/, filterset/
#   offline/     the same and shell/ (the settings, the main window and the
#                graph window both graphers share)
#   replay/      platform/, pipeline/ (the child process), capture/ (the
#                interfaces)
#   tools/NAME/  each tool only its own folder; tools/dravik/ and
#                tools/judge/ also tools/engine/, the engine start-up they
#                share. The tools are programs of their own: they include
#                nothing of the other folders, not even the two exceptions
#                below, except that tools/judge/ includes
#                pipeline/judgesplit.h: a judge of several places a packet
#                by the very rule the manager places it by.
#
# The exceptions, allowed in every folder from pipeline/ to replay/:
#   shell/debuglog.h       the debug log: every layer writes its trace there,
#                          and the program switches it on from its settings
#   filterset/filterset.h  the filter record every layer passes along
#
# Every folder that holds sources, tests/ and bench/ aside, must have a rule.
# Prints each offending line and exits 1; exits 0 when the tree is clean.
# Usage: scripts/check-includes.sh [SOURCE_DIR]
set -u
cd "${1:-$(dirname "$0")/..}" || exit 2

exceptions="shell/debuglog.h filterset/filterset.h"
lower="platform/ pipeline/ capture/ graph/ filterset/"
ruled=""

# check FOLDER ALLOWED: every quoted include with a folder in it names
# FOLDER/ or starts with one of ALLOWED. Prints one x per offence.
check() {
    folder=$1
    allowed="$folder/ $2"
    ruled="$ruled $folder"
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

graph_allowed="platform/"
found=$(
    check platform ""
    check pipeline "platform/ $exceptions"
    check capture "platform/ pipeline/ $exceptions"
    check graph "$graph_allowed $exceptions"
    check filterset "platform/ pipeline/ capture/ $exceptions"
    check shell "$lower $exceptions"
    check offline "$lower shell/ $exceptions"
    check replay "platform/ pipeline/ capture/ $exceptions"
    check tools/capgen ""
    check tools/dravik "tools/engine/"
    check tools/engine ""
    check tools/judge "tools/engine/ pipeline/judgesplit.h"
    check tools/tarvo ""

    # A folder with sources and no rule above is a folder the check misses.
    find . -path ./tests -prune -o -path ./bench -prune -o -path './build*' -prune -o -path './.*' -prune -o \
        -type f \( -name '*.h' -o -name '*.cpp' \) -print | sed 's|^\./||; s|/[^/]*$||' | sort -u |
        while IFS= read -r dir; do
            case " $ruled " in
            *" $dir "*) ;;
            *)
                echo "$dir/: no include rule for this folder" >&2
                echo x
                ;;
            esac
        done
)
[ -n "$found" ] && exit 1
exit 0
