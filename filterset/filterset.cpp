// SPDX-License-Identifier: GPL-2.0-or-later
// filterset.cpp - filter entries, their defaults, and the ".fs" reader and
// writer.
//
// The reader takes the file in pieces of at most 255 characters, the way a
// 256-byte line buffer would: a longer line is parsed as several lines. CR LF
// is read as LF first, so both line ends give the same pieces.
#include "filterset/filterset.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "platform/platform.h"
#include "platform/text.h"
#include "shell/debuglog.h"

const uint32_t DefaultFilterColors[FilterSetMax] = {
    0x00ff00, 0xff0000, 0xffff00, 0xff00ff, 0x00ffff, 0xff8000, 0x00ff80, 0xc0c0c0,
    0x008000, 0x800000, 0x808000, 0x800080, 0x008080, 0x804000, 0x008040, 0x808080,
};

const char* FilterUnitKeyword(int32_t unit) {
    switch (unit) {
        case UnitByte: return "byte";
        case UnitPacket: return "packet";
        case UnitPps: return "pps";
        default: return "bps";
    }
}

const char* FilterCalcKeyword(int32_t calc) {
    switch (calc) {
        case CalcSum: return "sum";
        case CalcMin: return "min";
        case CalcMax: return "max";
        case CalcAvg: return "avg";
        case CalcCount: return "count";
        default: return "";
    }
}

const char* FilterStyleKeyword(int32_t style) {
    switch (style) {
        case StyleImpulse: return "impulse";
        case StyleBar: return "bar";
        case StyleStep: return "step";
        case StyleDots: return "dots";
        default: return "line";
    }
}

int FilterNeedsJudge(const FilterEntry* entry) { return entry->filterText[0] != '\0' || entry->calc != CalcNone; }

void ResetFilterEntries(FilterEntry* entries, int n) {
    for (int i = 0; i < n; ++i) {
        FilterEntry& e = entries[i];
        memset(&e, 0, sizeof e);
        e.autoColor = 1;
        e.color = DefaultFilterColors[i % FilterSetMax];
        e.autoScale = 1;
        e.scale = 0;
        e.unit = UnitBps;
    }
}

