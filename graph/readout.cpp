// SPDX-License-Identifier: GPL-2.0-or-later
// readout.cpp - the readout under the pointer.
//
//   texts      the column's start (axis and clock), values with unit words
//   lines      what the box says, from the last frame's rows
//   drawing    the dotted column line, the box kept inside the surface
#include "graph/readout.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "graph/graph.h"
#include "platform/platform.h"

namespace {

constexpr int kPad = 4;          // between the box's border and its text
constexpr int kGap = 12;         // between the pointer and the box
constexpr int kLineHeight = 14;  // when the text interface does not measure

constexpr int64_t kSecond = 1000000;
constexpr int64_t kMinute = 60 * kSecond;
constexpr int64_t kHour = 60 * kMinute;

struct ReadoutLine {
    char text[192];
    uint32_t color;
};

// ---------------------------------------------------------------- lines

void ClockText(int64_t epochMicros, char* out, size_t size) {
    LocalTime t;
    if (!LocalTimeOf(epochMicros, &t)) {
        snprintf(out, size, "?");
        return;
    }
    snprintf(out, size, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute, t.second,
             t.micro / 1000);
}

// The filter's text for a readout line: "all" for the empty filter (it
// counts every packet), long texts cut on a character boundary.
void NameText(const char* filterText, char* out, size_t size) {
    if (!filterText[0]) {
        snprintf(out, size, "all");
        return;
    }
    size_t n = strlen(filterText);
    if (n <= static_cast<size_t>(kReadoutNameMax)) {
        snprintf(out, size, "%s", filterText);
        return;
    }
    n = kReadoutNameMax - 3;
    while (n > 0 && (static_cast<unsigned char>(filterText[n]) & 0xc0) == 0x80) --n;
    snprintf(out, size, "%.*s...", static_cast<int>(n), filterText);
}

void ValueLine(ReadoutLine* line, const char* filterText, uint64_t raw, int32_t unit, int64_t interval,
               uint32_t color) {
    char name[kReadoutNameMax + 8];
    char value[48];
    NameText(filterText, name, sizeof name);
    GraphReadoutValueText(GraphToUnit(raw, unit, interval), unit, value, sizeof value);
    snprintf(line->text, sizeof line->text, "%s  %s", name, value);
    line->color = color;
}

// The box's lines for column j: the start twice (or that there is no packet
// yet), then one line per visible filter row present, in filter order.
int BuildLines(const GraphView* view, const GraphRows* rows, const GraphStyle* style, int j, ReadoutLine* lines) {
    int n = 0;
    if (view->timeKnown) {
        int64_t start = GraphViewColumnStart(view, j);
        GraphReadoutElapsedText(start, view->columnTime, lines[n].text, sizeof lines[n].text);
        lines[n++].color = style->charColor;
        ClockText(view->clockBase + start, lines[n].text, sizeof lines[n].text);
        lines[n++].color = style->charColor;
    } else {
        snprintf(lines[n].text, sizeof lines[n].text, "no packet yet");
        lines[n++].color = style->charColor;
    }
    if (rows->allOnly) {
        const GraphRow* all = &rows->all;
        if (all->present) {
            ValueLine(&lines[n++], "all", all->bytes[j], UnitBps, view->columnTime, all->entry.color);
        }
        return n;
    }
    for (int i = 0; i < rows->count; ++i) {
        const GraphRow* row = &rows->filter[i];
        if (!row->present || !row->visible) continue;
        const FilterEntry* e = &row->entry;
        if (e->calc != CalcNone) {
            char name[kReadoutNameMax + 8];
            char value[48] = "no value";
            long double v;
            if (CalcValue(&row->calc[j], e->calc, &v)) {
                if (e->calc == CalcCount) {
                    snprintf(value, sizeof value, "%.0Lf", v);
                } else {
                    GraphFieldValueText(CalcPlotted(v, row->calcKind), row->calcKind, value, sizeof value);
                }
            }
            NameText(e->filterText, name, sizeof name);
            snprintf(lines[n].text, sizeof lines[n].text, "%s  %s %.40s %s", name, FilterCalcKeyword(e->calc),
                     e->calcField, value);
            lines[n++].color = e->color;
            continue;
        }
        uint64_t raw = e->unit == UnitPacket || e->unit == UnitPps ? row->packets[j] : row->bytes[j];
        ValueLine(&lines[n++], e->filterText, raw, e->unit, view->columnTime, e->color);
    }
    return n;
}

// ---------------------------------------------------------------- drawing

// The box's corner: right of and below the pointer, flipped to the other
// side where it would leave the surface, and pushed inside when it fits on
// neither.
int Place(int pointer, int extent, int limit) {
    int at = pointer + kGap;
    if (at + extent > limit) at = pointer - kGap - extent;
    if (at < 0) at = limit - extent;
    return at < 0 ? 0 : at;
}

}  // namespace

