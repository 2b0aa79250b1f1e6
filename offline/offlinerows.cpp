// SPDX-License-Identifier: GPL-2.0-or-later
// offlinerows.cpp - the store folded into graph rows.
#include "offline/offlinerows.h"

#include <cstring>

#include "pipeline/calcstore.h"
#include "pipeline/packetstore.h"
#include "pipeline/packetsummary.h"

void OfflineViewOf(GraphView* view, int width, int64_t columnTime, int64_t rightEdge) {
    *view = GraphView{};
    view->width = width;
    view->offline = 1;
    view->timeKnown = PacketStoreCount() > 0;
    view->columnTime = columnTime < 1 ? 1 : columnTime;
    view->rightEdge = rightEdge;
    view->clockBase = PacketStoreBaseTime();
    // a packet stamped before the first one brings the axis into its interval
    if (view->timeKnown && PacketStoreFirstTime() < 0) {
        view->axisStart = PacketStoreBinOf(PacketStoreFirstTime(), view->columnTime) * view->columnTime;
    }
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
    rows->allOnly = rows->count == 0;
    SummaryFoldOut out{};
    out.rows = 1 + rows->count;
    out.bytes[0] = rows->all.bytes;
    out.packets[0] = rows->all.packets;
    for (int i = 0; i < rows->count; ++i) {
        out.bytes[1 + i] = rows->filter[i].bytes;
        out.packets[1 + i] = rows->filter[i].packets;
    }
    PacketSummaryFold(view->rightEdge, view->columnTime, view->width, &out);
    for (int i = 0; i < rows->count; ++i) {
        GraphRow* row = &rows->filter[i];
        if (row->entry.calc == CalcNone) continue;
        CalcStoreFold(i, view->rightEdge, view->columnTime, view->width, row->calc);
        row->calcKind = CalcStoreKind(i);
    }
    return 1;
}
