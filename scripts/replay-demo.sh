#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Replays a small generated capture with tarvo inside a network namespace of
# its own and counts what a capture on the other end of a veth pair sees.
# Nothing leaves the namespace; it is removed at the end.
#
#   scripts/replay-demo.sh [COUNT]      (root; needs build/bin/tarvo)
#
# The sample: COUNT (default 100) UDP datagrams 10.199.0.1 -> 10.199.0.2:9999,
# 20 ms apart, made with text2pcap.
set -eu
cd "$(dirname "$0")/.."
count=${1:-100}
tarvo=$(pwd)/build/bin/tarvo
[ "$(id -u)" -eq 0 ] || { echo "replay-demo: needs root" >&2; exit 1; }
[ -x "$tarvo" ] || { echo "replay-demo: build tarvo first (make build)" >&2; exit 1; }

ns=lumo_replay_demo_$$
work=$(mktemp -d)
tcpdump_pid=""
cleanup() {
    [ -n "$tcpdump_pid" ] && kill "$tcpdump_pid" 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
    [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# The sample capture: one hex line per datagram, stamped 20 ms apart.
i=0
while [ "$i" -lt "$count" ]; do
    ms=$((i * 20))
    printf '10:00:%02d.%06d\n0000 6c 75 6d 6f 2d 64 65 6d 6f 20 %02x %02x\n\n' \
        $((ms / 1000)) $(((ms % 1000) * 1000)) $((i / 256)) $((i % 256))
    i=$((i + 1))
done > "$work/sample.txt"
text2pcap -q -t "%H:%M:%S.%f" -4 10.199.0.1,10.199.0.2 -u 40000,9999 "$work/sample.txt" "$work/sample.pcap"
in_file=$(capinfos -c -M "$work/sample.pcap" | awk '/Number of packets/ {print $NF}')

ip netns add "$ns"
ip -n "$ns" link add veth0 type veth peer name veth1
ip -n "$ns" link set veth0 up
ip -n "$ns" link set veth1 up
# The kernel attaches a link's queue a moment after it comes up; until then
# it drops what is sent. Wait for both ends to be up with their queue.
n=0
until ip -n "$ns" -o link show veth0 | grep -q 'state UP' && ip -n "$ns" -o link show veth1 | grep -q 'state UP' &&
      ! ip -n "$ns" -o link show | grep -q 'veth.*qdisc noop'; do
    n=$((n + 1))
    [ "$n" -lt 100 ] || { echo "replay-demo: veth pair did not come up" >&2; exit 1; }
    sleep 0.05
done

ip netns exec "$ns" tcpdump -i veth1 --immediate-mode -U -w "$work/seen.pcap" 'udp dst port 9999' 2> "$work/tcpdump.err" &
tcpdump_pid=$!
n=0
until grep -q "listening on" "$work/tcpdump.err" 2>/dev/null; do
    n=$((n + 1))
    [ "$n" -lt 100 ] || { echo "replay-demo: tcpdump did not start" >&2; cat "$work/tcpdump.err" >&2; exit 1; }
    sleep 0.1
done

echo "+ ip netns exec $ns $tarvo $work/sample.pcap veth0 s"
start=$(date +%s.%N)
ip netns exec "$ns" "$tarvo" "$work/sample.pcap" veth0 s | tee "$work/tarvo.out"
end=$(date +%s.%N)
sleep 0.5
kill -INT "$tcpdump_pid"
wait "$tcpdump_pid" 2>/dev/null || true
tcpdump_pid=""

sent=$(sed -n 's/^Sent \([0-9]*\) packets[.,].*$/\1/p' "$work/tarvo.out")
seen=$(capinfos -c -M "$work/seen.pcap" | awk '/Number of packets/ {print $NF}')
span_in=$(capinfos -u -M "$work/sample.pcap" | awk '/Capture duration/ {print $(NF-1)}')
span_seen=$(capinfos -u -M "$work/seen.pcap" | awk '/Capture duration/ {print $(NF-1)}')
echo "records in the sample: $in_file (spanning $span_in s)"
echo "sent by tarvo:         $sent (run took $(echo "$end - $start" | bc) s)"
echo "seen on veth1:         $seen (spanning $span_seen s)"
[ "$sent" = "$in_file" ] && [ "$seen" = "$in_file" ]
