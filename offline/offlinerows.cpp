// SPDX-License-Identifier: GPL-2.0-or-later
// offlinerows.cpp - the store folded into graph rows.
//
//   OfflineViewOf     the window's view
//   FoldFilters       every filter's columns in one pass over the items
//   OfflineRowsFill   the window's and the picture's rows
//   OfflineRowsTake   the export's rows, interval after interval
#include "offline/offlinerows.h"

#include <cstring>

#include "pipeline/packetstore.h"

namespace {

// Folds items first..last into the columns of filter rows 0..count-1 in one
// pass, bytes and packets (what PacketStoreAccumulate gives per filter; one
// pass instead of one per filter, since a frame of many filters over a
// large file is bound by walking the items).
void FoldFilters(GraphRows* rows, const GraphView* view, int count, int64_t first, int64_t last) {
    const int W = view->width;
    const int64_t w = view->columnTime;
    const int64_t E = view->rightEdge / w;
    uint32_t wanted = count >= 16 ? 0xffffu : (1u << count) - 1;
    uint64_t* bytes[FilterSetMax];
    uint64_t* packets[FilterSetMax];
    for (int i = 0; i < count; ++i) {
        bytes[i] = rows->filter[i].bytes;
        packets[i] = rows->filter[i].packets;
    }
    // items mostly follow each other in time: the bin of the previous item
    // is kept and the division done only when an item leaves it
    int cached = 0;
    int64_t binStart = 0;
    int64_t j = -1;
    for (int64_t k = first; k <= last;) {
        const PacketItem* item = PacketStoreItem(k);
        if (!item) break;
        int64_t run = kPacketStoreChunkItems - k % kPacketStoreChunkItems;  // items in k's chunk
        if (run > last - k + 1) run = last - k + 1;
        for (int64_t r = 0; r < run; ++r, ++item) {
            uint32_t bits = item->matchBits.load(std::memory_order_relaxed) & wanted;
            if (!bits) continue;
            int64_t t = item->time;
            if (!cached || t < binStart || t - binStart >= w) {
                int64_t bin = t / w;
                // an item out of time order may lie outside the window
                j = (bin <= E && E - bin < W) ? E - bin : -1;
                cached = t >= 0;
                binStart = bin * w;
            }
            if (j < 0) continue;
            uint64_t length = item->length;
            do {
                int i = __builtin_ctz(bits);
                bytes[i][j] += length;
                packets[i][j] += 1;
                bits &= bits - 1;
            } while (bits);
        }
        k += run;
    }
}

}  // namespace

void OfflineViewOf(GraphView* view, int width, int64_t columnTime, int64_t rightEdge) {
    *view = GraphView{};
    view->width = width;
    view->offline = 1;
    view->timeKnown = PacketStoreCount() > 0;
    view->columnTime = columnTime < 1 ? 1 : columnTime;
    view->rightEdge = rightEdge;
    view->clockBase = PacketStoreBaseTime();
}

int OfflineRowsFill(GraphRows* rows, const GraphView* view, const FilterEntry* entries, int count, const int* visible,
                    int selected, const char (*messages)[kGraphMessageSize]) {
    if (!GraphRowsReset(rows, view->width)) return 0;
    GraphRowsSetFilters(rows, entries, count, visible, selected);
    if (messages) {
        for (int i = 0; i < rows->count; ++i) {
            memcpy(rows->filter[i].message, messages[i], kGraphMessageSize);
            rows->filter[i].message[kGraphMessageSize - 1] = '\0';
        }
    }
    int64_t first = 0, last = -1;
    PacketStoreFindRange(view->rightEdge, view->columnTime, view->width, &first, &last);
    rows->allOnly = rows->count == 0;
    if (rows->allOnly) {
        PacketStoreAccumulate(-1, view->rightEdge, view->columnTime, view->width, first, last, rows->all.bytes,
                              rows->all.packets);
    } else {
        rows->all.present = 0;
        FoldFilters(rows, view, rows->count, first, last);
    }
    return 1;
}

int64_t OfflineRowsTake(GraphRows* rows, const GraphView* view, OfflineRowsWalk* walk) {
    const int64_t w = view->columnTime;
    const int64_t E = view->rightEdge / w;
    const int count = rows->count;
    int64_t taken = 0;
    for (; walk->next < walk->count; ++walk->next, ++taken) {
        int64_t k = walk->order ? walk->order[walk->next] : walk->next;
        const PacketItem* item = PacketStoreItem(k);
        if (!item) break;
        int64_t bin = item->time / w;
        if (bin > E) break;
        if (E - bin >= view->width) continue;
        size_t j = static_cast<size_t>(E - bin);
        uint64_t length = item->length;
        rows->all.packets[j] += 1;
        rows->all.bytes[j] += length;
        uint32_t bits = item->matchBits.load(std::memory_order_relaxed);
        for (int i = 0; i < count; ++i) {
            if (bits & (1u << i)) {
                rows->filter[i].packets[j] += 1;
                rows->filter[i].bytes[j] += length;
            }
        }
    }
    return taken;
}
