// SPDX-License-Identifier: GPL-2.0-or-later
// packetstore.cpp - the offline packet store: chunks of 65536 PacketItem in
// a fixed table (item k in chunk k >> 16 at k & 0xFFFF, so locating an item
// is one index), the range search and the folding into columns.
//
// Hand-over between threads: the reader thread links a new chunk into the
// table (release) and publishes each item by storing `count` (release);
// markers and the graph load `count` with acquire before they touch an item.
#include "pipeline/packetstore.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {

// 65536 chunks of 65536 items: 2^32 packets, far beyond any capture file a
// desktop can hold (64 GiB of items). The table itself is 512 KiB of
// zero-initialised storage that costs nothing until used.
constexpr int64_t kMaxChunks = 65536;
constexpr int64_t kChunkMask = kPacketStoreChunkItems - 1;
constexpr int kChunkShift = 16;
static_assert((int64_t{1} << kChunkShift) == kPacketStoreChunkItems, "chunk size and shift agree");

struct PacketStoreRecord {
    std::atomic<PacketItem*> chunks[kMaxChunks];
    std::atomic<int64_t> count;
    std::atomic<int64_t> lastTime;   // the latest time added
    std::atomic<int64_t> firstTime;  // the earliest
    std::atomic<int32_t> unordered;  // 1: some item is earlier than one added before it
    std::atomic<uint64_t> generation;
    std::atomic<int64_t> baseTime;  // capture time of time 0, microseconds since 1970
};

PacketStoreRecord PacketStore;  // constant-initialised, all zero

inline PacketItem* ItemAt(int64_t k) {
    return PacketStore.chunks[k >> kChunkShift].load(std::memory_order_acquire) + (k & kChunkMask);
}

inline int64_t BinOf(int64_t time, int64_t w) { return PacketStoreBinOf(time, w); }

}  // namespace

int PacketStoreAdd(int64_t time, uint32_t length) {
    int64_t c = PacketStore.count.load(std::memory_order_relaxed);
    int64_t chunk = c >> kChunkShift;
    if ((c & kChunkMask) == 0) {
        if (chunk >= kMaxChunks) return 0;
        // () value-initialises: time, length and match bits start at zero.
        PacketItem* fresh = new (std::nothrow) PacketItem[kPacketStoreChunkItems]();
        if (!fresh) return 0;
        // Linked before any item in it is handed to a rawshark process.
        PacketStore.chunks[chunk].store(fresh, std::memory_order_release);
    }
    PacketItem* item = PacketStore.chunks[chunk].load(std::memory_order_relaxed) + (c & kChunkMask);
    item->time = time;
    item->length = length;
    int64_t latest = PacketStore.lastTime.load(std::memory_order_relaxed);
    if (c == 0 || time > latest) PacketStore.lastTime.store(time, std::memory_order_relaxed);
    if (c > 0 && time < latest) PacketStore.unordered.store(1, std::memory_order_relaxed);
    if (c == 0 || time < PacketStore.firstTime.load(std::memory_order_relaxed)) {
        PacketStore.firstTime.store(time, std::memory_order_relaxed);
    }
    PacketStore.count.store(c + 1, std::memory_order_release);
    return 1;
}

void PacketStoreMark(int64_t k, int i) {
    // A mark outside the stored items or the 16 bits would write memory that
    // is not an item's; it is ignored.
    if (k < 0 || k >= PacketStore.count.load(std::memory_order_acquire) || i < 0 || i > 15) return;
    // Other filters mark other bits of the same word at the same moment.
    ItemAt(k)->matchBits.fetch_or(static_cast<uint16_t>(1u << i), std::memory_order_relaxed);
}

const PacketItem* PacketStoreItem(int64_t k) {
    if (k < 0 || k >= PacketStore.count.load(std::memory_order_acquire)) return nullptr;
    return ItemAt(k);
}

int64_t PacketStoreCount() { return PacketStore.count.load(std::memory_order_acquire); }

int64_t PacketStoreLastTime() { return PacketStore.lastTime.load(std::memory_order_relaxed); }

int64_t PacketStoreFirstTime() { return PacketStore.firstTime.load(std::memory_order_relaxed); }