void GraphReadoutElapsedText(int64_t start, int64_t interval, char* out, size_t size) {
    const char* sign = start < 0 ? "-" : "";
    uint64_t t = start < 0 ? 0 - static_cast<uint64_t>(start) : static_cast<uint64_t>(start);
    int micro = interval % 1000 != 0;  // columns finer than whole milliseconds
    int digits = micro ? 6 : 3;
    uint64_t fraction = micro ? t % kSecond : t % kSecond / 1000;
    uint64_t hours = t / kHour, minutes = t % kHour / kMinute, seconds = t % kMinute / kSecond;
    if (hours > 0) {
        snprintf(out, size, "%s%" PRIu64 ":%02" PRIu64 ":%02" PRIu64 ".%0*" PRIu64, sign, hours, minutes, seconds,
                 digits, fraction);
    } else if (minutes > 0) {
        snprintf(out, size, "%s%" PRIu64 ":%02" PRIu64 ".%0*" PRIu64, sign, minutes, seconds, digits, fraction);
    } else {
        snprintf(out, size, "%s%" PRIu64 ".%0*" PRIu64 " s", sign, seconds, digits, fraction);
    }
}

void GraphReadoutValueText(int64_t value, int32_t unit, char* out, size_t size) {
    const char* word = GraphUnitWord(unit);
    const char* space = word[0] ? " " : "";
    if (unit == UnitByte || unit == UnitPacket || value < 1000) {
        snprintf(out, size, "%" PRId64 "%s%s", value, space, word);
        return;
    }
    static const char kSuffixes[] = "KMGTPE";
    double m = static_cast<double>(value);
    int k = -1;
    // 999.5 and above round to 1000: that is the next suffix's 1.00
    while (m >= 999.5 && k < 5) {
        m /= 1000.0;
        ++k;
    }
    int decimals = m < 9.995 ? 2 : (m < 99.95 ? 1 : 0);
    snprintf(out, size, "%.*f%c%s%s", decimals, m, kSuffixes[k], space, word);
}

int GraphDrawReadout(DrawSurface* surface, const GraphStyle* style, const GraphView* view, const GraphRows* rows, int x,
                     int y) {
    if (!surface || !surface->pixels || !view || !rows || !rows->storage) return 0;
    int W = surface->width;
    int H = surface->height;
    if (x < 0 || y < 0 || x >= W || y >= H || view->width != W || rows->width < W) return 0;
    int j = W - 1 - x;

    ReadoutLine lines[2 + FilterSetMax];
    int n = BuildLines(view, rows, style, j, lines);

    for (int row = 0; row < H; row += 2) DrawSurfacePixelAt(surface, x, row) = style->charColor;

    const DrawText* text = surface->text;
    if (!text || !text->draw) return 1;
    int widest = 0;
    int lineHeight = text->measure ? 0 : kLineHeight;
    for (int k = 0; k < n; ++k) {
        int w = 0, h = 0;
        if (text->measure) text->measure(text->context, surface, lines[k].text, &w, &h);
        if (w > widest) widest = w;
        if (h > lineHeight) lineHeight = h;
    }
    int boxW = widest + 2 * kPad;
    int boxH = n * lineHeight + 2 * kPad;
    int left = Place(x, boxW, W);
    int top = Place(y, boxH, H);
    int right = left + boxW - 1;
    int bottom = top + boxH - 1;
    for (int row = top; row <= bottom && row < H; ++row) {
        for (int col = left; col <= right && col < W; ++col) DrawSurfacePixelAt(surface, col, row) = style->backColor;
    }
    DrawSurfaceLine(surface, style->charColor, left, top, right, top);
    DrawSurfaceLine(surface, style->charColor, left, bottom, right, bottom);
    DrawSurfaceLine(surface, style->charColor, left, top, left, bottom);
    DrawSurfaceLine(surface, style->charColor, right, top, right, bottom);

    if (text->begin) text->begin(text->context, surface);
    for (int k = 0; k < n; ++k) {
        text->draw(text->context, surface, left + kPad, top + kPad + k * lineHeight, lines[k].color, lines[k].text);
    }
    if (text->end) text->end(text->context, surface);
    return 1;
}
