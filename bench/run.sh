#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs every benchmark of the normal build and the benchmark scripts; each
# prints its own figures as ratios against a reference measured in the same
# run. Benchmarks that need root (live capture) say so and skip when not root.
# Not part of the test suite: these machines are shared and timings are noisy.
set -u
cd "$(dirname "$0")/.."
status=0
for b in build/bench/*_bench; do
    [ -x "$b" ] || continue
    echo "==== $b"
    "$b" || status=1
done
for s in bench/*_bench.sh; do
    [ -f "$s" ] || continue
    echo "==== $s"
    sh "$s" || status=1
done
exit $status