int PacketStoreInTimeOrder() { return PacketStore.unordered.load(std::memory_order_relaxed) == 0; }

namespace {

// An item taken out of the file-order run to be merged back in its place.
struct LooseItem {
    int64_t time;
    int64_t index;  // its place in file order: ties keep file order
    uint32_t length;
    uint16_t bits;
};

}  // namespace

// The items that follow the file's order of time (each at least as late as
// the last one kept) stay in their order; the others are copied out, sorted
// and merged back in place from the end, where the merged sequence never
// overtakes the items it still has to read. A file in time order but for a
// few stragglers (merged captures, clock steps) costs a copy of the
// stragglers and one bit per item.
int PacketStoreSortByTime() {
    if (PacketStoreInTimeOrder()) return 1;
    const int64_t count = PacketStore.count.load(std::memory_order_acquire);
    std::vector<LooseItem> loose;
    std::vector<bool> isLoose;
    try {
        isLoose.assign(static_cast<size_t>(count), false);
        int64_t latest = 0;
        for (int64_t k = 0; k < count; ++k) {
            const PacketItem* item = ItemAt(k);
            if (k > 0 && item->time < latest) {
                loose.push_back({item->time, k, item->length, item->matchBits.load(std::memory_order_relaxed)});
                isLoose[static_cast<size_t>(k)] = true;
            } else {
                latest = item->time;
            }
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    std::sort(loose.begin(), loose.end(), [](const LooseItem& a, const LooseItem& b) {
        return a.time != b.time ? a.time < b.time : a.index < b.index;
    });
    int64_t k = count - 1;                                  // the run's next item, from the end
    int64_t next = static_cast<int64_t>(loose.size()) - 1;  // the loose items' next, from the end
    for (int64_t out = count - 1; out >= 0; --out) {
        while (k >= 0 && isLoose[static_cast<size_t>(k)]) --k;
        PacketItem* dest = ItemAt(out);
        const PacketItem* run = k >= 0 ? ItemAt(k) : nullptr;
        if (next >= 0 &&
            (!run || loose[next].time > run->time || (loose[next].time == run->time && loose[next].index > k))) {
            const LooseItem& from = loose[static_cast<size_t>(next--)];
            dest->time = from.time;
            dest->length = from.length;
            dest->matchBits.store(from.bits, std::memory_order_relaxed);
        } else {
            int64_t time = run->time;
            uint32_t length = run->length;
            uint16_t bits = run->matchBits.load(std::memory_order_relaxed);
            dest->time = time;
            dest->length = length;
            dest->matchBits.store(bits, std::memory_order_relaxed);
            --k;
        }
    }
    PacketStore.unordered.store(0, std::memory_order_relaxed);
    PacketStore.generation.fetch_add(1, std::memory_order_relaxed);
    return 1;
}

uint64_t PacketStoreGeneration() { return PacketStore.generation.load(std::memory_order_relaxed); }

void PacketStoreSetBaseTime(int64_t epochMicros) { PacketStore.baseTime.store(epochMicros, std::memory_order_relaxed); }

int64_t PacketStoreBaseTime() { return PacketStore.baseTime.load(std::memory_order_relaxed); }

void PacketStoreReset() {
    int64_t c = PacketStore.count.load(std::memory_order_relaxed);
    int64_t chunks = (c + kChunkMask) >> kChunkShift;
    for (int64_t i = 0; i < chunks && i < kMaxChunks; ++i) {
        delete[] PacketStore.chunks[i].exchange(nullptr, std::memory_order_relaxed);
    }
    PacketStore.count.store(0, std::memory_order_release);
    PacketStore.lastTime.store(0, std::memory_order_relaxed);
    PacketStore.firstTime.store(0, std::memory_order_relaxed);
    PacketStore.unordered.store(0, std::memory_order_relaxed);
    PacketStore.baseTime.store(0, std::memory_order_relaxed);
    PacketStore.generation.fetch_add(1, std::memory_order_relaxed);
}

int PacketStoreFindRange(int64_t T, int64_t w, int n, int64_t* first, int64_t* last) {
    *first = 0;
    *last = -1;
    int64_t count = PacketStore.count.load(std::memory_order_acquire);
    if (count == 0 || w <= 0 || n <= 0) return 0;
    int64_t E = BinOf(T, w);
    int64_t firstBin = BinOf(ItemAt(0)->time, w);
    int64_t lastBin = BinOf(ItemAt(count - 1)->time, w);
    if (E < firstBin) return 0;  // the window ends before the first item
    // E >= firstBin >= 0 for stored times, so E - n cannot overflow.
    int64_t below = E - n;           // the highest bin left of the window
    if (lastBin <= below) return 0;  // every item lies before the window

    int64_t lo, hi;
    if (firstBin > below) {
        *first = 0;
    } else {
        // smallest k with bin(k) > below; bin(0) <= below < bin(count - 1)
        lo = 0;
        hi = count - 1;
        while (hi - lo > 1) {
            int64_t mid = lo + (hi - lo) / 2;
            if (BinOf(ItemAt(mid)->time, w) > below)
                hi = mid;
            else
                lo = mid;
        }
        *first = hi;
    }
    if (lastBin <= E) {
        *last = count - 1;
    } else {
        // largest k with bin(k) <= E; bin(0) <= E < bin(count - 1)
        lo = 0;
        hi = count - 1;
        while (hi - lo > 1) {
            int64_t mid = lo + (hi - lo) / 2;
            if (BinOf(ItemAt(mid)->time, w) <= E)
                lo = mid;
            else
                hi = mid;
        }
        *last = lo;
    }
    if (*first > *last) {
        // Items on both sides of the window and none in it.
        *first = 0;
        *last = -1;
        return 0;
    }
    return 1;
}

void PacketStoreAccumulate(int filter, int64_t T, int64_t w, int n, int64_t first, int64_t last, uint64_t* bytes,
                           uint64_t* packets) {
    if (n <= 0) return;
    for (int j = 0; j < n; ++j) {
        if (bytes) bytes[j] = 0;
        if (packets) packets[j] = 0;
    }
    int64_t count = PacketStore.count.load(std::memory_order_acquire);
    if (count == 0 || w <= 0 || filter < -1 || filter > 15) return;
    if (first < 0) first = 0;
    if (last > count - 1) last = count - 1;
    if (first > last) return;

    const int64_t E = BinOf(T, w);
    // filter -1 takes every item: no bit to test, `all` set.
    const uint16_t bit = filter < 0 ? 0 : static_cast<uint16_t>(1u << filter);
    const uint64_t all = filter < 0 ? 1 : 0;
    // Items mostly come in time order, so most fall into the column of the
    // one before: the column's start is kept and its sums are held in locals
    // (no store-to-load chain through the outputs), written out only when an
    // item leaves the column; the division is done only then too. The
    // column is [binStart, binStart + span); span 0 reuses nothing.
    uint64_t span = 0;
    int64_t binStart = 0, j = -1;
    uint64_t sumBytes = 0, sumPackets = 0;
    auto flush = [&] {
        if (j >= 0) {
            if (bytes) bytes[j] += sumBytes;
            if (packets) packets[j] += sumPackets;
        }
        sumBytes = sumPackets = 0;
    };
    for (int64_t k = first; k <= last;) {
        const PacketItem* item = ItemAt(k);
        int64_t run = kPacketStoreChunkItems - (k & kChunkMask);
        if (run > last - k + 1) run = last - k + 1;
        for (int64_t r = 0; r < run; ++r, ++item) {
            int64_t t = item->time;
            if (static_cast<uint64_t>(t) - static_cast<uint64_t>(binStart) >= span) {
                flush();
                int64_t b = BinOf(t, w);
                // Out-of-order items may lie outside the window; they are
                // skipped, never written beyond the outputs.
                uint64_t d = static_cast<uint64_t>(E) - static_cast<uint64_t>(b);
                j = d < static_cast<uint64_t>(n) ? static_cast<int64_t>(d) : -1;
                span = static_cast<uint64_t>(w);
                binStart = b * w;
            }
            // Match bits vary from item to item: selecting by arithmetic
            // instead of a branch keeps the loop free of mispredictions.
            uint64_t take = ((item->matchBits.load(std::memory_order_relaxed) & bit) != 0) | all;
            sumBytes += item->length & (0 - take);
            sumPackets += take;
        }
        k += run;
    }
    flush();
}
