// SPDX-License-Identifier: GPL-2.0-or-later
// graph.cpp - one frame of the traffic graph, for both time bases.
//
//   sample buffer       one value per column, re-allocated on a width change
//   units and scale     64-bit unit conversion, the 1-2-5 full-scale rule
//   trace spans         the stepped trace as one vertical run per column,
//                       painted band by band in a frame
//   GraphDrawTrace      label text and the stepped trace
//   GraphDrawLegend     colour boxes, labels, their rectangles, underline
//   frame               GraphDraw: the rows handed in, in drawing order
#include "graph/graph.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/debuglog.h"

const char* const ScaleSuffixes[27] = {
    "",    "0", "00", "K",   "0K", "00K", "M",   "0M", "00M", "G",   "0G", "00G", "T",   "0T",
    "00T", "P", "0P", "00P", "E",  "0E",  "00E", "Z",  "0Z",  "00Z", "Y",  "0Y",  "00Y",
};

// The legend text of each filter position.
static char LegendLabels[FilterSetMax][kLegendLabelSize];

namespace {

struct GraphModule {
    int32_t sampleWidth;  // columns the span rows are made for
    // The frame's traces waiting to be painted, in drawing order: trace k
    // covers rows spanTop[k * W + x] .. spanBottom[k * W + x] of column x.
    int32_t* spanTop;
    int32_t* spanBottom;
    uint64_t* spanCovered;  // PaintSpans: per column, the band's rows a later trace took
    uint32_t spanColor[FilterSetMax + 1];
    int32_t spanFirstRow[FilterSetMax + 1];  // rows trace k touches at all
    int32_t spanLastRow[FilterSetMax + 1];
    int32_t spanCount;
    GraphFrame frame;  // GraphLastFrame
    // What each legend row's number is, for its tool tip (kept with LegendLabels).
    char legendScale[FilterSetMax][32];
    int32_t legendUnit[FilterSetMax];
};
GraphModule Graph;

// ---------------------------------------------------------------- span buffers

void FreeBuffers() {
    free(Graph.spanTop);
    free(Graph.spanBottom);
    free(Graph.spanCovered);
    Graph.spanTop = Graph.spanBottom = nullptr;
    Graph.spanCovered = nullptr;
    Graph.sampleWidth = 0;
}

// The span rows for a frame of the given width, made anew only when the
// width changed.
int EnsureSpanBuffers(int width) {
    if (Graph.spanTop && Graph.sampleWidth == width) return 1;
    FreeBuffers();
    size_t w = static_cast<size_t>(width);
    size_t traces = FilterSetMax + 1;
    Graph.spanTop = static_cast<int32_t*>(malloc(w * traces * sizeof(int32_t)));
    Graph.spanBottom = static_cast<int32_t*>(malloc(w * traces * sizeof(int32_t)));
    Graph.spanCovered = static_cast<uint64_t*>(malloc(w * sizeof(uint64_t)));
    if (!Graph.spanTop || !Graph.spanBottom || !Graph.spanCovered) {
        DEBUG_LOG("GraphDraw() err,malloc() failed,width=%d", width);
        FreeBuffers();
        return 0;
    }
    Graph.sampleWidth = width;
    return 1;
}

// ---------------------------------------------------------------- units and scale

// A raw count (bytes or packets of one column) in the entry's unit: 64-bit,
// multiply first, then divide by the column duration, truncating. Unknown
// units (and a duration below 1, which no setting produces) plot 0.
int64_t ToUnit(uint64_t raw, int32_t unit, int64_t interval) {
    switch (unit) {
        case UnitByte:
        case UnitPacket: return static_cast<int64_t>(raw);
        case UnitBps:
            if (interval <= 0) return 0;
            return static_cast<int64_t>(raw * 8000000u) / interval;
        case UnitPps:
            if (interval <= 0) return 0;
            return static_cast<int64_t>(raw * 1000000u) / interval;
        default: return 0;
    }
}

const char* UnitWord(int32_t unit) {
    switch (unit) {
        case UnitByte: return "bytes";
        case UnitBps: return "bps";
        case UnitPacket: return "packets";
        case UnitPps: return "pps";
        default: return "";
    }
}

// The full scale F of the entry and its text. Automatic: the smallest value
// of the 1-2-5 series at or above the column maximum, by the logarithm in
// double precision (a maximum on a series value may take the next one as the
// rounding of log10 falls). Fixed: the stored scale, drawn as 1 when it is 0
// or less so that no division by zero or sign flip reaches the trace.
double FullScale(const uint64_t* buffer, int W, int64_t interval, const FilterEntry* entry, char* text, size_t size) {
    if (!entry->autoScale) {
        snprintf(text, size, "%" PRId64, entry->scale);
        return entry->scale > 0 ? static_cast<double>(entry->scale) : 1.0;
    }
    int64_t maxRaw = 0;
    for (int j = 0; j < W; ++j) {
        int64_t v = static_cast<int64_t>(buffer[j]);
        if (v > maxRaw) maxRaw = v;
    }
    int64_t m = ToUnit(static_cast<uint64_t>(maxRaw), entry->unit, interval);
    double d = m > 0 ? static_cast<double>(m) : 1.0;
    double lg = log10(d);
    double e = floor(lg);
    double f = lg - e;
    int exponent = static_cast<int>(e);
    double scale;
    char digit;
    if (f == 0) {
        scale = pow(10.0, e);
        digit = '1';
    } else if (f <= log10(2.0)) {
        scale = 2 * pow(10.0, e);
        digit = '2';
    } else if (f <= log10(5.0)) {
        scale = 5 * pow(10.0, e);
        digit = '5';
    } else {
        scale = pow(10.0, e + 1);
        digit = '1';
        ++exponent;
    }
    // an int64 maximum stays below 10^19, so the exponent is at most 19
    snprintf(text, size, "%c%s", digit, ScaleSuffixes[exponent]);
    return scale;
}

// Row of a value: 0 on the bottom row, F on the top row, above F off the
// top. Rows beyond -1 and H are pulled in to -1 and H: they stay off the
// buffer, so the clipped joins write the same pixels, and the conversion
// to int never overflows.
int RowOf(int64_t value, double fullScale, int H) {
    double q = static_cast<double>(value) / fullScale * static_cast<double>(H - 1);
    if (q > static_cast<double>(H)) q = static_cast<double>(H);
    if (q < -1.0) q = -1.0;
    return H - 1 - static_cast<int>(q);
}

// ---------------------------------------------------------------- trace spans

// The stepped trace as it lands on the buffer. Point j (x = W - 1 - j) is
// joined to point j - 1 by a vertical run in the column of the higher of
// the two, so column x holds its own point and the runs down to whichever
// neighbour lies lower: one run from y_j to the largest of y_(j-1), y_j,
// y_(j+1). emit(x, top, bottom) gets each column's run clipped to the rows
// (top > bottom when it lies off the buffer).
template <typename Emit>
void TraceSpans(const uint64_t* buffer, int W, int H, int32_t unit, int64_t interval, double fullScale, Emit emit) {
    if (W <= 0) return;
    int previous = 0;
    int current = RowOf(ToUnit(buffer[0], unit, interval), fullScale, H);
    for (int j = 0; j < W; ++j) {
        int next = j + 1 < W ? RowOf(ToUnit(buffer[j + 1], unit, interval), fullScale, H) : current;
        int bottom = current;
        if (j > 0 && previous > bottom) bottom = previous;
        if (next > bottom) bottom = next;
        emit(W - 1 - j, current < 0 ? 0 : current, bottom > H - 1 ? H - 1 : bottom);
        previous = current;
        current = next;
    }
}

// Paints the frame's waiting traces in their order. The buffer is walked in
// bands of rows small enough to stay in cache: a column run touches one
// cache line per row, and painting every trace over one band before moving
// to the next turns 16 passes over the whole picture into one. Within a
// band the traces come from the last to the first, and each column writes
// only the rows no later trace has taken, so every pixel gets at most one
// write however much the traces overlap, and ends in the colour of the
// last trace over it.
void PaintSpans(DrawSurface* surface) {
    int W = surface->width;
    int H = surface->height;
    size_t stride = static_cast<size_t>(W);
    int band = 65536 / W;
    if (band < 8) band = 8;
    if (band > 64) band = 64;  // one bit a row of the band
    uint64_t* covered = Graph.spanCovered;
    for (int first = 0; first < H; first += band) {
        int last = first + band - 1 < H - 1 ? first + band - 1 : H - 1;
        int any = 0;
        for (int k = Graph.spanCount - 1; k >= 0; --k) {
            if (Graph.spanLastRow[k] < first || Graph.spanFirstRow[k] > last) continue;
            if (!any) memset(covered, 0, stride * sizeof(uint64_t));
            any = 1;
            const int32_t* top = Graph.spanTop + static_cast<size_t>(k) * stride;
            const int32_t* bottom = Graph.spanBottom + static_cast<size_t>(k) * stride;
            uint32_t color = Graph.spanColor[k];
            for (int x = 0; x < W; ++x) {
                int lo = top[x] > first ? top[x] : first;
                int hi = bottom[x] < last ? bottom[x] : last;
                if (lo > hi) continue;
                int n = hi - lo + 1;
                uint64_t run = (n == 64 ? ~0ull : (1ull << n) - 1) << (lo - first);
                uint64_t fresh = run & ~covered[x];
                covered[x] |= run;
                while (fresh) {
                    int r = __builtin_ctzll(fresh);
                    uint64_t rest = ~(fresh >> r);
                    int length = rest ? __builtin_ctzll(rest) : 64 - r;
                    uint32_t* p = surface->pixels + static_cast<size_t>(first + r) * stride + x;
                    for (int y = 0; y < length; ++y, p += stride) *p = color;
                    fresh &= r + length >= 64 ? 0 : ~0ull << (r + length);
                }
            }
        }
    }
    Graph.spanCount = 0;
}

// The full scale and the legend label of a trace (the label goes into
// LegendLabels[index]).
double TraceLabel(const uint64_t* buffer, int W, int64_t interval, const FilterEntry* entry, int index,
                  const char* errorText) {
    char scaleText[32];
    double fullScale = FullScale(buffer, W, interval, entry, scaleText, sizeof scaleText);
    char label[kLegendLabelSize];
    if (errorText && errorText[0]) {
        snprintf(label, sizeof label, "error: %.255s", errorText);
    } else {
        snprintf(label, sizeof label, "%s %s : %.255s", scaleText, UnitWord(entry->unit), entry->filterText);
    }
    if (index >= 0 && index < FilterSetMax) {
        memcpy(LegendLabels[index], label, strlen(label) + 1);
        memcpy(Graph.legendScale[index], scaleText, strlen(scaleText) + 1);
        Graph.legendUnit[index] = entry->unit;
    }
    return fullScale;
}

// GraphDrawTrace for a frame: the label at once, the trace queued for
// PaintSpans.
void QueueTrace(DrawSurface* surface, const uint64_t* buffer, const FilterEntry* entry, int index,
                const char* errorText, int visible, int64_t interval) {
    int W = surface->width;
    double fullScale = TraceLabel(buffer, W, interval, entry, index, errorText);
    if (!visible || Graph.spanCount > FilterSetMax) return;
    size_t row = static_cast<size_t>(Graph.spanCount) * static_cast<size_t>(W);
    int32_t* top = Graph.spanTop + row;
    int32_t* bottom = Graph.spanBottom + row;
    int firstRow = surface->height;
    int lastRow = -1;
    TraceSpans(buffer, W, surface->height, entry->unit, interval, fullScale, [&](int x, int lo, int hi) {
        top[x] = lo;
        bottom[x] = hi;
        if (lo > hi) return;
        if (lo < firstRow) firstRow = lo;
        if (hi > lastRow) lastRow = hi;
    });
    Graph.spanFirstRow[Graph.spanCount] = firstRow;
    Graph.spanLastRow[Graph.spanCount] = lastRow;
    Graph.spanColor[Graph.spanCount++] = entry->color;
}

// ---------------------------------------------------------------- frame

// A row's counts as its trace plots them: packets for the packet units,
// bytes otherwise.
const uint64_t* RowCounts(const GraphRow* row) {
    return row->entry.unit == UnitPacket || row->entry.unit == UnitPps ? row->packets : row->bytes;
}

void DrawRow(DrawSurface* surface, const GraphView* view, const GraphRows* rows, int i) {
    const GraphRow* row = &rows->filter[i];
    if (!row->present) return;
    QueueTrace(surface, RowCounts(row), &row->entry, i, row->message, row->visible, view->columnTime);
}

// The trace of all traffic alone; its legend row gets a rectangle of its
// own so the window's rectangles stay as they were.
void DrawAll(DrawSurface* surface, const GraphView* view, const GraphRows* rows) {
    static const int kVisible[1] = {1};
    const GraphRow* all = &rows->all;
    QueueTrace(surface, all->bytes, &all->entry, 0, all->message, 1, view->columnTime);
    PaintSpans(surface);
    Graph.frame.allTraffic = 1;
    GraphDrawLegend(surface, &all->entry, 1, -1, &Graph.frame.allRect, kVisible);
}

}  // namespace

