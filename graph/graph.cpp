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

#include <algorithm>
#include <cinttypes>
#include <climits>
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

// Every trace of a frame: the filters and all traffic, each with a second
// trace for the fill of bars.
constexpr int kMaxTraces = 2 * (FilterSetMax + 1);

struct GraphModule {
    int32_t sampleWidth;  // columns the span rows are made for
    // The frame's traces waiting to be painted, in drawing order: trace k
    // covers rows spanTop[k * W + x] .. spanBottom[k * W + x] of column x.
    int32_t* spanTop;
    int32_t* spanBottom;
    uint64_t* spanCovered;  // PaintSpans: per column, the band's rows a later trace took
    uint32_t spanColor[kMaxTraces];
    int32_t spanFirstRow[kMaxTraces];  // rows trace k touches at all
    int32_t spanLastRow[kMaxTraces];
    int32_t spanCount;
    double* values;    // a row's plotted values per column (the general path)
    uint8_t* has;      // 0: no value in that column (a gap)
    double* averaged;  // the moving average's output
    int32_t* rowsOf;   // the rows of the values, INT32_MIN for a gap
    GraphFrame frame;  // GraphLastFrame
    // What each legend row's number is, for its tool tip (kept with LegendLabels).
    char legendScale[FilterSetMax][64];
    int32_t legendUnit[FilterSetMax];
};
GraphModule Graph;

// ---------------------------------------------------------------- span buffers

void FreeBuffers() {
    free(Graph.spanTop);
    free(Graph.spanBottom);
    free(Graph.spanCovered);
    free(Graph.values);
    free(Graph.has);
    free(Graph.averaged);
    free(Graph.rowsOf);
    Graph.rowsOf = nullptr;
    Graph.spanTop = Graph.spanBottom = nullptr;
    Graph.spanCovered = nullptr;
    Graph.values = Graph.averaged = nullptr;
    Graph.has = nullptr;
    Graph.sampleWidth = 0;
}

