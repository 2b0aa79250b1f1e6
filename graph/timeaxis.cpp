// timeaxis.cpp - the grid rows, the labelled time columns and their texts.
//
//   LabelInterval       label step table of both programs
//   GraphFormatTime     S, M:SS, H:MM:SS with the step's decimals
//   GraphDrawTimeAxis   rows, then columns walked from the right edge
#include <cinttypes>
#include <cstdio>

#include "graph/graph.h"
#include "pipeline/packetring.h"
#include "platform/platform.h"

namespace {

struct LabelStep {
    int64_t below;    // column durations below this bound use the row
    int64_t live;     // 0: no labels
    int64_t offline;
};

// The first row whose bound the column duration is below applies. The 60 s
// step starts at 500 ms columns (not 50 s), and 24 h covers 1200 s up to
// one hour columns.
constexpr LabelStep kLabelSteps[] = {
    {2, 0, 100},
    {5, 0, 200},
    {10, 0, 500},
    {20, 0, 1000},
    {50, 0, 2000},
    {100, 0, 5000},
    {200, 0, 10000},
    {500, 0, 20000},
    {1000, 0, 50000},
    {2000, 100000, 100000},
    {5000, 200000, 200000},
    {10000, 500000, 500000},
    {20000, 1000000, 1000000},
    {50000, 2000000, 2000000},
    {100000, 5000000, 5000000},
    {200000, 10000000, 10000000},
    {500000, 20000000, 20000000},
    {1000000, 60000000, 60000000},
    {2000000, 60000000, 60000000},
    {5000000, 120000000, 120000000},
    {10000000, 300000000, 300000000},
    {20000000, 600000000, 600000000},
    {30000000, 1200000000, 1200000000},
    {60000000, 1800000000, 1800000000},
    {120000000, 3600000000, 3600000000},
    {300000000, 7200000000, 7200000000},
    {600000000, 21600000000, 21600000000},
    {1200000000, 43200000000, 43200000000},
    {1800000000, 86400000000, 86400000000},
    {3600000000, 86400000000, 86400000000},
};
constexpr int64_t kLabelStepBeyondLive = 0;
constexpr int64_t kLabelStepBeyondOffline = 172800000000;

constexpr int64_t kHour = 3600000000;
constexpr int64_t kMinute = 60000000;
constexpr int64_t kSecond = 1000000;

// The step last looked up per program and the duration it belongs to.
struct AxisCache {
    int32_t valid;
    int64_t duration;
    int64_t step;
};
AxisCache Cache[2];

int64_t CachedLabelInterval(int64_t duration, int offline) {
    AxisCache* c = &Cache[offline ? 1 : 0];
    if (!c->valid || c->duration != duration) {
        c->duration = duration;
        c->step = LabelInterval(duration, offline);
        c->valid = 1;
    }
    return c->step;
}

// a * b / c, truncating, without the 64-bit overflow of a * b (a counter
// difference in nanoseconds times a million overflows after 2.5 hours).
int64_t MulDiv(int64_t a, int64_t b, int64_t c) {
    return static_cast<int64_t>(static_cast<__int128>(a) * b / c);
}

void DrawLabelledColumn(DrawSurface* surface, const Settings* settings, int x, int64_t time,
                        int64_t step, int offline) {
    int h = surface->height;
    DrawSurfaceLineUnclipped(surface, settings->lineColor, x, 0, x, h - 1);
    const DrawText* text = surface->text;
    if (!text || !text->draw) return;
    char label[32];
    GraphFormatTime(time, step, offline, label);
    text->draw(text->context, surface, x + 1, 0, settings->charColor, label);
    text->draw(text->context, surface, x + 1, h - 13, settings->charColor, label);
}

}  // namespace

int64_t LabelInterval(int64_t columnDuration, int offline) {
    for (const LabelStep& row : kLabelSteps) {
        if (columnDuration < row.below) return offline ? row.offline : row.live;
    }
    return offline ? kLabelStepBeyondOffline : kLabelStepBeyondLive;
}

void GraphFormatTime(int64_t T, int64_t L, int offline, char* out) {
    const size_t size = 32;
    int n = 0;
    auto put = [&](const char* format, int64_t value) {
        if (n < static_cast<int>(size)) n += snprintf(out + n, size - n, format, value);
    };
    out[0] = '\0';
    if (T >= kHour) {
        put("%" PRId64 ":", T / kHour);
        T %= kHour;
    }
    if (n > 0) {
        put("%02" PRId64 ":", T / kMinute);
        T %= kMinute;
    } else if (T >= kMinute) {
        put("%" PRId64 ":", T / kMinute);
        T %= kMinute;
    }
    put(n > 0 ? "%02" PRId64 : "%" PRId64, T / kSecond);
    int64_t micro = T % kSecond;
    if (!offline) {
        if (L < 1000000) put(".%" PRId64, micro / 100000);
        return;
    }
    if (L < 1000) {
        put(".%04" PRId64, micro / 100);
    } else if (L < 10000) {
        put(".%03" PRId64, micro / 1000);
    } else if (L < 100000) {
        put(".%02" PRId64, micro / 10000);
    } else if (L < 1000000) {
        put(".%" PRId64, micro / 100000);
    }
}

void GraphDrawTimeAxis(DrawSurface* surface, const Settings* settings, const GraphTimeBase* base) {
    int w = surface->width;
    int h = surface->height;
    if (!surface->pixels || w <= 0 || h <= 0) return;
    for (int i = 0; i < 10; ++i) {
        DrawSurfaceLineUnclipped(surface, settings->lineColor, 0, i * h / 10, w - 1, i * h / 10);
    }
    DrawSurfaceLineUnclipped(surface, settings->lineColor, 0, h - 1, w - 1, h - 1);

    if (base->offline) {
        int64_t c = base->columnWidth < 1 ? 1 : base->columnWidth;
        int64_t step = CachedLabelInterval(c, 1);
        int64_t t = (base->rightEdgeTime / c) * c;
        for (int x = w - 1; x >= 0 && t >= 0; --x, t -= c) {
            if ((t % step) / c == 0) DrawLabelledColumn(surface, settings, x, t, step, 1);
        }
        return;
    }

    int64_t s = settings->samplingInterval;
    int64_t step = CachedLabelInterval(s, 0);
    int64_t first = 0;
    if (step == 0 || !PacketRingFirstStamp(&first)) return;
    int64_t freq = PerfFrequency();
    if (freq <= 0) return;
    int64_t t = base->now;
    // one interval in counter ticks, rounded toward zero as the counter's
    // own bins are
    int64_t back = MulDiv(s, freq, -1000000);
    if (back == 0) return;  // a counter too coarse to step one interval
    for (int x = w - 1; x >= 0 && t >= first; --x, t += back) {
        int64_t elapsed = MulDiv(t - first, 1000000, freq);
        if (elapsed % step < s) DrawLabelledColumn(surface, settings, x, elapsed, step, 0);
    }
}