namespace {

constexpr int kPieceSize = 256;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char* SkipBlanks(const char* p) {
    while (IsBlank(*p)) ++p;
    return p;
}

// One piece of the file into buf (kPieceSize bytes): characters up to and
// including the next line feed, at most kPieceSize - 1 of them, NUL
// terminated; a CR directly before a LF is dropped. Returns 0 at the end of
// the file with nothing read.
int ReadPiece(FILE* file, char* buf) {
    int n = 0;
    while (n < kPieceSize - 1) {
        int c = getc(file);
        if (c == EOF) break;
        if (c == '\r') {
            int next = getc(file);
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                ungetc(next, file);
            }
        }
        buf[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    buf[n] = '\0';
    return n > 0;
}

// The field after the first comma from p, or nullptr when there is no comma
// or a '#' comes first (the record ends there).
const char* NextField(const char* p) {
    const char* comma = strchr(p, ',');
    const char* hash = strchr(p, '#');
    if (!comma || (hash && hash < comma)) return nullptr;
    return comma + 1;
}

// The unit whose keyword begins the field, compared without case over the
// keyword's own length; 1 ("bps") when none does.
int32_t UnitOfField(const char* p) {
    if (strncasecmp(p, "byte", 4) == 0) return UnitByte;
    if (strncasecmp(p, "bps", 3) == 0) return UnitBps;
    if (strncasecmp(p, "packet", 6) == 0) return UnitPacket;
    if (strncasecmp(p, "pps", 3) == 0) return UnitPps;
    return UnitBps;
}

// A calculation "avg(FIELD)" at p (the keyword without case, the field up
// to ')', ',' or the end, blanks trimmed) into e. Returns 1 when p holds one.
int CalcOfField(const char* p, FilterEntry* e) {
    for (int calc = CalcSum; calc <= CalcCount; ++calc) {
        const char* word = FilterCalcKeyword(calc);
        size_t n = strlen(word);
        if (strncasecmp(p, word, n) != 0) continue;
        const char* open = SkipBlanks(p + n);
        if (*open != '(') continue;
        open = SkipBlanks(open + 1);
        size_t len = strcspn(open, "),#\r\n");
        while (len > 0 && IsBlank(open[len - 1])) --len;
        if (len > sizeof e->calcField - 1) len = sizeof e->calcField - 1;
        memcpy(e->calcField, open, len);
        e->calcField[len] = '\0';
        e->calc = calc;
        return 1;
    }
    return 0;
}

// The style whose keyword begins the field; the line when none does.
int32_t StyleOfField(const char* p) {
    for (int style = StyleImpulse; style <= StyleDots; ++style) {
        const char* word = FilterStyleKeyword(style);
        if (strncasecmp(p, word, strlen(word)) == 0) return style;
    }
    return StyleLine;
}

// Hexadecimal digits after "0x" up to the first other character, as an
// unsigned 32-bit number that saturates at 0xFFFFFFFF.
uint32_t ParseHexColor(const char* p) {
    uint64_t v = 0;
    for (;; ++p) {
        int d;
        if (*p >= '0' && *p <= '9')
            d = *p - '0';
        else if (*p >= 'a' && *p <= 'f')
            d = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'F')
            d = *p - 'A' + 10;
        else
            break;
        v = v * 16 + static_cast<uint64_t>(d);
        if (v > 0xffffffffULL) {
            v = 0xffffffffULL;
            while (isxdigit(static_cast<unsigned char>(*p))) ++p;
            break;
        }
    }
    return static_cast<uint32_t>(v);
}

// Parses one piece into e (already holding the default entry of its
// position). Returns 1 when the piece gave an entry, 0 when it is skipped.
// Every entry and every skip is logged with the piece's line number.
int ParsePiece(const char* piece, int lineNo, FilterEntry* e) {
    const char* p = SkipBlanks(piece);
    if (*p != '"') {  // comment, empty line, blanks only, or no quoted text
        DEBUG_LOG("FilterSetLoadFilterSet() info,%d,skip", lineNo);
        return 0;
    }
    const char* open = p + 1;
    const char* close = strchr(open, '"');
    if (!close) {
        DEBUG_LOG("FilterSetLoadFilterSet() info,%d,skip", lineNo);
        return 0;
    }
    size_t len = static_cast<size_t>(close - open);
    if (len > sizeof e->filterText - 1) len = sizeof e->filterText - 1;
    memcpy(e->filterText, open, len);
    e->filterText[len] = '\0';

    // Unit: searched from just after the closing quote.
    const char* unitField = NextField(close + 1);
    if (!unitField) {
        e->unit = UnitBps;
        e->autoScale = 1;
        e->scale = 0;
        e->autoColor = 1;
        DEBUG_LOG("FilterSetLoadFilterSet() info,%d,\"%s\",bps,auto,auto", lineNo, e->filterText);
        return 1;
    }
    unitField = SkipBlanks(unitField);
    e->unit = UnitOfField(unitField);
    CalcOfField(unitField, e);
    const char* unitText = FilterUnitKeyword(e->unit);

    // Scale: searched from the beginning of the unit field.
    const char* scaleField = NextField(unitField);
    if (!scaleField) {
        e->autoScale = 1;
        e->scale = 0;
        e->autoColor = 1;
        DEBUG_LOG("FilterSetLoadFilterSet() info,%d,\"%s\",%s,auto,auto", lineNo, e->filterText, unitText);
        return 1;
    }
    scaleField = SkipBlanks(scaleField);
    if (*scaleField == ',') {
        e->autoScale = 1;
        e->scale = 0;
    } else {
        e->autoScale = 0;
        e->scale = static_cast<int64_t>(strtoll(scaleField, nullptr, 10));
        if (e->scale == 0) e->autoScale = 1;  // "auto", no digits and "0" alike
    }
    char scaleText[32];
    snprintf(scaleText, sizeof scaleText, "%" PRId64, e->scale);

    // Colour: searched from the beginning of the scale field.
    const char* colorField = NextField(scaleField);
    if (!colorField) {
        e->autoColor = 1;
        if (e->autoScale) {
            DEBUG_LOG("FilterSetLoadFilterSet() info,%d,\"%s\",%s,auto,auto", lineNo, e->filterText, unitText);
        } else {
            DEBUG_LOG("FilterSetLoadFilterSet() info,%d,\"%s\",%s,%s,auto", lineNo, e->filterText, unitText, scaleText);
        }
        return 1;
    }
    colorField = SkipBlanks(colorField);
    const char* styleField = NextField(colorField);
    if (styleField) e->style = StyleOfField(SkipBlanks(styleField));
    if (colorField[0] == '0' && colorField[1] == 'x') {
        e->autoColor = 0;
        e->color = ParseHexColor(colorField + 2) & 0xffffffu;
    } else {
        e->autoColor = 1;  // the colour of the position stays
    }
    if (e->autoColor) {
        DEBUG_LOG("FilterSetLoadFilterSet() info,%d,\"%s\",%s,%s,auto", lineNo, e->filterText, unitText, scaleText);
    } else {
        char colorText[16];
        ColorToText(e->color, colorText);
        DEBUG_LOG("FilterSetLoadFilterSet() info,%d,\"%s\",%s,%s,%s", lineNo, e->filterText, unitText, scaleText,
                  colorText);
    }
    return 1;
}

}  // namespace

