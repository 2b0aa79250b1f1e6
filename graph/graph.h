// graph.h - one frame of the traffic graph: background, grid and time axis,
// one stepped trace per filter and the legend, rendered into a DrawSurface.
//
// One renderer serves both programs; only the time base differs:
//   live     columns are sampling intervals up to "now" (performance
//            counter), counts from the rawshark manager and the total counter
//   offline  columns are C microseconds wide ending with the one holding R,
//            counts folded from the packet store
// UI thread only. A frame allocates nothing unless the width changed.
#pragma once

#include <cstdint>

#include "filterset/filterset.h"
#include "graph/drawsurface.h"
#include "shell/settings.h"

struct LegendRect {
    int32_t left, top, right, bottom;
};

// The 27 suffixes of the full-scale text by decimal exponent: "", "0", "00",
// "K", "0K", ... "00Y".
extern const char* const ScaleSuffixes[27];

// Live frame. Returns 1, or 0 when the sample buffer could not be allocated
// (the frame then holds background, grid and axis only).
int GraphDraw(DrawSurface* surface, const Settings* settings, const FilterEntry* entries, int count,
              int selected, LegendRect* legendRects, const int* filterVisible);

// Offline frame with column width C and right-edge time R (microseconds).
int GraphDrawOffline(DrawSurface* surface, const Settings* settings, const FilterEntry* entries,
                     int count, int selected, LegendRect* legendRects, const int* filterVisible,
                     int64_t columnWidth, int64_t rightEdgeTime);

// The label text of time T (microseconds) for label step L into out (at
// least 32 bytes): S, M:SS or H:MM:SS with the decimals the step needs.
void GraphFormatTime(int64_t T, int64_t L, int offline, char* out);

// The label step for a column duration (microseconds), or 0 for none.
int64_t LabelInterval(int64_t columnDuration, int offline);
