// SPDX-License-Identifier: GPL-2.0-or-later
// graph_support.h - what the graph tests share: a DrawText that records
// every label (and measures 6 pixels per character, 12 high), a surface,
// settings and filter entries with the designed defaults.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "filterset/filterset.h"
#include "graph/drawsurface.h"
#include "graph/graph.h"
#include "graph/graphrows.h"
#include "shell/settings.h"

struct RecordedText {
    int x, y;
    uint32_t color;
    std::string text;
};

struct TextRecorder {
    std::vector<RecordedText> calls;
    DrawText text;
    TextRecorder();
    // The recorded labels whose text is `text`.
    std::vector<RecordedText> Find(const std::string& text) const;
};

// A surface of w x h with a recording text interface; released on scope end.
struct TestSurface {
    DrawSurface s{};
    TextRecorder recorder;
    TestSurface(int w, int h);
    ~TestSurface();
    void Resize(int w, int h);
    uint32_t At(int x, int y) const { return s.pixels[y * s.width + x] & 0xffffff; }
    // Every pixel of colour c, as (x, y).
    std::set<std::pair<int, int>> Lit(uint32_t c) const;
    // Rows of column x with colour c.
    std::vector<int> RowsIn(int x, uint32_t c) const;
};

// The settings a fresh lumo.ini gives (colours, 50000 us, 65536 bins).
Settings GraphTestSettings();

// The renderer's style for settings, refilled at each call (the pointer
// stays valid until the next one): tests change settings between frames.
const GraphStyle* GraphTestStyle(const Settings& settings);

FilterEntry GraphTestEntry(const char* text, int32_t unit, uint32_t color, int32_t autoScale = 1, int64_t scale = 0);

// Whole frames as the windows draw them: the view and rows filled by the
// program's own filler, then GraphDraw. The view and rows stay (until the
// next frame) for TestReadout, TestFrameView and TestFrameRows.
//   live     lumo's at PerfCounter(): sampling interval and bins of settings,
//            counts from the ring, the counters and the rawshark manager
//   offline  lumo_offline's with column width C and right edge R, counts
//            folded from the packet store (no messages)
int TestDrawLive(DrawSurface* s, const Settings& settings, const FilterEntry* entries, int count, int selected,
                 LegendRect* rects, const int* visible);
int TestDrawOffline(DrawSurface* s, const Settings& settings, const FilterEntry* entries, int count, int selected,
                    LegendRect* rects, const int* visible, int64_t C, int64_t R);
// The readout over the last test frame for the pointer at (x, y).
int TestReadout(DrawSurface* s, const Settings& settings, int x, int y);
const GraphView* TestFrameView();
const GraphRows* TestFrameRows();
