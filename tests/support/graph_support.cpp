// SPDX-License-Identifier: GPL-2.0-or-later
// graph_support.cpp - recording text, test surfaces and entries for the
// graph tests.
#include "tests/support/graph_support.h"

#include <cstring>

#include "graph/readout.h"
#include "offline/offlinerows.h"
#include "platform/platform.h"
#include "shell/liverows.h"

namespace {
GraphView FrameView{};
GraphRows FrameRows{};
}  // namespace

static void RecordDraw(void* context, DrawSurface*, int x, int y, uint32_t color, const char* text) {
    static_cast<TextRecorder*>(context)->calls.push_back({x, y, color, text});
}

static void RecordMeasure(void*, DrawSurface*, const char* text, int* width, int* height) {
    *width = 6 * static_cast<int>(strlen(text));
    *height = 12;
}

TextRecorder::TextRecorder() : text{this, &RecordDraw, &RecordMeasure, nullptr, nullptr} {}

std::vector<RecordedText> TextRecorder::Find(const std::string& t) const {
    std::vector<RecordedText> out;
    for (const RecordedText& c : calls)
        if (c.text == t) out.push_back(c);
    return out;
}

TestSurface::TestSurface(int w, int h) { Resize(w, h); }

TestSurface::~TestSurface() { DrawSurfaceRelease(&s); }

void TestSurface::Resize(int w, int h) {
    DrawSurfaceRelease(&s);
    DrawSurfaceCreate(&s, w, h);
    s.text = &recorder.text;
}

std::set<std::pair<int, int>> TestSurface::Lit(uint32_t c) const {
    std::set<std::pair<int, int>> p;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            if (At(x, y) == c) p.insert({x, y});
    return p;
}

std::vector<int> TestSurface::RowsIn(int x, uint32_t c) const {
    std::vector<int> rows;
    for (int y = 0; y < s.height; ++y)
        if (At(x, y) == c) rows.push_back(y);
    return rows;
}

Settings GraphTestSettings() {
    Settings s;
    memset(&s, 0, sizeof s);
    s.binCount = 65536;
    s.backColor = 0x000000;
    s.lineColor = 0x0000a0;
    s.charColor = 0xa0a0ff;
    s.samplingInterval = 50000;
    s.drawInterval = 20;
    return s;
}

const GraphStyle* GraphTestStyle(const Settings& settings) {
    static GraphStyle style;
    style = SettingsGraphStyle(&settings);
    return &style;
}

FilterEntry GraphTestEntry(const char* text, int32_t unit, uint32_t color, int32_t autoScale, int64_t scale) {
    FilterEntry e;
    memset(&e, 0, sizeof e);
    strncpy(e.filterText, text, sizeof e.filterText - 1);
    e.color = color;
    e.autoScale = autoScale;
    e.scale = scale;
    e.unit = unit;
    return e;
}

int TestDrawLive(DrawSurface* s, const Settings& settings, const FilterEntry* entries, int count, int selected,
                 LegendRect* rects, const int* visible) {
    const int64_t now = PerfCounter();
    LiveViewAt(&FrameView, now, settings.samplingInterval, s->width);
    LiveRowsFill(&FrameRows, &FrameView, now, settings.binCount, entries, count, visible, selected);
    return GraphDraw(s, GraphTestStyle(settings), &FrameView, &FrameRows, rects);
}

int TestDrawOffline(DrawSurface* s, const Settings& settings, const FilterEntry* entries, int count, int selected,
                    LegendRect* rects, const int* visible, int64_t C, int64_t R) {
    OfflineViewOf(&FrameView, s->width, C, R);
    OfflineRowsFill(&FrameRows, &FrameView, entries, count, visible, selected, nullptr);
    return GraphDraw(s, GraphTestStyle(settings), &FrameView, &FrameRows, rects);
}

int TestReadout(DrawSurface* s, const Settings& settings, int x, int y) {
    return GraphDrawReadout(s, GraphTestStyle(settings), &FrameView, &FrameRows, x, y);
}

const GraphView* TestFrameView() { return &FrameView; }

const GraphRows* TestFrameRows() { return &FrameRows; }
