// SPDX-License-Identifier: GPL-2.0-or-later
// packetring.cpp - the live packet ring, the per-filter sample counters and
// the total counter.
//
//   ring       PacketRingStore / Reset / SetInterval / FirstStamp / FirstTime /
//              BinAt / Count
//   counters   SampleCounterInit / Free / Advance / Read
//   total      TotalCounter*
//
// Hand-over between threads: the capture thread writes a slot, then
// publishes it by storing `count` with release; a counter's writer loads
// `count` with acquire before it touches a slot. The verdict that makes a
// reader thread consume slot c travels through a rawshark process, which no
// memory model sees, so this acquire is what orders the slot's bytes before
// their use (and lets a stray verdict for a packet not yet stored be refused).
#include "pipeline/packetring.h"

#include <cstring>
#include <new>

#include "platform/platform.h"

namespace {

struct PacketSlot {
    PacketRecordHeader header;
    int64_t arrival;  // PerfCounter when stored
    int64_t bin;      // capture time since packet 0, divided by the interval
};
static_assert(sizeof(PacketSlot) == 32, "a ring slot is 32 bytes");

struct PacketRingRecord {
    PacketSlot slots[kPacketRingSlots];
    std::atomic<uint64_t> count;  // packets stored since the last reset (release on store)
    int32_t firstTsSec;           // timestamp of packet 0 (capture thread only)
    int32_t firstTsUsec;
    std::atomic<int64_t> firstArrival;  // PerfCounter when packet 0 was stored
    std::atomic<int64_t> firstTime;     // capture time of packet 0, microseconds since 1970
    std::atomic<int64_t> interval;      // microseconds per bin
};

constexpr uint64_t kSlotMask = kPacketRingSlots - 1;

// Constant-initialised (all zero): no code runs before main.
PacketRingRecord PacketRing;
SampleCounter TotalCounter;
// Dropped packets per bin (packets ring only); cursor 1 once any was added.
SampleCounter DropCounter;
std::atomic<uint64_t> DroppedKernel;
std::atomic<uint64_t> DroppedIface;

}  // namespace

// ---------------------------------------------------------------- ring

void PacketRingStore(const PacketRecordHeader* header, const uint8_t* /*data*/) {
    int64_t now = PerfCounter();
    uint64_t c = PacketRing.count.load(std::memory_order_relaxed);
    int64_t bin = 0;
    if (c == 0) {
        PacketRing.firstTsSec = static_cast<int32_t>(header->ts_sec);
        PacketRing.firstTsUsec = static_cast<int32_t>(header->ts_usec);
        PacketRing.firstArrival.store(now, std::memory_order_relaxed);
        PacketRing.firstTime.store(static_cast<int64_t>(header->ts_sec) * 1000000 + header->ts_usec,
                                   std::memory_order_relaxed);
    } else {
        int64_t interval = PacketRing.interval.load(std::memory_order_relaxed);
        if (interval == 0) return;
        // Seconds as a signed 32-bit difference, so a packet stamped before
        // packet 0 gets a negative elapsed time (and a bin below 0).
        int32_t seconds = static_cast<int32_t>(header->ts_sec - static_cast<uint32_t>(PacketRing.firstTsSec));
        int64_t elapsed =
            static_cast<int64_t>(seconds) * 1000000 + static_cast<int32_t>(header->ts_usec) - PacketRing.firstTsUsec;
        bin = elapsed / interval;
    }
    PacketSlot* slot = &PacketRing.slots[c & kSlotMask];
    slot->arrival = now;
    slot->header = *header;
    slot->bin = bin;
    PacketRing.count.store(c + 1, std::memory_order_release);
    SampleCounterAdvance(&TotalCounter, 1);
}

static void ClearCounter(SampleCounter* counter) {
    counter->cursor.store(0, std::memory_order_relaxed);
    counter->matchedPackets.store(0, std::memory_order_relaxed);
    counter->matchedBytes.store(0, std::memory_order_relaxed);
    counter->lastBin.store(0, std::memory_order_relaxed);
    if (counter->packets && counter->bytes) {
        for (uint32_t b = 0; b < counter->size; ++b) {
            counter->packets[b].store(0, std::memory_order_relaxed);
            counter->bytes[b].store(0, std::memory_order_relaxed);
        }
    }
}

