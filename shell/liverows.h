// SPDX-License-Identifier: GPL-2.0-or-later
// liverows.h - lumo's graph rows: the view of a moment and each filter's
// counts up to it, read from the packet ring, the total counter and the
// rawshark manager's counters. What the window draws, reads out under the
// pointer and exports is filled here. UI thread.
#pragma once

#include <cstdint>

#include "filterset/filterset.h"
#include "graph/graphrows.h"

// The view of `width` columns of samplingInterval microseconds whose right
// edge is the PerfCounter reading now: its time since the first packet (no
// time before a packet is stored), the clock time of that packet.
void LiveViewAt(GraphView* view, int64_t now, int64_t samplingInterval, int width);

// Fills rows for view at the same reading now: the filter rows of
// entries[0..count) with their visibility and the selection, each filter's
// bytes and packets per interval from its rawshark entry (a filter without
// an entry is not present), its last message, all traffic from the total
// counter, the packets the capture missed per interval and, when it missed
// any, the legend's notice (LiveRowsDropNotice); at most binCount columns
// (the counters' size), older ones 0. With no rawshark entry at all the
// graph shows all traffic alone. Returns 1, or
// 0 when the rows cannot be allocated.
int LiveRowsFill(GraphRows* rows, const GraphView* view, int64_t now, int binCount, const FilterEntry* entries,
                 int count, const int* visible, int selected);

// The notice of packets the capture missed since the counters started
// ("dropped 1234 (kernel)", and the interface's when it reports any) with
// its tip, into rows; both empty when none was missed.
void LiveRowsDropNotice(GraphRows* rows);

// The same with `zoom` intervals folded into each column (the paused
// graph's look back through the counters): column j sums the intervals
// whose number divided by zoom is the present one's divided by zoom, less j;
// view's column time is zoom sampling intervals. Allocates (UI thread,
// paused only). zoom 1 is LiveRowsFill.
int LiveRowsFillFolded(GraphRows* rows, const GraphView* view, int64_t now, int binCount, int zoom,
                       const FilterEntry* entries, int count, const int* visible, int selected);
