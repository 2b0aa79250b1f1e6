// graph.cpp - one frame of the traffic graph, for both time bases.
//
//   sample buffer       one value per column, re-allocated on a width change
//   units and scale     64-bit unit conversion, the 1-2-5 full-scale rule
//   GraphDrawTrace      label text and the stepped trace
//   GraphDrawLegend     colour boxes, labels, their rectangles, underline
//   frame               GraphDraw (live) and GraphDrawOffline share
//                       GraphRender; only reading the counts differs
#include "graph/graph.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pipeline/packetring.h"
#include "pipeline/packetstore.h"
#include "pipeline/rawsharkmngr.h"
#include "platform/platform.h"
#include "shell/debuglog.h"

const char* const ScaleSuffixes[27] = {
    "",  "0",  "00",  "K", "0K", "00K", "M", "0M", "00M", "G", "0G", "00G", "T", "0T",
    "00T", "P", "0P", "00P", "E", "0E", "00E", "Z", "0Z", "00Z", "Y", "0Y", "00Y",
};

char LegendLabels[FilterSetMax][kLegendLabelSize];

namespace {

// The counters' ring size when the settings do not say.
constexpr int kDefaultBinCount = 65536;

constexpr uint32_t kAllColor = 0x00ff00;

struct GraphModule {
    uint64_t* sampleBuffer;  // SampleBuffer: element j = the column j before the newest
    int32_t sampleWidth;     // elements it holds
};
GraphModule Graph;

// ---------------------------------------------------------------- sample buffer

int EnsureSampleBuffer(int width) {
    if (Graph.sampleBuffer && Graph.sampleWidth == width) return 1;
    free(Graph.sampleBuffer);
    Graph.sampleBuffer = nullptr;
    Graph.sampleWidth = 0;
    Graph.sampleBuffer = static_cast<uint64_t*>(malloc(static_cast<size_t>(width) * sizeof(uint64_t)));
    if (!Graph.sampleBuffer) {
        DebugLog("%s(%d),GraphDraw() err,malloc() failed,width=%d", __FILE__, __LINE__, width);
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
        case UnitPacket:
            return static_cast<int64_t>(raw);
        case UnitBps:
            if (interval <= 0) return 0;
            return static_cast<int64_t>(raw * 8000000u) / interval;
        case UnitPps:
            if (interval <= 0) return 0;
            return static_cast<int64_t>(raw * 1000000u) / interval;
        default:
            return 0;
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
double FullScale(const uint64_t* buffer, int W, int64_t interval, const FilterEntry* entry,
                 char* text, size_t size) {
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

// ---------------------------------------------------------------- frame

// Everything one frame reads besides the filters and settings.
struct FrameInput {
    const GraphTimeBase* base;
    int64_t interval;  // column duration: S live, C offline
    int bins;          // columns read from the counters (live: at most their size)
    int64_t first;     // offline: the store's items in the visible columns
    int64_t last;
};

// Fills the sample buffer with filter i's counts (bytes, or packets for the
// packet units) and its last rawshark message. Returns 0 when the live
// manager has no entry i (nothing is then drawn for it).
int ReadFilter(const FrameInput* in, int i, int32_t unit, int W, char* message) {
    uint64_t* buffer = Graph.sampleBuffer;
    int packets = unit == UnitPacket || unit == UnitPps;
    if (in->base->offline) {
        PacketStoreAccumulate(i, in->base->rightEdgeTime, in->interval, W, in->first, in->last,
                              packets ? nullptr : buffer, packets ? buffer : nullptr);
        RawsharkMngrLastMessage(i, message);
        return 1;
    }
    int exists = packets ? RawsharkMngrReadPackets(i, in->base->now, buffer, in->bins, message)
                         : RawsharkMngrReadBytes(i, in->base->now, buffer, in->bins, message);
    if (!exists) return 0;
    for (int j = in->bins; j < W; ++j) buffer[j] = 0;
    return 1;
}

void DrawFilter(DrawSurface* surface, const FrameInput* in, const FilterEntry* entries, int i,
                const int* filterVisible) {
    char message[256];
    message[0] = '\0';
    int W = surface->width;
    if (!ReadFilter(in, i, entries[i].unit, W, message)) return;
    int visible = filterVisible ? filterVisible[i] : 1;
    GraphDrawTrace(surface, Graph.sampleBuffer, W, in->interval, &entries[i], i, message, visible);
}

// The trace of all traffic, drawn when there is no filter: green, automatic
// scale, bps; its legend row gets a rectangle of its own so the window's
// rectangles stay as they were.
void DrawAll(DrawSurface* surface, const FrameInput* in) {
    static const int kVisible[1] = {1};
    FilterEntry all;
    memset(&all, 0, sizeof all);
    snprintf(all.filterText, sizeof all.filterText, "all");
    all.color = kAllColor;
    all.autoScale = 1;
    all.unit = UnitBps;
    int W = surface->width;
    uint64_t* buffer = Graph.sampleBuffer;
    if (in->base->offline) {
        PacketStoreAccumulate(-1, in->base->rightEdgeTime, in->interval, W, in->first, in->last,
                              buffer, nullptr);
    } else {
        TotalCounterReadBytes(in->base->now, buffer, in->bins);
        for (int j = in->bins; j < W; ++j) buffer[j] = 0;
    }
    GraphDrawTrace(surface, buffer, W, in->interval, &all, 0, "", 1);
    LegendRect own;
    GraphDrawLegend(surface, &all, 1, -1, &own, kVisible);
}

int GraphRender(DrawSurface* surface, const Settings* settings, const FilterEntry* entries,
                int count, int selected, LegendRect* legendRects, const int* filterVisible,
                const GraphTimeBase* base) {
    if (!surface || !surface->pixels || surface->width <= 0 || surface->height <= 0) return 0;
    const DrawText* text = surface->text;
    if (text && text->begin) text->begin(text->context, surface);

    int result = 0;
    int W = surface->width;
    FrameInput in;
    memset(&in, 0, sizeof in);
    in.base = base;
    in.interval = base->offline ? base->columnWidth : settings->samplingInterval;
    in.last = -1;
    int binCount = settings->binCount > 0 ? settings->binCount : kDefaultBinCount;
    in.bins = W < binCount ? W : binCount;

    DrawSurfaceFill(surface, settings->backColor);
    GraphDrawTimeAxis(surface, settings, base);
    if (EnsureSampleBuffer(W)) {
        if (count < 0) count = 0;
        if (count > FilterSetMax) count = FilterSetMax;
        if (selected < 0 || selected >= count) selected = -1;
        if (base->offline) {
            PacketStoreFindRange(base->rightEdgeTime, in.interval, W, &in.first, &in.last);
        }
        int empty = base->offline ? count == 0 : RawsharkMngrCount() == 0;
        if (empty) {
            DrawAll(surface, &in);
        } else {
            // last to first, so that lower-numbered filters lie on top; the
            // selected one last of all
            for (int i = count - 1; i >= 0; --i) {
                if (i != selected) DrawFilter(surface, &in, entries, i, filterVisible);
            }
            if (selected >= 0) DrawFilter(surface, &in, entries, selected, filterVisible);
            GraphDrawLegend(surface, entries, count, selected, legendRects, filterVisible);
        }
        result = 1;
    }

    if (text && text->end) text->end(text->context, surface);
    return result;
}

}  // namespace

// ---------------------------------------------------------------- operations

int GraphSampleBufferWidth() { return Graph.sampleWidth; }

void GraphDrawTrace(DrawSurface* surface, const uint64_t* buffer, int W, int64_t interval,
                    const FilterEntry* entry, int index, const char* errorText, int visible) {
    char scaleText[32];
    double fullScale = FullScale(buffer, W, interval, entry, scaleText, sizeof scaleText);
    char label[kLegendLabelSize];
    if (errorText && errorText[0]) {
        snprintf(label, sizeof label, "error: %.255s", errorText);
    } else {
        snprintf(label, sizeof label, "%s %s : %.255s", scaleText, UnitWord(entry->unit),
                 entry->filterText);
    }
    if (index >= 0 && index < FilterSetMax) memcpy(LegendLabels[index], label, strlen(label) + 1);

    if (!visible || !surface->pixels) return;
    int H = surface->height;
    uint32_t color = entry->color;
    int previous = 0;
    for (int j = 0; j < W; ++j) {
        int x = W - 1 - j;
        int y = RowOf(ToUnit(buffer[j], entry->unit, interval), fullScale, H);
        DrawSurfacePixelAt(surface, x, y) = color;
        // the join stands in the column of the higher point (smaller y)
        if (j > 0 && y != previous) {
            int column = y < previous ? x : x + 1;
            DrawSurfaceLine(surface, color, column, y, column, previous);
        }
        previous = y;
    }
}

void GraphDrawLegend(DrawSurface* surface, const FilterEntry* entries, int count, int selected,
                     LegendRect* legendRects, const int* filterVisible) {
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

int GraphDraw(DrawSurface* surface, const Settings* settings, const FilterEntry* entries, int count,
              int selected, LegendRect* legendRects, const int* filterVisible) {
    GraphTimeBase base;
    memset(&base, 0, sizeof base);
    base.now = PerfCounter();
    return GraphRender(surface, settings, entries, count, selected, legendRects, filterVisible, &base);
}

int GraphDrawOffline(DrawSurface* surface, const Settings* settings, const FilterEntry* entries,
                     int count, int selected, LegendRect* legendRects, const int* filterVisible,
                     int64_t columnWidth, int64_t rightEdgeTime) {
    GraphTimeBase base;
    memset(&base, 0, sizeof base);
    base.offline = 1;
    base.columnWidth = columnWidth < 1 ? 1 : columnWidth;
    base.rightEdgeTime = rightEdgeTime;
    return GraphRender(surface, settings, entries, count, selected, legendRects, filterVisible, &base);
}
