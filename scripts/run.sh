#!/bin/sh
# What `make run` starts once the build is done.
set -eu
cd "$(dirname "$0")/.."
bin=build/bin
if [ -x "$bin/lumo" ]; then
    exec "$bin/lumo"
fi
echo "lumo: the core library and tools are built in $bin; the programs come in later changes."
