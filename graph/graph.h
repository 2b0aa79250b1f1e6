// SPDX-License-Identifier: GPL-2.0-or-later
// graph.h - one frame of the traffic graph: background, grid and time axis,
// one stepped trace per filter and the legend, rendered into a DrawSurface.
//
// One renderer serves both programs; only the time base differs:
//   live     columns are sampling intervals up to "now" (performance
//            counter), counts from the rawshark manager and the total counter
//   offline  columns are C microseconds wide ending with the one holding R,
//            counts folded from the packet store
// UI thread only. A frame allocates nothing unless the width changed.
//
// Column j of the sample buffer (0 = newest) is drawn at x = W - 1 - j. Text
// goes only through the surface's DrawText.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filterset/filterset.h"
#include "graph/drawsurface.h"
#include "graph/graphstyle.h"

struct LegendRect {
    int32_t left, top, right, bottom;
};

constexpr int kLegendLabelSize = 512;

// The 27 suffixes of the full-scale text by decimal exponent: "", "0", "00",
// "K", "0K", ... "00Y".
extern const char* const ScaleSuffixes[27];

// The legend text of filter position index (LegendLabels, written by
// GraphDrawTrace; a slot keeps its text in frames in which its filter is not
// drawn); "" for a position out of range. Valid until the next frame. UI
// thread.
const char* GraphLegendLabel(int index);

// Replaces the legend text of position index (cut to fit). Tests only.
void GraphSetLegendLabel(int index, const char* text);

// The time base of one frame, the only thing in which the two programs'
// frames differ.
struct GraphTimeBase {
    int32_t offline;        // 0: live (lumo), 1: offline (lumo_offline)
    int64_t now;            // live: the frame's PerfCounter reading
    int64_t columnWidth;    // offline: C, microseconds per column (>= 1)
    int64_t rightEdgeTime;  // offline: R, capture-file microseconds of the rightmost column
    // Capture time of time 0 (live: packet 0, offline: the file's first
    // packet), microseconds since 1970 UTC; the frame fills it from the
    // packet ring or the store. Clock times are this plus the axis time.
    int64_t clockBase;
};

// What the last frame drew, for the readout, the legend's tool tips and the
// live export. Valid until the next frame; UI thread.
struct GraphFrame {
    int32_t drawn;       // 1: a frame with traces was drawn (0 before the first, or when its buffer failed)
    GraphTimeBase base;  // the frame's time base, clockBase filled
    int64_t interval;    // column duration: S live, C offline
    int32_t width;       // columns (the surface's width)
    int32_t height;
    int32_t allTraffic;  // 1: the frame drew the "all" trace of an empty set, its counts in rows[0]
    int32_t count;       // filters of the frame (0 with allTraffic)
    // Filter i's counts per column, newest first (bytes, or packets for the
    // packet units), exactly what its trace plots; null when the frame drew
    // nothing for it (live: no rawshark entry).
    const uint64_t* rows[FilterSetMax];
    LegendRect allRect;  // legend row of the "all" trace (allTraffic only)
};

// ---------------------------------------------------------------- frames

// Live frame: "now" is read once from PerfCounter; counts come from the
// rawshark manager (the total counter when it has no entry), at most
// style->binCount of them per filter, older columns reading zero.
// Returns 1, or 0 when the sample buffer could not be allocated (the frame
// then holds background, grid and axis only).
int GraphDraw(DrawSurface* surface, const GraphStyle* style, const FilterEntry* entries, int count, int selected,
              LegendRect* legendRects, const int* filterVisible);

// The live frame at a given PerfCounter reading instead of the present (a
// paused graph keeps drawing the moment it was paused). Result as GraphDraw.
int GraphDrawAt(DrawSurface* surface, const GraphStyle* style, const FilterEntry* entries, int count, int selected,
                LegendRect* legendRects, const int* filterVisible, int64_t now);

