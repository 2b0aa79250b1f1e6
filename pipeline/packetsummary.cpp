// SPDX-License-Identifier: GPL-2.0-or-later
// packetsummary.cpp - busy-bin sums of the sorted store.
//
//   build   one walk over the items per pass: each item goes into the open
//           bin of level 0; a bin that closes passes its sums up to the
//           open bin of the next level, and is kept when it is busy. The
//           first pass counts the busy bins of every level, the second
//           stores those of the levels that fit the memory budget
//   fold    the window's items by binary search, its busy bins by binary
//           search, then bins and the items between them in time order
#include "pipeline/packetsummary.h"

#include <cstdlib>
#include <cstring>

#include "pipeline/packetstore.h"

namespace {

struct SummaryLevel {
    int32_t kept;
    int64_t width;  // 10^k microseconds
    int64_t count;  // busy bins stored
    int64_t* bin;   // bin number, ascending
    int64_t* firstItem;
    uint32_t* items;
    uint64_t* bytes;    // [bin * rows + row]
    uint32_t* packets;  // [bin * rows + row]
};

struct SummaryRecord {
    int32_t rows;  // 1 + filters
    uint64_t generation;
    int64_t itemCount;
    int64_t bytesHeld;
    SummaryLevel level[kSummaryLevels];
};

SummaryRecord Summary;

// The bin being summed at one level while building.
struct OpenBin {
    int32_t open;
    int64_t bin;
    int64_t firstItem;
    uint64_t items;
    uint64_t bytes[kSummaryRowsMax];
    uint64_t packets[kSummaryRowsMax];
};

struct Builder {
    int32_t rows;
    int32_t storing;  // second pass: busy bins of kept levels are written
    int64_t busy[kSummaryLevels];
    OpenBin open[kSummaryLevels];
};

void Close(Builder* b, int k);

// Adds the sums of a closed bin of level k - 1 (or of an item at level 0)
// to the open bin of level k that holds `bin`.
void AddTo(Builder* b, int k, int64_t bin, int64_t firstItem, uint64_t items, const uint64_t* bytes,
           const uint64_t* packets) {
    OpenBin* o = &b->open[k];
    if (o->open && o->bin != bin) Close(b, k);
    if (!o->open) {
        o->open = 1;
        o->bin = bin;
        o->firstItem = firstItem;
    }
    o->items += items;
    for (int r = 0; r < b->rows; ++r) {
        o->bytes[r] += bytes[r];
        o->packets[r] += packets[r];
    }
}

void Close(Builder* b, int k) {
    OpenBin* o = &b->open[k];
    if (!o->open) return;
    if (o->items >= kSummaryBinItems) {
        SummaryLevel* level = &Summary.level[k];
        if (b->storing && level->kept) {
            int64_t at = level->count++;
            level->bin[at] = o->bin;
            level->firstItem[at] = o->firstItem;
            level->items[at] = static_cast<uint32_t>(o->items);
            for (int r = 0; r < b->rows; ++r) {
                level->bytes[at * b->rows + r] = o->bytes[r];
                level->packets[at * b->rows + r] = static_cast<uint32_t>(o->packets[r]);
            }
        }
        b->busy[k]++;
    }
    if (k + 1 < kSummaryLevels) {
        AddTo(b, k + 1, PacketStoreBinOf(o->bin, 10), o->firstItem, o->items, o->bytes, o->packets);
    }
    memset(o, 0, sizeof *o);
}

void Walk(Builder* b) {
    const int64_t count = PacketStoreCount();
    const uint32_t wanted = b->rows - 1 >= 16 ? 0xffffu : (1u << (b->rows - 1)) - 1;
    uint64_t bytes[kSummaryRowsMax];
    uint64_t packets[kSummaryRowsMax];
    for (int64_t i = 0; i < count; ++i) {
        const PacketItem* item = PacketStoreItem(i);
        memset(bytes, 0, sizeof(uint64_t) * static_cast<size_t>(b->rows));
        memset(packets, 0, sizeof(uint64_t) * static_cast<size_t>(b->rows));
        bytes[0] = item->length;
        packets[0] = 1;
        uint32_t bits = item->matchBits.load(std::memory_order_relaxed) & wanted;
        while (bits) {
            int f = __builtin_ctz(bits);
            bytes[1 + f] = item->length;
            packets[1 + f] = 1;
            bits &= bits - 1;
        }
        AddTo(b, 0, item->time, i, 1, bytes, packets);
    }
    for (int k = 0; k < kSummaryLevels; ++k) Close(b, k);
}

int64_t LevelBytes(int64_t bins, int rows) {
    return bins * static_cast<int64_t>(sizeof(int64_t) * 2 + sizeof(uint32_t) +
                                       static_cast<size_t>(rows) * (sizeof(uint64_t) + sizeof(uint32_t)));
}

// ---------------------------------------------------------------- fold

// Items [from, to) (in time order) into the columns ending with column E.
void FoldItems(int64_t from, int64_t to, int64_t w, int64_t E, int n, const SummaryFoldOut* out) {
    const int rows = out->rows;
    const uint32_t wanted = rows - 1 >= 16 ? 0xffffu : (1u << (rows - 1)) - 1;
    int64_t binStart = 0, j = -1;
    int cached = 0;
    for (int64_t i = from; i < to;) {
        const PacketItem* item = PacketStoreItem(i);
        if (!item) return;
        int64_t run = kPacketStoreChunkItems - (i & (kPacketStoreChunkItems - 1));  // items left in i's chunk
        if (run > to - i) run = to - i;
        for (int64_t r = 0; r < run; ++r, ++item) {
            int64_t t = item->time;
            if (!cached || t < binStart || t - binStart >= w) {
                int64_t bin = PacketStoreBinOf(t, w);
                j = (bin <= E && E - bin < n) ? E - bin : -1;
                binStart = bin * w;
                cached = 1;
            }
            if (j < 0) continue;
            uint64_t length = item->length;
            if (out->bytes[0]) out->bytes[0][j] += length;
            if (out->packets[0]) out->packets[0][j] += 1;
            uint32_t bits = item->matchBits.load(std::memory_order_relaxed) & wanted;
            while (bits) {
                int f = 1 + __builtin_ctz(bits);
                if (out->bytes[f]) out->bytes[f][j] += length;
                if (out->packets[f]) out->packets[f][j] += 1;
                bits &= bits - 1;
            }
        }
        i += run;
    }
}

// First item at or after time t (the store in time order).
int64_t FirstItemAt(int64_t t) {
    int64_t lo = 0, hi = PacketStoreCount();
    while (lo < hi) {
        int64_t mid = lo + (hi - lo) / 2;
        if (PacketStoreItem(mid)->time < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// First busy bin of a level at or after bin number b.
int64_t FirstBinAt(const SummaryLevel* level, int64_t b) {
    int64_t lo = 0, hi = level->count;
    while (lo < hi) {
        int64_t mid = lo + (hi - lo) / 2;
        if (level->bin[mid] < b)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

int SummaryValid() {
    return Summary.rows > 0 && Summary.generation == PacketStoreGeneration() && Summary.itemCount == PacketStoreCount();
}

}  // namespace

void PacketSummaryReset() {
    for (SummaryLevel& level : Summary.level) {
        free(level.bin);
        free(level.firstItem);
        free(level.items);
        free(level.bytes);
        free(level.packets);
    }
    memset(&Summary, 0, sizeof Summary);
}

int PacketSummaryBuild(int filters) {
    PacketSummaryReset();
    if (filters < 0) filters = 0;
    if (filters > kSummaryRowsMax - 1) filters = kSummaryRowsMax - 1;
    if (!PacketStoreInTimeOrder()) return 0;
    const int rows = 1 + filters;
    Builder* b = static_cast<Builder*>(calloc(1, sizeof(Builder)));
    if (!b) return 0;
    b->rows = rows;
    Walk(b);
    // the coarsest levels are the cheapest and serve the widest views
    const int64_t items = PacketStoreCount();
    int64_t budget = items * kSummaryBytesPerItem;
    if (budget < (int64_t{4} << 20)) budget = int64_t{4} << 20;
    int64_t width = 1;
    for (int k = 0; k < kSummaryLevels; ++k, width *= 10) Summary.level[k].width = width;
    int64_t held = 0;
    int ok = 1;
    for (int k = kSummaryLevels - 1; k >= 0; --k) {
        int64_t cost = LevelBytes(b->busy[k], rows);
        if (held + cost > budget) break;
        SummaryLevel* level = &Summary.level[k];
        size_t bins = static_cast<size_t>(b->busy[k] > 0 ? b->busy[k] : 1);
        level->bin = static_cast<int64_t*>(malloc(bins * sizeof(int64_t)));
        level->firstItem = static_cast<int64_t*>(malloc(bins * sizeof(int64_t)));
        level->items = static_cast<uint32_t*>(malloc(bins * sizeof(uint32_t)));
        level->bytes = static_cast<uint64_t*>(malloc(bins * static_cast<size_t>(rows) * sizeof(uint64_t)));
        level->packets = static_cast<uint32_t*>(malloc(bins * static_cast<size_t>(rows) * sizeof(uint32_t)));
        if (!level->bin || !level->firstItem || !level->items || !level->bytes || !level->packets) {
            ok = 0;
            break;
        }
        level->kept = 1;
        held += cost;
    }
    if (ok) {
        memset(b->busy, 0, sizeof b->busy);
        memset(b->open, 0, sizeof b->open);
        b->storing = 1;
        Walk(b);
    }
    free(b);
    if (!ok) {
        PacketSummaryReset();
        return 0;
    }
    Summary.rows = rows;
    Summary.generation = PacketStoreGeneration();
    Summary.itemCount = items;
    Summary.bytesHeld = held;
    return 1;
}

void PacketSummaryFold(int64_t T, int64_t w, int n, const SummaryFoldOut* out) {
    if (n <= 0 || w <= 0 || PacketStoreCount() == 0) return;
    const int64_t E = PacketStoreBinOf(T, w);
    if (!PacketStoreInTimeOrder()) {
        FoldItems(0, PacketStoreCount(), w, E, n, out);
        return;
    }
    const int64_t tStart = (E - n + 1) * w;
    const int64_t tEnd = (E + 1) * w;
    const int64_t from = FirstItemAt(tStart);
    const int64_t to = FirstItemAt(tEnd);
    // the coarsest kept level whose bins lie whole in a column
    const SummaryLevel* level = nullptr;
    if (SummaryValid() && out->rows <= Summary.rows) {
        for (int k = kSummaryLevels - 1; k >= 0; --k) {
            const SummaryLevel* l = &Summary.level[k];
            if (l->kept && l->width <= w && w % l->width == 0) {
                level = l;
                break;
            }
        }
    }
    if (!level) {
        FoldItems(from, to, w, E, n, out);
        return;
    }
    const int64_t perColumn = w / level->width;
    const int rows = Summary.rows;
    int64_t cursor = from;
    for (int64_t s = FirstBinAt(level, tStart / level->width); s < level->count; ++s) {
        int64_t bin = level->bin[s];
        if (bin >= tEnd / level->width) break;
        FoldItems(cursor, level->firstItem[s], w, E, n, out);
        int64_t j = E - PacketStoreBinOf(bin, perColumn);
        for (int r = 0; r < out->rows; ++r) {
            if (out->bytes[r]) out->bytes[r][j] += level->bytes[s * rows + r];
            if (out->packets[r]) out->packets[r][j] += level->packets[s * rows + r];
        }
        cursor = level->firstItem[s] + level->items[s];
    }
    FoldItems(cursor, to, w, E, n, out);
}

int64_t PacketSummaryBytes() { return SummaryValid() ? Summary.bytesHeld : 0; }

int64_t PacketSummaryFinestWidth() {
    if (!SummaryValid()) return 0;
    for (const SummaryLevel& level : Summary.level) {
        if (level.kept) return level.width;
    }
    return 0;
}
