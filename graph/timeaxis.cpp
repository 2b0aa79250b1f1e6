// SPDX-License-Identifier: GPL-2.0-or-later
// timeaxis.cpp - the grid rows, the labelled time columns and their texts.
//
//   LabelInterval       label step table of both programs
//   GraphFormatTime     S, M:SS, H:MM:SS with the step's decimals
//   GraphFormatClock    local clock times and dates, the same decimals
//   GraphDrawTimeAxis   rows, then columns walked from the right edge, on
//                       steps of the axis time or of the local clock
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "graph/graph.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

struct LabelStep {
    int64_t below;  // column durations below this bound use the row
    int64_t live;   // 0: no labels
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

constexpr int64_t kDay = 86400000000;
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

int64_t FloorMod(int64_t a, int64_t b) {
    int64_t r = a % b;
    return r < 0 ? r + b : r;
}

int64_t FloorDiv(int64_t a, int64_t b) { return (a - FloorMod(a, b)) / b; }

// The zone's offset over the span one frame shows: looked up at both ends,
// and per column only when they differ (a change of daylight saving in
// view), so a frame costs two lookups, not one per column.
struct ZoneSpan {
    int64_t offset;  // microseconds added to a capture time
    int varies;
};

ZoneSpan ZoneOver(int64_t fromEpoch, int64_t toEpoch) {
    int64_t a = GraphLocalMicros(fromEpoch) - fromEpoch;
    int64_t b = GraphLocalMicros(toEpoch) - toEpoch;
    return ZoneSpan{b, a != b};
}

int64_t LocalOf(const ZoneSpan& zone, int64_t epoch) {
    return zone.varies ? GraphLocalMicros(epoch) : epoch + zone.offset;
}

// The decimals of a label: microseconds of the second, as the step needs.
void AppendFraction(char* out, size_t size, int64_t micro, int64_t L, int offline) {
    size_t n = strlen(out);
    if (n >= size) return;
    char* p = out + n;
    size_t left = size - n;
    if (!offline) {
        if (L < 1000000) snprintf(p, left, ".%" PRId64, micro / 100000);
        return;
    }
    if (L < 1000) {
        snprintf(p, left, ".%04" PRId64, micro / 100);
    } else if (L < 10000) {
        snprintf(p, left, ".%03" PRId64, micro / 1000);
    } else if (L < 100000) {
        snprintf(p, left, ".%02" PRId64, micro / 10000);
    } else if (L < 1000000) {
        snprintf(p, left, ".%" PRId64, micro / 100000);
    }
}

void DrawLabelledColumn(DrawSurface* surface, const GraphStyle* style, int x, const char* label) {
    int h = surface->height;
    DrawSurfaceLineUnclipped(surface, style->lineColor, x, 0, x, h - 1);
    const DrawText* text = surface->text;
    if (!text || !text->draw) return;
    text->draw(text->context, surface, x + 1, 0, style->charColor, label);
    text->draw(text->context, surface, x + 1, h - 13, style->charColor, label);
}

// A column labelled with the axis time, or with the local clock time.
void DrawTimeColumn(DrawSurface* surface, const GraphStyle* style, int x, int64_t time, int64_t step, int offline) {
    char label[32];
    GraphFormatTime(time, step, offline, label);
    DrawLabelledColumn(surface, style, x, label);
}

// The column holds the round clock time; its start need not be one (the
// first packet came at any moment), so the label names the round time.
void DrawClockColumn(DrawSurface* surface, const GraphStyle* style, int x, int64_t local, int64_t step, int offline) {
    char label[32];
    GraphFormatClock(local - FloorMod(local, step), step, offline, label);
    DrawLabelledColumn(surface, style, x, label);
}

}  // namespace

int64_t LabelInterval(int64_t columnDuration, int offline) {
    for (const LabelStep& row : kLabelSteps) {
        if (columnDuration < row.below) return offline ? row.offline : row.live;
    }
    return offline ? kLabelStepBeyondOffline : kLabelStepBeyondLive;
}

void GraphFormatTime(int64_t T, int64_t L, int offline, char* out) {
    size_t size = 32;
    int n = 0;
    if (T < 0) {
        // before the first packet: the time to it after a minus sign
        *out++ = '-';
        --size;
        T = -T;
    }
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
    AppendFraction(out, size, T % kSecond, L, offline);
}

void GraphFormatClock(int64_t localMicros, int64_t L, int offline, char* out) {
    const size_t size = 32;
    if (L >= kDay) {
        // every label of a step of days would read 0:00:00: the date says more
        int64_t z = FloorDiv(localMicros, kDay) + 719468;  // days since 0000-03-01
        int64_t era = FloorDiv(z, 146097);
        int64_t doe = z - era * 146097;
        int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        int64_t mp = (5 * doy + 2) / 153;
        int64_t day = doy - (153 * mp + 2) / 5 + 1;
        int64_t month = mp < 10 ? mp + 3 : mp - 9;
        int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
        char date[64];  // room for any three int64_t; a real date needs 10 bytes of out
        snprintf(date, sizeof date, "%04" PRId64 "-%02" PRId64 "-%02" PRId64, year, month, day);
        TextCopy(out, size, date);
        return;
    }
    int64_t t = FloorMod(localMicros, kDay);
    snprintf(out, size, "%" PRId64 ":%02" PRId64 ":%02" PRId64, t / kHour, t % kHour / kMinute, t % kMinute / kSecond);
    AppendFraction(out, size, t % kSecond, L, offline);
}

int64_t GraphLocalMicros(int64_t epochMicros) {
    LocalTime local;
    if (!LocalTimeOf(epochMicros, &local)) return epochMicros;
    return epochMicros + static_cast<int64_t>(local.utcOffset) * kSecond;
}

void GraphDrawTimeAxis(DrawSurface* surface, const GraphStyle* style, const GraphView* view) {
    int w = surface->width;
    int h = surface->height;
    if (!surface->pixels || w <= 0 || h <= 0) return;
    for (int i = 0; i < 10; ++i) {
        DrawSurfaceLineUnclipped(surface, style->lineColor, 0, i * h / 10, w - 1, i * h / 10);
    }
    DrawSurfaceLineUnclipped(surface, style->lineColor, 0, h - 1, w - 1, h - 1);

    // Live, the right edge is the moment of the frame and the columns step
    // back from it; offline it is the start of the column holding the scroll
    // position. Columns left of the axis start (time 0, or offline the
    // interval of the earliest packet) get no label.
    const int offline = view->offline != 0;
    if (!offline && !view->timeKnown) return;  // live: no packet yet
    const int64_t c = view->columnTime < 1 ? 1 : view->columnTime;
    const int64_t step = CachedLabelInterval(c, offline);
    if (step == 0) return;
    int64_t t = offline ? FloorDiv(view->rightEdge, c) * c : view->rightEdge;
    const int64_t start = view->axisStart < 0 ? view->axisStart : 0;
    if (style->timeOfDay) {
        int64_t left = t - static_cast<int64_t>(w) * c;
        ZoneSpan zone = ZoneOver(view->clockBase + (left > start ? left : start), view->clockBase + t);
        for (int x = w - 1; x >= 0 && t >= start; --x, t -= c) {
            int64_t local = LocalOf(zone, view->clockBase + t);
            if (FloorMod(local, step) < c) DrawClockColumn(surface, style, x, local, step, offline);
        }
        return;
    }
    for (int x = w - 1; x >= 0 && t >= start; --x, t -= c) {
        if (FloorMod(t, step) < c) DrawTimeColumn(surface, style, x, t, step, offline);
    }
}