// ---------------------------------------------------------------- operations

int GraphSampleBufferWidth() { return Graph.sampleWidth; }

int64_t GraphToUnit(uint64_t raw, int32_t unit, int64_t interval) { return ToUnit(raw, unit, interval); }

const char* GraphUnitWord(int32_t unit) { return UnitWord(unit); }

void GraphDrawTrace(DrawSurface* surface, const uint64_t* buffer, int W, int64_t interval, const FilterEntry* entry,
                    int index, const char* errorText, int visible) {
    double fullScale = TraceLabel(buffer, W, interval, entry, index, errorText);
    if (!visible || !surface->pixels) return;
    uint32_t color = entry->color;
    TraceSpans(buffer, W, surface->height, entry->unit, interval, fullScale, [&](int x, int lo, int hi) {
        if (lo <= hi) DrawSurfaceLine(surface, color, x, lo, x, hi);
    });
}

void GraphDrawLegend(DrawSurface* surface, const FilterEntry* entries, int count, int selected, LegendRect* legendRects,
                     const int* filterVisible) {
    if (count > FilterSetMax) count = FilterSetMax;
    const DrawText* text = surface->text;
    for (int i = 0; i < count; ++i) {
        uint32_t color = entries[i].color;
        int top = 6 + 16 * i;
        int bottom = 14 + 16 * i;
        if (!filterVisible || filterVisible[i]) {
            for (int y = top; y <= bottom; ++y) {
                for (int x = 6; x <= 14; ++x) DrawSurfacePixelAt(surface, x, y) = color;
            }
        } else {
            DrawSurfaceLine(surface, color, 6, top, 6, bottom);
            DrawSurfaceLine(surface, color, 14, top, 14, bottom);
            DrawSurfaceLine(surface, color, 6, top, 14, top);
            DrawSurfaceLine(surface, color, 6, bottom, 14, bottom);
        }
        LegendRect* rect = &legendRects[i];
        rect->left = 20;
        rect->top = 4 + 16 * i;
        int width = 0;
        int height = 0;
        if (text && text->measure) text->measure(text->context, surface, LegendLabels[i], &width, &height);
        rect->right = rect->left + width;
        rect->bottom = rect->top + height;
        if (text && text->draw) text->draw(text->context, surface, rect->left, rect->top, color, LegendLabels[i]);
        if (i == selected) DrawSurfaceLine(surface, color, rect->left, rect->bottom, rect->right, rect->bottom);
    }
}