// Offline frame with column width C and right-edge time R (microseconds);
// counts are folded from the packet store, every filter of the set drawn
// ("all" traffic when count is 0). A C below 1 is taken as 1. Result as
// GraphDraw.
int GraphDrawOffline(DrawSurface* surface, const GraphStyle* style, const FilterEntry* entries, int count, int selected,
                     LegendRect* legendRects, const int* filterVisible, int64_t columnWidth, int64_t rightEdgeTime);

// Offline: where a frame takes filter i's last "rawshark:" line. The
// capture-file reader releases its processes when a run ends, so lumo_offline
// hands in the lines it kept (FilterSetMax texts of 256 bytes, valid while
// set); nullptr, the default, asks the rawshark manager. UI thread.
void GraphSetOfflineMessages(const char (*messages)[256]);

// The last frame (drawn 0 before any). UI thread.
const GraphFrame* GraphLastFrame();

// The tool tip of legend row index as the last frame that drew it left it:
// "full scale: 20M bps, top of the graph", or a refused filter's whole
// message. Returns 1 with out filled (size bytes), 0 when the row never held
// a label.
int GraphLegendTip(int index, char* out, size_t size);

// ---------------------------------------------------------------- pieces

// Computes the full scale of buffer[0..W) for the entry (bps and pps over a
// column of `interval` microseconds), draws the stepped trace in the entry's
// colour when visible is non-zero, and writes the label ("50K bps : tcp",
// or "error: " + errorText when that is not empty) into
// LegendLabels[index]. A fixed scale of 0 or less is drawn as a full scale
// of 1; its label still shows the stored scale.
void GraphDrawTrace(DrawSurface* surface, const uint64_t* buffer, int W, int64_t interval, const FilterEntry* entry,
                    int index, const char* errorText, int visible);

// Draws the legend rows of entries[0..count): colour box (outlined when the
// filter is hidden), LegendLabels[i] at (20, 4 + 16 i) whose measured box
// becomes legendRects[i], the selected one underlined.
void GraphDrawLegend(DrawSurface* surface, const FilterEntry* entries, int count, int selected, LegendRect* legendRects,
                     const int* filterVisible);

// Ten grid rows plus the bottom row in line_color, then the labelled columns
// of the time base in char_color (live: from the first stored packet, given
// by PacketRingFirstStamp, up to base->now). With style->timeOfDay the
// labelled columns are those holding a round local clock time of the step
// (base->clockBase plus the axis time), labelled with that clock time.
void GraphDrawTimeAxis(DrawSurface* surface, const GraphStyle* style, const GraphTimeBase* base);

// The label text of time T (microseconds) for label step L into out (at
// least 32 bytes): S, M:SS or H:MM:SS with the decimals the step needs.
void GraphFormatTime(int64_t T, int64_t L, int offline, char* out);

// The label text of a local clock time (microseconds since 1970 on the local
// calendar, i.e. the UTC offset already added) for label step L into out
// (at least 32 bytes): H:MM:SS with GraphFormatTime's decimals, or the date
// YYYY-MM-DD for steps of a day or more.
void GraphFormatClock(int64_t localMicros, int64_t L, int offline, char* out);

// Microseconds since 1970 UTC as the local calendar counts them (the zone's
// offset at that instant added).
int64_t GraphLocalMicros(int64_t epochMicros);

// A raw count (bytes or packets of one column) in the unit's plotted value:
// 64-bit, multiply first, then divide by the column duration, truncating;
// unknown units give 0.
int64_t GraphToUnit(uint64_t raw, int32_t unit, int64_t interval);

// The unit's word in labels: "bytes", "bps", "packets", "pps", or "".
const char* GraphUnitWord(int32_t unit);

// The label step for a column duration (microseconds), or 0 for none.
int64_t LabelInterval(int64_t columnDuration, int offline);

// Width the sample buffer is allocated for (0 before the first frame).
// Tests.
int GraphSampleBufferWidth();