int FilterSetLoadFilterSet(const char* path, FilterEntry* entries, int max) {
    if (!path || !entries) return 0;
    FILE* file = fopen(path, "re");
    if (!file) return 0;
    DEBUG_LOG("FilterSetLoadFilterSet() info,%s", path);

    int n = 0;
    int lineNo = 0;
    char piece[kPieceSize];
    while (ReadPiece(file, piece)) {
        ++lineNo;
        if (n >= max) break;  // later lines are not even looked at
        if (ParsePiece(piece, lineNo, &entries[n])) ++n;
    }
    fclose(file);
    return n;
}

int FilterSetSaveFilterSet(const char* path, const FilterEntry* entries, int count) {
    if (!path || (count > 0 && !entries)) return 0;
    std::string text;
    for (int i = 0; i < count; ++i) {
        const FilterEntry& e = entries[i];
        char scale[32] = "";
        char color[16] = "";
        if (!e.autoScale) snprintf(scale, sizeof scale, "%" PRId64, e.scale);
        if (!e.autoColor) ColorToText(e.color, color);
        char unit[sizeof e.calcField + 16];
        if (e.calc != CalcNone) {
            snprintf(unit, sizeof unit, "%s(%.*s)", FilterCalcKeyword(e.calc), static_cast<int>(sizeof e.calcField - 1),
                     e.calcField);
        } else {
            snprintf(unit, sizeof unit, "%s", FilterUnitKeyword(e.unit));
        }
        char style[16] = "";
        if (e.style != StyleLine) snprintf(style, sizeof style, ",%s", FilterStyleKeyword(e.style));
        // A text that fills its whole buffer is cut where a reader would cut it.
        char line[sizeof e.filterText + sizeof unit + 96];
        snprintf(line, sizeof line, "\"%.*s\",%s,%s,%s%s\r\n", static_cast<int>(sizeof e.filterText - 1), e.filterText,
                 unit, scale, color, style);
        text += line;
    }
    // Replacing the file whole keeps the old set when the new one cannot be
    // written in full (a full disk at exit would otherwise empty it).
    return FileWriteAtomic(path, text.data(), text.size(), nullptr);
}