// The span rows for a frame of the given width, made anew only when the
// width changed.
int EnsureSpanBuffers(int width) {
    if (Graph.spanTop && Graph.sampleWidth == width) return 1;
    FreeBuffers();
    size_t w = static_cast<size_t>(width);
    size_t traces = kMaxTraces;
    Graph.spanTop = static_cast<int32_t*>(malloc(w * traces * sizeof(int32_t)));
    Graph.spanBottom = static_cast<int32_t*>(malloc(w * traces * sizeof(int32_t)));
    Graph.spanCovered = static_cast<uint64_t*>(malloc(w * sizeof(uint64_t)));
    Graph.values = static_cast<double*>(malloc(w * sizeof(double)));
    Graph.averaged = static_cast<double*>(malloc(w * sizeof(double)));
    Graph.has = static_cast<uint8_t*>(malloc(w));
    Graph.rowsOf = static_cast<int32_t*>(malloc(w * sizeof(int32_t)));
    if (!Graph.spanTop || !Graph.spanBottom || !Graph.spanCovered || !Graph.values || !Graph.averaged || !Graph.has ||
        !Graph.rowsOf) {
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
double ScaleOfMax(int64_t m, char* text, size_t size);

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
    return ScaleOfMax(ToUnit(static_cast<uint64_t>(maxRaw), entry->unit, interval), text, size);
}

// The 1-2-5 full scale at or above a maximum m, and its text ("50K").
double ScaleOfMax(int64_t m, char* text, size_t size) {
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

// A trace in the frame's queue from spans computed by fill(top, bottom).
template <typename Fill>
void QueueSpans(DrawSurface* surface, uint32_t color, Fill fill) {
    if (Graph.spanCount >= kMaxTraces) return;
    int W = surface->width;
    size_t base = static_cast<size_t>(Graph.spanCount) * static_cast<size_t>(W);
    int32_t* top = Graph.spanTop + base;
    int32_t* bottom = Graph.spanBottom + base;
    int firstRow = surface->height, lastRow = -1;
    fill([&](int x, int lo, int hi) {
        top[x] = lo;
        bottom[x] = hi;
        if (lo > hi) return;
        if (lo < firstRow) firstRow = lo;
        if (hi > lastRow) lastRow = hi;
    });
    Graph.spanFirstRow[Graph.spanCount] = firstRow;
    Graph.spanLastRow[Graph.spanCount] = lastRow;
    Graph.spanColor[Graph.spanCount++] = color;
}

// GraphDrawTrace for a frame: the label at once, the trace queued for
// PaintSpans.
void QueueTrace(DrawSurface* surface, const uint64_t* buffer, const FilterEntry* entry, int index,
                const char* errorText, int visible, int64_t interval) {
    double fullScale = TraceLabel(buffer, surface->width, interval, entry, index, errorText);
    if (!visible) return;
    QueueSpans(surface, entry->color, [&](auto emit) {
        TraceSpans(buffer, surface->width, surface->height, entry->unit, interval, fullScale, emit);
    });
}

// ---------------------------------------------------------------- values

// The general path: a trace of plotted values (doubles, with gaps), for a
// calculation, a log scale, a moving average or a style other than the
// line. The designed trace above stays the line of plain counts.

// A value of a calculation's field with its unit: time in s, ms, us or ns
// by its size, other values with K, M, G, T below 1000 of them, three
// significant digits.
}  // namespace

void GraphFieldValueText(double v, int32_t kind, char* out, size_t size) {
    if (kind == CalcKindTime) {
        static const struct {
            double at;
            const char* unit;
        } kTime[] = {{1.0, "s"}, {1e-3, "ms"}, {1e-6, "\xc2\xb5s"}, {1e-9, "ns"}};
        for (const auto& t : kTime) {
            if (fabs(v) >= t.at || t.at == 1e-9) {
                snprintf(out, size, "%.3g %s", v / t.at, t.unit);
                return;
            }
        }
    }
    static const char kPrefixes[] = " KMGTPE";
    int k = 0;
    while (fabs(v) >= 999.5 && k < 6) {
        v /= 1000.0;
        ++k;
    }
    if (k == 0) {
        snprintf(out, size, "%.3g", v);
    } else {
        snprintf(out, size, "%.3g%c", v, kPrefixes[k]);
    }
}

namespace {

// The row's plotted values per column into Graph.values / Graph.has.
void RowValues(const GraphRow* row, int W, int64_t interval) {
    const FilterEntry* e = &row->entry;
    if (e->calc == CalcNone) {
        const uint64_t* counts = e->unit == UnitPacket || e->unit == UnitPps ? row->packets : row->bytes;
        for (int j = 0; j < W; ++j) {
            Graph.values[j] = static_cast<double>(ToUnit(counts[j], e->unit, interval));
            Graph.has[j] = 1;
        }
        return;
    }
    for (int j = 0; j < W; ++j) {
        long double v;
        Graph.has[j] = static_cast<uint8_t>(CalcValue(&row->calc[j], e->calc, &v));
        Graph.values[j] = Graph.has[j] ? CalcPlotted(v, row->calcKind) : 0.0;
    }
}

// Each column the mean of its value and the n - 1 older ones that have one.
void MovingAverage(int W, int n) {
    double sum = 0;
    int have = 0;
    // from the oldest column to the newest, a window sliding over j .. j+n-1
    for (int j = W - 1; j >= 0; --j) {
        if (Graph.has[j]) {
            sum += Graph.values[j];
            ++have;
        }
        int leaving = j + n;
        if (leaving < W && Graph.has[leaving]) {
            sum -= Graph.values[leaving];
            --have;
        }
        Graph.averaged[j] = have ? sum / have : 0.0;
    }
    for (int j = 0; j < W; ++j) {
        // a column the window reaches holds a value
        int any = 0;
        for (int k = j; k < j + n && k < W && !any; ++k) any = Graph.has[k];
        Graph.values[j] = Graph.averaged[j];
        Graph.averaged[j] = any;
    }
    for (int j = 0; j < W; ++j) Graph.has[j] = Graph.averaged[j] != 0.0;
}

// The full scale of the values and its text with the row's unit word
// ("50K bps", "20 ms").
double ValuesScale(const GraphRow* row, int W, char* text, size_t size) {
    const FilterEntry* e = &row->entry;
    if (!e->autoScale) {
        snprintf(text, size, "%" PRId64 "%s%s", e->scale, e->calc == CalcNone && UnitWord(e->unit)[0] ? " " : "",
                 e->calc == CalcNone ? UnitWord(e->unit) : "");
        return e->scale > 0 ? static_cast<double>(e->scale) : 1.0;
    }
    double m = 0;
    for (int j = 0; j < W; ++j) {
        if (Graph.has[j] && Graph.values[j] > m) m = Graph.values[j];
    }
    if (e->calc == CalcNone) {
        char digits[32];
        double scale = ScaleOfMax(static_cast<int64_t>(ceil(m)), digits, sizeof digits);
        snprintf(text, size, "%s %s", digits, UnitWord(e->unit));
        return scale;
    }
    if (m <= 0) m = 1e-300;
    double lg = floor(log10(m));
    double base = pow(10.0, lg);
    double f = m / base;
    double scale = (f <= 1.0 ? 1.0 : f <= 2.0 ? 2.0 : f <= 5.0 ? 5.0 : 10.0) * base;
    if (m == 1e-300) scale = 1.0;
    GraphFieldValueText(scale, row->calcKind, text, size);
    return scale;
}

// Row of a plotted value, linear or logarithmic (five decades under the
// full scale; zero and below on the bottom row), pulled into -1 .. H as
// RowOf does.
int RowOfValue(double v, double fullScale, int H, int logScale) {
    double q;
    if (logScale) {
        double lo = fullScale / 1e5;
        q = v <= lo ? 0.0 : (log10(v) - log10(lo)) / (log10(fullScale) - log10(lo));
    } else {
        q = v / fullScale;
    }
    q *= static_cast<double>(H - 1);
    if (q > static_cast<double>(H)) q = static_cast<double>(H);
    if (q < -1.0) q = -1.0;
    return H - 1 - static_cast<int>(q);
}

// The columns' runs of a trace of values in a style. rows[j] is column j's
// row, or INT32_MIN for no value. emit(x, top, bottom) as TraceSpans.
template <typename Emit>
void ValueSpans(const int32_t* rows, int W, int H, int32_t style, Emit emit) {
    const int32_t none = INT32_MIN;
    for (int j = 0; j < W; ++j) {
        int x = W - 1 - j;
        int y = rows[j];
        if (y == none) {
            emit(x, 1, 0);
            continue;
        }
        int top = y, bottom = y;
        switch (style) {
            case StyleImpulse:
            case StyleBar: bottom = H - 1; break;
            case StyleDots: bottom = y + 1; break;
            case StyleStep:
                // the join to the older point stands in this (the newer) column
                if (j + 1 < W && rows[j + 1] != none) {
                    top = y < rows[j + 1] ? y : rows[j + 1];
                    bottom = y > rows[j + 1] ? y : rows[j + 1];
                }
                break;
            default: {
                // the designed joins: each in the column of the higher point
                int older = j + 1 < W ? rows[j + 1] : none;
                int newer = j > 0 ? rows[j - 1] : none;
                if (newer != none && newer > bottom) bottom = newer;
                if (older != none && older > bottom) bottom = older;
                break;
            }
        }
        if (top > bottom) std::swap(top, bottom);
        emit(x, top < 0 ? 0 : top, bottom > H - 1 ? H - 1 : bottom);
    }
}

// The general trace of a row and its legend label.
void QueueValueTrace(DrawSurface* surface, const GraphStyle* style, const GraphRow* row, int index, int64_t interval) {
    const int W = surface->width, H = surface->height;
    const FilterEntry* e = &row->entry;
    RowValues(row, W, interval);
    if (style->movingAverage > 1) MovingAverage(W, style->movingAverage);
    char scaleText[64];
    double fullScale = ValuesScale(row, W, scaleText, sizeof scaleText);
    char label[kLegendLabelSize];
    if (row->message[0]) {
        snprintf(label, sizeof label, "error: %.255s", row->message);
    } else if (e->calc != CalcNone) {
        snprintf(label, sizeof label, "%s %.127s%s%.255s : %s", FilterCalcKeyword(e->calc), e->calcField,
                 e->filterText[0] ? " of " : "", e->filterText, scaleText);
    } else {
        snprintf(label, sizeof label, "%s : %.255s", scaleText, e->filterText);
    }
    if (index >= 0 && index < FilterSetMax) {
        memcpy(LegendLabels[index], label, strlen(label) + 1);
        snprintf(Graph.legendScale[index], sizeof Graph.legendScale[index], "%s", scaleText);
        Graph.legendUnit[index] = -1;  // the unit is in the scale's text
    }
    if (!row->visible) return;
    int32_t* rows = Graph.rowsOf;
    for (int j = 0; j < W; ++j) {
        rows[j] = Graph.has[j] ? RowOfValue(Graph.values[j], fullScale, H, style->logScale) : INT32_MIN;
    }
    if (e->style == StyleBar) {
        // a dimmed fill under the points in the full colour
        uint32_t dim = (e->color >> 1) & 0x7f7f7f;
        QueueSpans(surface, dim, [&](auto emit) { ValueSpans(rows, W, H, StyleBar, emit); });
        QueueSpans(surface, e->color, [&](auto emit) { ValueSpans(rows, W, H, StyleDots, emit); });
        return;
    }
    QueueSpans(surface, e->color, [&](auto emit) { ValueSpans(rows, W, H, e->style, emit); });
}

// 1 when a row needs the general path.
int GeneralPath(const GraphStyle* style, const GraphRow* row) {
    return row->entry.calc != CalcNone || row->entry.style != StyleLine || style->logScale || style->movingAverage > 1;
}

// ---------------------------------------------------------------- frame

// A row's counts as its trace plots them: packets for the packet units,
// bytes otherwise.
const uint64_t* RowCounts(const GraphRow* row) {
    return row->entry.unit == UnitPacket || row->entry.unit == UnitPps ? row->packets : row->bytes;
}

void DrawRow(DrawSurface* surface, const GraphStyle* style, const GraphView* view, const GraphRows* rows, int i) {
    const GraphRow* row = &rows->filter[i];
    if (!row->present) return;
    if (GeneralPath(style, row)) {
        QueueValueTrace(surface, style, row, i, view->columnTime);
        return;
    }
    QueueTrace(surface, RowCounts(row), &row->entry, i, row->message, row->visible, view->columnTime);
}

// The trace of all traffic alone; its legend row gets a rectangle of its
// own so the window's rectangles stay as they were.
void DrawAll(DrawSurface* surface, const GraphStyle* style, const GraphView* view, const GraphRows* rows) {
    static const int kVisible[1] = {1};
    const GraphRow* all = &rows->all;
    if (GeneralPath(style, all)) {
        QueueValueTrace(surface, style, all, 0, view->columnTime);
    } else {
        QueueTrace(surface, all->bytes, &all->entry, 0, all->message, 1, view->columnTime);
    }
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
            DrawAll(surface, style, view, rows);
        } else {
            int count = rows->count;
            int selected = rows->selected >= 0 && rows->selected < count ? rows->selected : -1;
            // last to first, so that lower-numbered filters lie on top; the
            // selected one last of all
            for (int i = count - 1; i >= 0; --i) {
                if (i != selected) DrawRow(surface, style, view, rows, i);
            }
            if (selected >= 0) DrawRow(surface, style, view, rows, selected);
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
