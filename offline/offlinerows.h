// SPDX-License-Identifier: GPL-2.0-or-later
// offlinerows.h - lumo_offline's graph rows, folded from the packet store:
// the window's view at its zoom and scroll position, and the intervals of
// the whole file for the CSV export. UI thread, or the export's thread,
// while no reading run adds items.
#pragma once

#include <cstdint>

#include "filterset/filterset.h"
#include "graph/graphrows.h"

// The view of `width` columns of columnTime microseconds (below 1 taken as
// 1) whose right edge is rightEdge, in the file's time; the file's first
// packet is time 0.
void OfflineViewOf(GraphView* view, int width, int64_t columnTime, int64_t rightEdge);

// Fills rows for view from the store: the filter rows of entries[0..count)
// with their visibility, the selection and each filter's last message
// (messages: FilterSetMax texts, or null for none), bytes and packets of the
// items whose match bit is set, folded into the view's columns. With no
// filter the graph shows all traffic alone and that row holds every item;
// otherwise the all-traffic row is not present. Returns 1, or 0 when the
// rows cannot be allocated.
int OfflineRowsFill(GraphRows* rows, const GraphView* view, const FilterEntry* entries, int count, const int* visible,
                    int selected, const char (*messages)[kGraphMessageSize]);

// A walk over the store's items in time order, for rows that together cover
// the whole file.
struct OfflineRowsWalk {
    int64_t next;          // walk position of the next item to take
    int64_t count;         // items in the walk
    const int64_t* order;  // store index of each walk position; null when the store is in time order
};

// Adds to rows (filter rows set, values as the caller left them) the next
// items of the walk whose column lies at or before the view's newest one,
// all traffic and every filter whose bit is set; an item before the view's
// oldest column is passed over. Returns the items taken.
int64_t OfflineRowsTake(GraphRows* rows, const GraphView* view, OfflineRowsWalk* walk);
