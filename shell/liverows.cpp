// SPDX-License-Identifier: GPL-2.0-or-later
// liverows.cpp - lumo's view and rows from the ring and the counters.
#include "shell/liverows.h"

#include "pipeline/packetring.h"
#include "pipeline/rawsharkmngr.h"
#include "platform/platform.h"

#include <cstdio>
#include <vector>

static_assert(kGraphMessageSize == kRawsharkMessageSize, "a row holds a whole rawshark message");

// The counters' ring size when the caller does not say.
constexpr int kDefaultBinCount = 65536;

void LiveViewAt(GraphView* view, int64_t now, int64_t samplingInterval, int width) {
    *view = GraphView{};
    view->width = width;
    view->columnTime = samplingInterval;
    int64_t first = 0;
    view->timeKnown = PacketRingFirstStamp(&first);
    PacketRingFirstTime(&view->clockBase);
    int64_t frequency = PerfFrequency();
    if (view->timeKnown && frequency > 0) {
        // 128-bit: a nanosecond counter's difference times a million leaves
        // 64 bits after about 2.5 hours
        __int128 elapsed = static_cast<__int128>(now - first) * 1000000;
        view->rightEdge = static_cast<int64_t>(elapsed / frequency);
    }
}

void LiveRowsDropNotice(GraphRows* rows) {
    uint64_t kernel = 0, iface = 0;
    PacketRingDrops(&kernel, &iface);
    rows->notice[0] = '\0';
    rows->noticeTip[0] = '\0';
    if (kernel == 0 && iface == 0) return;
    if (kernel && iface) {
        snprintf(rows->notice, sizeof rows->notice, "dropped %llu (kernel), %llu (interface)",
                 static_cast<unsigned long long>(kernel), static_cast<unsigned long long>(iface));
    } else {
        snprintf(rows->notice, sizeof rows->notice, "dropped %llu (%s)",
                 static_cast<unsigned long long>(kernel ? kernel : iface), kernel ? "kernel" : "interface");
    }
    snprintf(rows->noticeTip, sizeof rows->noticeTip,
             "Packets the capture missed since it started: the kernel's capture buffer was full (kernel) or the "
             "interface dropped them (interface). The graph and the counts leave them out. Fewer filters, a "
             "capture filter or one-pass judging help the judges keep up.");
}

int LiveRowsFill(GraphRows* rows, const GraphView* view, int64_t now, int binCount, const FilterEntry* entries,
                 int count, const int* visible, int selected) {
    if (!GraphRowsReset(rows, view->width)) return 0;
    GraphRowsSetFilters(rows, entries, count, visible, selected);
    int limit = binCount > 0 ? binCount : kDefaultBinCount;
    int bins = view->width < limit ? view->width : limit;
    rows->known = bins;
    TotalCounterReadBytes(now, rows->all.bytes, bins);
    TotalCounterReadPackets(now, rows->all.packets, bins);
    rows->allOnly = RawsharkMngrCount() == 0;
    PacketRingReadDrops(now, rows->dropped, bins);
    rows->droppedKnown = 1;
    LiveRowsDropNotice(rows);
    for (int i = 0; i < rows->count; ++i) {
        GraphRow* row = &rows->filter[i];
        row->present = RawsharkMngrReadBytes(i, now, row->bytes, bins, row->message);
        if (row->present) RawsharkMngrReadPackets(i, now, row->packets, bins, row->message);
        if (row->present && row->entry.calc != CalcNone) {
            RawsharkMngrReadCalc(i, now, row->calc, bins);
            row->calcKind = RawsharkMngrCalcKind(i);
        }
    }
    return 1;
}

int LiveRowsFillFolded(GraphRows* rows, const GraphView* view, int64_t now, int binCount, int zoom,
                       const FilterEntry* entries, int count, const int* visible, int selected) {
    if (zoom <= 1) return LiveRowsFill(rows, view, now, binCount, entries, count, visible, selected);
    if (!GraphRowsReset(rows, view->width)) return 0;
    GraphRowsSetFilters(rows, entries, count, visible, selected);
    const int limit = binCount > 0 ? binCount : kDefaultBinCount;
    const int W = view->width;
    // column j holds the bins whose group (bin / zoom) is nowBin / zoom - j
    const int64_t nowBin = PacketRingBinAt(now);
    const int64_t group = nowBin / zoom;
    int64_t span = nowBin - (group - W + 1) * zoom + 1;  // bins from the oldest column's first to now's
    int bins = static_cast<int>(span < limit ? span : limit);
    std::vector<uint64_t> a(static_cast<size_t>(bins)), b(static_cast<size_t>(bins));
    std::vector<CalcCell> c(static_cast<size_t>(bins));
    auto fold = [&](const uint64_t* from, uint64_t* to) {
        for (int k = 0; k < bins; ++k) {
            int64_t j = group - (nowBin - k) / zoom;
            if (j >= 0 && j < W) to[j] += from[k];
        }
    };
    rows->known = static_cast<int>((static_cast<int64_t>(bins) + zoom - 1) / zoom);
    TotalCounterReadBytes(now, a.data(), bins);
    TotalCounterReadPackets(now, b.data(), bins);
    fold(a.data(), rows->all.bytes);
    fold(b.data(), rows->all.packets);
    rows->allOnly = RawsharkMngrCount() == 0;
    PacketRingReadDrops(now, a.data(), bins);
    fold(a.data(), rows->dropped);
    rows->droppedKnown = 1;
    LiveRowsDropNotice(rows);
    for (int i = 0; i < rows->count; ++i) {
        GraphRow* row = &rows->filter[i];
        row->present = RawsharkMngrReadBytes(i, now, a.data(), bins, row->message);
        if (!row->present) continue;
        RawsharkMngrReadPackets(i, now, b.data(), bins, row->message);
        fold(a.data(), row->bytes);
        fold(b.data(), row->packets);
        if (row->entry.calc != CalcNone) {
            RawsharkMngrReadCalc(i, now, c.data(), bins);
            row->calcKind = RawsharkMngrCalcKind(i);
            for (int k = 0; k < bins; ++k) {
                int64_t j = group - (nowBin - k) / zoom;
                if (j >= 0 && j < W) CalcCellAdd(&row->calc[j], &c[static_cast<size_t>(k)]);
            }
        }
    }
    return 1;
}