void PacketRingReset() {
    ClearCounter(&DropCounter);
    DroppedKernel.store(0, std::memory_order_relaxed);
    DroppedIface.store(0, std::memory_order_relaxed);
    PacketRing.count.store(0, std::memory_order_release);
    ClearCounter(&TotalCounter);
}

void PacketRingSetInterval(int64_t interval) { PacketRing.interval.store(interval, std::memory_order_relaxed); }

int PacketRingFirstStamp(int64_t* first) {
    int stored = PacketRing.count.load(std::memory_order_acquire) != 0;
    *first = PacketRing.firstArrival.load(std::memory_order_relaxed);
    return stored;
}

int PacketRingFirstTime(int64_t* epochMicros) {
    int stored = PacketRing.count.load(std::memory_order_acquire) != 0;
    *epochMicros = PacketRing.firstTime.load(std::memory_order_relaxed);
    return stored;
}

int64_t PacketRingBinAt(int64_t now) {
    int64_t f = PerfFrequency();
    int64_t interval = PacketRing.interval.load(std::memory_order_relaxed);
    if (f == 0 || interval == 0 || PacketRing.count.load(std::memory_order_acquire) == 0) return 0;
    // 128-bit: with a nanosecond counter, (now - first) * 1000000 leaves
    // 64 bits after about 2.5 hours.
    __int128 elapsed = static_cast<__int128>(now - PacketRing.firstArrival.load(std::memory_order_relaxed));
    return static_cast<int64_t>(elapsed * 1000000 / (static_cast<__int128>(interval) * f));
}

uint64_t PacketRingCount() { return PacketRing.count.load(std::memory_order_acquire); }

// ---------------------------------------------------------------- counters

int SampleCounterInit(SampleCounter* counter, uint32_t size) {
    counter->cursor.store(0, std::memory_order_relaxed);
    counter->matchedPackets.store(0, std::memory_order_relaxed);
    counter->matchedBytes.store(0, std::memory_order_relaxed);
    counter->lastTsSec = counter->lastTsUsec = 0;
    counter->lastArrival = 0;
    counter->lastBin.store(0, std::memory_order_relaxed);
    counter->packets = nullptr;
    counter->bytes = nullptr;
    counter->calc = nullptr;  // SampleCounterInitCalc adds it
    counter->size = 0;
    if (size == 0 || (size & (size - 1)) != 0) return 0;  // the rings are indexed by masking
    // () value-initialises: every bin starts at zero.
    counter->bytes = new (std::nothrow) std::atomic<uint64_t>[size]();
    if (counter->bytes) counter->packets = new (std::nothrow) std::atomic<uint32_t>[size]();
    if (!counter->bytes || !counter->packets) {
        SampleCounterFree(counter);
        return 0;
    }
    counter->size = size;
    return 1;
}

void SampleCounterFree(SampleCounter* counter) {
    delete[] counter->calc;
    counter->calc = nullptr;
    delete[] counter->bytes;
    delete[] counter->packets;
    counter->bytes = nullptr;
    counter->packets = nullptr;
    counter->size = 0;
}

int SampleCounterInitCalc(SampleCounter* counter) {
    delete[] counter->calc;
    counter->calc = new (std::nothrow) CalcAtom[counter->size]();
    return counter->calc != nullptr;
}

void SampleCounterAdvance(SampleCounter* counter, int matched) { SampleCounterAdvanceCalc(counter, matched, nullptr); }

static void ClearCalc(CalcAtom* a) {
    a->count.store(0, std::memory_order_relaxed);
    a->sum.store(0, std::memory_order_relaxed);
    a->min.store(0, std::memory_order_relaxed);
    a->max.store(0, std::memory_order_relaxed);
}

