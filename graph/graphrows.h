// SPDX-License-Identifier: GPL-2.0-or-later
// graphrows.h - what a graph shows, apart from how it looks: the view (which
// stretch of time, in how many columns) and the rows (per filter its counts
// per column with its colour, unit and scale, plus all traffic).
//
// The programs fill them: lumo from the counters at a moment, lumo_offline
// and its export from the packet store. The renderer, the readout under the
// pointer and both CSV exports only read them, so what is drawn, read out
// and saved is one set of numbers. Nothing here knows where the numbers come
// from.
//
// Column j of a view (j = 0 the newest) is drawn at x = width - 1 - j and
// covers the interval of columnTime microseconds that starts at
// GraphViewColumnStart(view, j). UI thread, or the thread that owns the
// record (the export's).
#pragma once

#include <cstdint>

#include "filterset/filterset.h"
#include "platform/calc.h"

constexpr int kGraphMessageSize = 256;  // a row's message, NUL included

// The stretch of time a graph shows.
struct GraphView {
    int32_t width;       // columns
    int32_t offline;     // 1: lumo_offline's label steps and decimals, 0: lumo's
    int32_t timeKnown;   // 1 once time 0 exists (a first packet); before it no column has a time
    int64_t columnTime;  // microseconds per column (>= 1): the sampling interval live, the zoom offline
    // The right edge as time since time 0, in microseconds: live the moment
    // of the frame (not rounded to its interval), offline the scroll
    // position's time.
    int64_t rightEdge;
    int64_t clockBase;  // capture time of time 0, microseconds since 1970 UTC
    // The earliest axis time that is labelled: 0, or offline the start of
    // the interval of a packet stamped before the first one.
    int64_t axisStart;
};

// One filter's row, or the all-traffic row.
struct GraphRow {
    FilterEntry entry;                // what the row shows: text, colour, unit, scale
    int32_t present;                  // 0: nothing is known of it (live: no judging process): no trace, no readout line
    int32_t visible;                  // 1: its trace is drawn
    char message[kGraphMessageSize];  // its judge's last message, "" when none: the legend shows it instead
    uint64_t* bytes;                  // wire bytes per column, newest first (width values)
    uint64_t* packets;                // packets per column, newest first
    // A filter with a calculation (entry.calc): its sums per column and the
    // kind of its field (CalcKind; none until its judge named it).
    CalcCell* calc;
    int32_t calcKind;
};

struct GraphRows {
    int32_t width;     // columns every row holds
    int32_t known;     // columns 0..known-1 hold counts; older ones are 0 because nothing is kept of them
    int32_t count;     // filter rows, in filter order (0..FilterSetMax)
    int32_t selected;  // the highlighted filter row, -1 for none
    int32_t allOnly;   // 1: the graph shows all traffic alone (there is no filter to draw)
    GraphRow filter[FilterSetMax];
    GraphRow all;  // all traffic: "all", green, bps, automatic scale
    // Live: packets the capture missed per column (droppedKnown 1: the live
    // CSV writes them), and the line the legend shows under its rows while
    // any was missed ("dropped 1234 (kernel)"; "" for none) with its tip.
    uint64_t* dropped;
    int32_t droppedKnown;
    char notice[96];
    char noticeTip[320];
    uint64_t* storage;  // the rows' values, made for width
    CalcCell* calcStorage;
};

// The axis time at which column j starts: (rightEdge / columnTime - j) *
// columnTime, the division rounding down (time 0 starts a column on either
// side of it).
int64_t GraphViewColumnStart(const GraphView* view, int j);

// Makes rows hold `width` columns (values allocated anew only when the
// width changes; a first call needs a zeroed record) and resets them: every
// value 0, the all-traffic row as above, no filter row, nothing selected,
// known = width, no drops known and no notice. Returns 1, or 0 when the
// values cannot be allocated (rows then holds no column).
int GraphRowsReset(GraphRows* rows, int width);

// Frees the values; the record then holds no column.
void GraphRowsFree(GraphRows* rows);

// Filter rows from the applied set: entries[0..count) with their
// visibility (null: all visible), the selection (-1, or out of range: none),
// every row present and without a message. Values are left as they are.
void GraphRowsSetFilters(GraphRows* rows, const FilterEntry* entries, int count, const int* visible, int selected);

// Copies src into dst (dst gets its own values; a first call needs a
// zeroed dst). Returns 1, or 0 when the values cannot be allocated.
int GraphRowsCopy(GraphRows* dst, const GraphRows* src);
