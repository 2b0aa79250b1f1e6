// SPDX-License-Identifier: GPL-2.0-or-later
// packetring.h - the live packet ring and the per-filter sample counters.
//
// The capture thread stores every packet (header, arrival stamp, bin) in the
// process-wide PacketRing; a SampleCounter is a cursor over that ring with
// two power-of-two rings of per-bin values (matched packets, matched wire
// bytes). A packet's bin comes from its capture time since packet 0; the
// graph's "now" bin from the performance counter since packet 0 was stored;
// both are divided by the same sampling interval.
//
// No locks. Writers: the capture thread stores packets and advances the
// TotalCounter and the counters of empty filters; each rawshark reader thread
// advances only its own counter. The graph reads counters while they change;
// every field another thread reads is atomic (relaxed unless said), so a read
// may meet a bin mid-update and the next frame shows it whole.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/calc.h"
#include "pipeline/record.h"

constexpr uint64_t kPacketRingSlots = 0x40000;  // 262144 slots, packet k in slot k & 0x3FFFF

// One bin of a calculation: the sums of a field's occurrences (doubles, so
// each word is atomic; time in nanoseconds).
struct CalcAtom {
    std::atomic<uint64_t> count;
    std::atomic<double> sum;
    std::atomic<double> min;
    std::atomic<double> max;
};

struct SampleCounter {
    std::atomic<uint64_t> cursor;          // ring number of the next packet to consume
    std::atomic<uint64_t> matchedPackets;  // matched packets so far
    std::atomic<uint64_t> matchedBytes;    // sum of orig_len of matched packets
    uint32_t lastTsSec, lastTsUsec;        // timestamp of the last consumed packet (writer only)
    int64_t lastArrival;                   // its arrival stamp (writer only)
    std::atomic<int64_t> lastBin;          // its bin
    std::atomic<uint32_t>* packets;        // size values, bin b at b & (size - 1)
    std::atomic<uint64_t>* bytes;          // size values, same indexing
    uint32_t size;                         // bins per ring, a power of two
    CalcAtom* calc;                        // a filter with a calculation: size bins, else null
};

// ---------------------------------------------------------------- ring
// Capture thread (store) and UI thread while no packet flows (reset, interval).

// Stores the packet (bin from its capture time, arrival from PerfCounter) and
// advances TotalCounter with matched true. The bytes are not kept. Call
// before the packet is written to any rawshark process.
void PacketRingStore(const PacketRecordHeader* header, const uint8_t* data);

// Empties the ring (the next packet is packet 0 of bin 0) and restarts
// TotalCounter (cursor 0, every bin 0; rings stay allocated).
void PacketRingReset();

// Sets the sampling interval in microseconds for later bins.
void PacketRingSetInterval(int64_t interval);

// Writes the arrival stamp of packet 0 into first; returns 1 when a packet
// is stored, else 0. UI thread, once per frame.
int PacketRingFirstStamp(int64_t* first);

// Writes the capture time of packet 0 (microseconds since 1970 UTC, from
// its record header) into epochMicros; returns 1 when a packet is stored,
// else 0. UI thread.
int PacketRingFirstTime(int64_t* epochMicros);

// The bin that the PerfCounter reading `now` falls in: its time since packet
// 0 was stored, divided by the interval (0 before any packet or without an
// interval). Element 0 of every counter read at `now` is this bin. Any thread.
int64_t PacketRingBinAt(int64_t now);

// Packets stored since the last reset.
uint64_t PacketRingCount();

// ---------------------------------------------------------------- counters

// Zeroes the cursor and sums and allocates both rings of size bins (a power
// of two), zero-filled. Returns 1, or 0 with both rings null.
int SampleCounterInit(SampleCounter* counter, uint32_t size);

// Frees every ring if present and nulls them.
void SampleCounterFree(SampleCounter* counter);

// Adds the calculation's ring (size bins of empty sums) to an initialised
// counter. Returns 1, or 0 when it cannot be allocated.
int SampleCounterInitCalc(SampleCounter* counter);

// Consumes ring packet `cursor`: clears the bins skipped since the previous
// packet, adds the packet's wire length and one packet to its bin when
// matched, advances the cursor. Does nothing when packet `cursor` is not
// stored yet (a stray verdict). Only the counter's one writer thread.
void SampleCounterAdvance(SampleCounter* counter, int matched);

// The same for a counter with a calculation: a matched packet's sums (null
// for none) go into its bin's.
void SampleCounterAdvanceCalc(SampleCounter* counter, int matched, const CalcCell* cell);

// The calculation's bins as SampleCounterRead reads (out[j] empty where the
// rule reads zero, or when the counter has no calculation). Any thread.
void SampleCounterReadCalc(const SampleCounter* counter, int64_t now, CalcCell* out, int n);

// Fills each non-null output with n values, element j the bin j intervals
// before the bin of `now` (a PerfCounter reading). Bins a full ring or more
// behind the counter's last packet read as zero. Any thread; allocates
// nothing.
void SampleCounterRead(const SampleCounter* counter, int64_t now, uint64_t* bytes, uint64_t* packets, int n);

// The counter of all stored packets; the graph draws it for an empty set.
int TotalCounterInit(uint32_t size);
void TotalCounterFree();
void TotalCounterReadBytes(int64_t now, uint64_t* bytes, int n);
void TotalCounterReadPackets(int64_t now, uint64_t* packets, int n);

// The total counter itself (sums, cursor) for readers. Any thread.
const SampleCounter* TotalCounterGet();

// ---------------------------------------------------------------- drops
// Packets the capture missed, per bin, beside the total counter (same bins,
// allocated and freed with it, emptied by PacketRingReset): the capture
// thread adds what the library newly counts as dropped, in the bin of the
// moment it learns of it.

// Adds newly dropped packets: by the kernel (its buffer was full) and by
// the interface. Capture thread only, and only while packets flow to the
// ring (the same rule as PacketRingStore: a reset never meets it).
void PacketRingAddDrops(uint64_t kernel, uint64_t iface);

// Packets dropped since the last reset, each way. Any thread.
void PacketRingDrops(uint64_t* kernel, uint64_t* iface);

// Dropped packets per bin, newest first, as SampleCounterRead reads. Any
// thread.
void PacketRingReadDrops(int64_t now, uint64_t* packets, int n);