void SampleCounterAdvanceCalc(SampleCounter* counter, int matched, const CalcCell* cell) {
    uint64_t c = counter->cursor.load(std::memory_order_relaxed);
    // A verdict for a packet that is not stored (a stray line) would read a
    // slot the capture thread may be writing; it is dropped instead.
    if (c >= PacketRing.count.load(std::memory_order_acquire)) return;
    const PacketSlot* slot = &PacketRing.slots[c & kSlotMask];
    int64_t bin = slot->bin;
    std::atomic<uint32_t>* packets = counter->packets;
    std::atomic<uint64_t>* bytes = counter->bytes;
    uint64_t mask = counter->size - 1;
    if (packets && bytes) {
        if (c != 0) {
            int64_t previous = PacketRing.slots[(c - 1) & kSlotMask].bin;
            if (bin > previous) {
                // Clear the bins skipped since the previous packet; a gap
                // wider than the ring clears each slot once.
                uint64_t gap = static_cast<uint64_t>(bin - previous);
                uint64_t steps = gap < counter->size ? gap : counter->size;
                for (uint64_t s = 1; s <= steps; ++s) {
                    uint64_t i = static_cast<uint64_t>(previous + static_cast<int64_t>(s)) & mask;
                    packets[i].store(0, std::memory_order_relaxed);
                    bytes[i].store(0, std::memory_order_relaxed);
                    if (counter->calc) ClearCalc(&counter->calc[i]);
                }
            }
        }
        if (matched) {
            uint64_t i = static_cast<uint64_t>(bin) & mask;
            // One writer per counter: load and store, no read-modify-write.
            bytes[i].store(bytes[i].load(std::memory_order_relaxed) + slot->header.orig_len, std::memory_order_relaxed);
            packets[i].store(packets[i].load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
            if (counter->calc && cell && cell->count) {
                CalcAtom* a = &counter->calc[i];
                uint64_t had = a->count.load(std::memory_order_relaxed);
                double lo = static_cast<double>(cell->min), hi = static_cast<double>(cell->max);
                if (had == 0 || lo < a->min.load(std::memory_order_relaxed))
                    a->min.store(lo, std::memory_order_relaxed);
                if (had == 0 || hi > a->max.load(std::memory_order_relaxed))
                    a->max.store(hi, std::memory_order_relaxed);
                a->sum.store(a->sum.load(std::memory_order_relaxed) + static_cast<double>(cell->sum),
                             std::memory_order_relaxed);
                a->count.store(had + cell->count, std::memory_order_relaxed);
            }
        }
    }
    if (matched) {
        counter->matchedBytes.store(counter->matchedBytes.load(std::memory_order_relaxed) + slot->header.orig_len,
                                    std::memory_order_relaxed);
        counter->matchedPackets.store(counter->matchedPackets.load(std::memory_order_relaxed) + 1,
                                      std::memory_order_relaxed);
    }
    counter->lastTsSec = slot->header.ts_sec;
    counter->lastTsUsec = slot->header.ts_usec;
    counter->lastArrival = slot->arrival;
    // Release: a reader that sees the new lastBin also sees its cleared bins.
    counter->lastBin.store(bin, std::memory_order_release);
    counter->cursor.store(c + 1, std::memory_order_release);
}

// Fills out[0..n) from one ring (bins newest first) by the read rule: leading
// zeros for the bins after the counter's last packet, zero for bins before
// packet 0 and for bins the ring no longer holds.
template <typename T>
static void ReadRing(const SampleCounter* counter, const std::atomic<T>* ring, int64_t nowBin, uint64_t* out, int n) {
    int j = 0;
    if (!ring) {
        for (; j < n; ++j) out[j] = 0;
        return;
    }
    int64_t size = counter->size;
    // These bins lie after the counter's last packet and hold no data yet;
    // lastBin is read again at each step as the writer may move on.
    while (j < n && j < nowBin - counter->lastBin.load(std::memory_order_acquire)) out[j++] = 0;
    int64_t lastBin = counter->lastBin.load(std::memory_order_acquire);
    uint64_t mask = static_cast<uint64_t>(size) - 1;
    for (; j < n; ++j) {
        int64_t bin = nowBin - j;
        // Bins before packet 0, and bins a full ring or more behind the last
        // packet (their slots hold newer bins), read as zero.
        if (j > nowBin || bin <= lastBin - size) {
            out[j] = 0;
        } else {
            out[j] = ring[static_cast<uint64_t>(bin) & mask].load(std::memory_order_relaxed);
        }
    }
}

void SampleCounterReadCalc(const SampleCounter* counter, int64_t now, CalcCell* out, int n) {
    for (int j = 0; j < n; ++j) out[j] = CalcCell{};
    if (n <= 0 || !counter->calc || counter->cursor.load(std::memory_order_acquire) == 0) return;
    int64_t nowBin = PacketRingBinAt(now);
    int64_t size = counter->size;
    uint64_t mask = static_cast<uint64_t>(size) - 1;
    int j = 0;
    while (j < n && j < nowBin - counter->lastBin.load(std::memory_order_acquire)) ++j;  // no data there yet
    int64_t lastBin = counter->lastBin.load(std::memory_order_acquire);
    for (; j < n; ++j) {
        int64_t bin = nowBin - j;
        if (j > nowBin || bin <= lastBin - size) continue;
        const CalcAtom* a = &counter->calc[static_cast<uint64_t>(bin) & mask];
        out[j].count = a->count.load(std::memory_order_relaxed);
        out[j].sum = a->sum.load(std::memory_order_relaxed);
        out[j].min = a->min.load(std::memory_order_relaxed);
        out[j].max = a->max.load(std::memory_order_relaxed);
    }
}

void SampleCounterRead(const SampleCounter* counter, int64_t now, uint64_t* bytes, uint64_t* packets, int n) {
    if (n <= 0) return;
    if (counter->cursor.load(std::memory_order_acquire) == 0) {
        for (int j = 0; j < n; ++j) {
            if (bytes) bytes[j] = 0;
            if (packets) packets[j] = 0;
        }
        return;
    }
    int64_t nowBin = PacketRingBinAt(now);
    if (bytes) ReadRing(counter, counter->bytes, nowBin, bytes, n);
    if (packets) ReadRing(counter, counter->packets, nowBin, packets, n);
}

// ---------------------------------------------------------------- total

int TotalCounterInit(uint32_t size) {
    if (!SampleCounterInit(&TotalCounter, size)) return 0;
    if (!SampleCounterInit(&DropCounter, size)) {
        SampleCounterFree(&TotalCounter);
        return 0;
    }
    return 1;
}

void TotalCounterFree() {
    SampleCounterFree(&DropCounter);
    SampleCounterFree(&TotalCounter);
}

void TotalCounterReadBytes(int64_t now, uint64_t* bytes, int n) {
    SampleCounterRead(&TotalCounter, now, bytes, nullptr, n);
}

void TotalCounterReadPackets(int64_t now, uint64_t* packets, int n) {
    SampleCounterRead(&TotalCounter, now, nullptr, packets, n);
}

const SampleCounter* TotalCounterGet() { return &TotalCounter; }

// ---------------------------------------------------------------- drops

void PacketRingAddDrops(uint64_t kernel, uint64_t iface) {
    if (kernel == 0 && iface == 0) return;
    DroppedKernel.store(DroppedKernel.load(std::memory_order_relaxed) + kernel, std::memory_order_relaxed);
    DroppedIface.store(DroppedIface.load(std::memory_order_relaxed) + iface, std::memory_order_relaxed);
    SampleCounter* counter = &DropCounter;
    if (!counter->packets) return;
    int64_t bin = PacketRingBinAt(PerfCounter());
    uint64_t mask = counter->size - 1;
    if (counter->cursor.load(std::memory_order_relaxed) != 0) {
        int64_t previous = counter->lastBin.load(std::memory_order_relaxed);
        if (bin < previous) bin = previous;  // the moment never goes back
        uint64_t gap = static_cast<uint64_t>(bin - previous);
        uint64_t steps = gap < counter->size ? gap : counter->size;
        for (uint64_t s = 1; s <= steps; ++s) {
            counter->packets[static_cast<uint64_t>(previous + static_cast<int64_t>(s)) & mask].store(
                0, std::memory_order_relaxed);
        }
    }
    std::atomic<uint32_t>* cell = &counter->packets[static_cast<uint64_t>(bin) & mask];
    cell->store(cell->load(std::memory_order_relaxed) + static_cast<uint32_t>(kernel + iface),
                std::memory_order_relaxed);
    counter->lastBin.store(bin, std::memory_order_release);
    counter->cursor.store(1, std::memory_order_release);
}

void PacketRingDrops(uint64_t* kernel, uint64_t* iface) {
    if (kernel) *kernel = DroppedKernel.load(std::memory_order_relaxed);
    if (iface) *iface = DroppedIface.load(std::memory_order_relaxed);
}

void PacketRingReadDrops(int64_t now, uint64_t* packets, int n) {
    SampleCounterRead(&DropCounter, now, nullptr, packets, n);
}