// The rows' notice on the line under the legend's `lines` rows.
static void DrawNotice(DrawSurface* surface, const GraphStyle* style, const GraphRows* rows, int lines) {
    const DrawText* text = surface->text;
    LegendRect* rect = &Graph.frame.noticeRect;
    rect->left = 20;
    rect->top = 4 + 16 * lines;
    int width = 0, height = 0;
    if (text && text->measure) text->measure(text->context, surface, rows->notice, &width, &height);
    rect->right = rect->left + width;
    rect->bottom = rect->top + height;
    if (text && text->draw) text->draw(text->context, surface, rect->left, rect->top, style->warnColor, rows->notice);
    Graph.frame.hasNotice = 1;
    snprintf(Graph.frame.noticeTip, sizeof Graph.frame.noticeTip, "%s", rows->noticeTip);
}

int GraphDraw(DrawSurface* surface, const GraphStyle* style, const GraphView* view, const GraphRows* rows,
              LegendRect* legendRects) {
    if (!surface || !surface->pixels || surface->width <= 0 || surface->height <= 0) return 0;
    const DrawText* text = surface->text;
    if (text && text->begin) text->begin(text->context, surface);

    int result = 0;
    int W = surface->width;
    DrawSurfaceFill(surface, style->backColor);
    GraphDrawTimeAxis(surface, style, view);
    memset(&Graph.frame, 0, sizeof Graph.frame);
    if (rows->width >= W && rows->storage && EnsureSpanBuffers(W)) {
        Graph.frame.width = W;
        if (rows->allOnly) {
            DrawAll(surface, view, rows);
        } else {
            int count = rows->count;
            int selected = rows->selected >= 0 && rows->selected < count ? rows->selected : -1;
            // last to first, so that lower-numbered filters lie on top; the
            // selected one last of all
            for (int i = count - 1; i >= 0; --i) {
                if (i != selected) DrawRow(surface, view, rows, i);
            }
            if (selected >= 0) DrawRow(surface, view, rows, selected);
            PaintSpans(surface);
            int visible[FilterSetMax];
            FilterEntry entries[FilterSetMax];
            for (int i = 0; i < count; ++i) {
                entries[i] = rows->filter[i].entry;
                visible[i] = rows->filter[i].visible;
            }
            GraphDrawLegend(surface, entries, count, selected, legendRects, visible);
        }
        if (rows->notice[0]) DrawNotice(surface, style, rows, rows->allOnly ? 1 : rows->count);
        Graph.frame.drawn = 1;
        result = 1;
    }

    if (text && text->end) text->end(text->context, surface);
    return result;
}

const GraphFrame* GraphLastFrame() { return &Graph.frame; }

int GraphLegendTip(int index, char* out, size_t size) {
    if (index < 0 || index >= FilterSetMax || !LegendLabels[index][0] || size == 0) return 0;
    static const char kError[] = "error: ";
    if (strncmp(LegendLabels[index], kError, sizeof kError - 1) == 0) {
        snprintf(out, size, "%s", LegendLabels[index] + sizeof kError - 1);
        return 1;
    }
    const char* unit = UnitWord(Graph.legendUnit[index]);
    snprintf(out, size, "full scale: %s%s%s, top of the graph", Graph.legendScale[index], unit[0] ? " " : "", unit);
    return 1;
}

const char* GraphLegendLabel(int index) {
    if (index < 0 || index >= FilterSetMax) return "";
    return LegendLabels[index];
}

void GraphSetLegendLabel(int index, const char* text) {
    if (index < 0 || index >= FilterSetMax) return;
    snprintf(LegendLabels[index], kLegendLabelSize, "%s", text ? text : "");
}
