// SPDX-License-Identifier: GPL-2.0-or-later
// offlinerows.h - lumo_offline's graph rows, folded from the packet store:
// the window's view at its zoom and scroll position, the picture's and the
// CSV export's stretches of the file. UI thread, or the export's thread,
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
// (messages: FilterSetMax texts, or null for none), and for every row its
// bytes and packets per column: all traffic, and each filter's items (its
// match bit set). With no filter the graph shows all traffic alone. The
// store's summary serves wide columns (pipeline/packetsummary.h). Returns 1,
// or 0 when the rows cannot be allocated.
int OfflineRowsFill(GraphRows* rows, const GraphView* view, const FilterEntry* entries, int count, const int* visible,
                    int selected, const char (*messages)[kGraphMessageSize]);
