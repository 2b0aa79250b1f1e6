// SPDX-License-Identifier: GPL-2.0-or-later
// graph.h - one frame of the traffic graph: background, grid and time axis,
// one stepped trace per filter and the legend, rendered into a DrawSurface.
//
// The renderer is handed what it draws: the view and the rows
// (graph/graphrows.h), filled by the program from its counters or its
// packet store. The two programs' frames differ only in the view's label
// rules. UI thread only. A frame allocates nothing unless the width changed.
//
// Column j of a row (0 = newest) is drawn at x = W - 1 - j. Text goes only
// through the surface's DrawText.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filterset/filterset.h"
#include "graph/drawsurface.h"
#include "graph/graphrows.h"
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

// What the last frame drew, for the legend's tool tips and hit tests.
// Valid until the next frame; UI thread.
struct GraphFrame {
    int32_t drawn;       // 1: a frame with traces was drawn (0 before the first, or when its buffers failed)
    int32_t width;       // columns of that frame
    int32_t allTraffic;  // 1: it drew the all-traffic trace alone
    LegendRect allRect;  // legend row of that trace (allTraffic only)
    int32_t hasNotice;   // 1: it drew the rows' notice under the legend
    LegendRect noticeRect;
    char noticeTip[320];
};

// ---------------------------------------------------------------- frames

// Renders one frame of view over rows into the surface (whose width is the
// view's): background, grid and time axis, then the traces of the present
// filter rows from the last to the first (lower-numbered ones on top), the
// selected row last of all, then the legend, whose label rectangles go to
// legendRects[0..rows->count). With rows->allOnly the all-traffic row is
// drawn alone, its legend row in a rectangle of its own (legendRects is
// left as it was). A notice of the rows ("dropped 1234 (kernel)") goes on
// the line under the legend's last row, in the style's warning colour.
// Returns 1, or 0 when the frame's buffers could not be
// allocated or rows hold fewer columns than the surface (the frame then
// holds background, grid and axis only).
int GraphDraw(DrawSurface* surface, const GraphStyle* style, const GraphView* view, const GraphRows* rows,
              LegendRect* legendRects);

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
// of the view in char_color, from the right edge back to time 0 (live: none
// before the first packet). With style->timeOfDay the labelled columns are
// those holding a round local clock time of the step (view->clockBase plus
// the axis time), labelled with that clock time.
void GraphDrawTimeAxis(DrawSurface* surface, const GraphStyle* style, const GraphView* view);

// The label text of time T (microseconds) for label step L into out (at
// least 32 bytes): S, M:SS or H:MM:SS with the decimals the step needs,
// after a minus sign for a time before the first packet.
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

// A value of a calculation's field with its unit (kind: CalcKind): time
// (in seconds) as "1.2 s", "20 ms", "45 µs", "3 ns"; other values to three
// significant digits with K, M, G, T, P, E ("1.52M").
void GraphFieldValueText(double v, int32_t kind, char* out, size_t size);

// The unit's word in labels: "bytes", "bps", "packets", "pps", or "".
const char* GraphUnitWord(int32_t unit);

// The label step for a column duration (microseconds), or 0 for none.
int64_t LabelInterval(int64_t columnDuration, int offline);

// Width the frame's buffers are allocated for (0 before the first frame).
// Tests.
int GraphSampleBufferWidth();
