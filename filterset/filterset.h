// SPDX-License-Identifier: GPL-2.0-or-later
// filterset.h - one display filter with its scale, unit and colour, the set
// of at most 16, their default colours, and the ".fs" text file.
//
// A ".fs" line is  "TEXT",UNIT,SCALE,COLOR[,STYLE]  written with CR LF; the
// reader takes LF or CR LF, comments, blanks and missing trailing fields.
// UNIT is a unit keyword or a calculation "avg(FIELD)" (sum, min, max, avg,
// count), which an earlier reader takes for bps; STYLE ("impulse", "bar",
// "step", "dots") is written only when it is not the line, and an earlier
// reader ignores it.
#pragma once

#include <cstdint>

#include "platform/calc.h"

constexpr int FilterSetMax = 16;

// Unit codes.
enum FilterUnit { UnitByte = 0, UnitBps = 1, UnitPacket = 2, UnitPps = 3 };

// The calculations (FilterCalc) are platform/calc.h's.
constexpr int kCalcFieldSize = 128;  // a field name, NUL included

// How a trace is drawn: the stepped line, or impulses, bars, steps, dots.
enum FilterStyle { StyleLine = 0, StyleImpulse = 1, StyleBar = 2, StyleStep = 3, StyleDots = 4 };

struct FilterEntry {
    char filterText[256];            // display filter, at most 255 characters; may be empty; no double quote
    int32_t autoColor;               // non-zero: color holds the default colour of the entry's position
    uint32_t color;                  // 0x00RRGGBB
    int32_t autoScale;               // non-zero: the graph chooses the full scale
    int64_t scale;                   // fixed full scale in the entry's unit when autoScale is 0
    int32_t unit;                    // FilterUnit; 1 ("bps") when missing or unknown
    int32_t calc;                    // FilterCalc; CalcNone counts bytes or packets in unit
    char calcField[kCalcFieldSize];  // the field of calc, e.g. "tcp.analysis.ack_rtt"
    int32_t style;                   // FilterStyle
};

struct FilterSet {
    FilterEntry entries[FilterSetMax];
    int32_t count;  // 0..16; entries count..15 hold default entries
};

// The default colour of each position: green, red, yellow, ...
extern const uint32_t DefaultFilterColors[FilterSetMax];

// The unit keyword of a code as the file writes it: "byte", "bps", "packet",
// "pps"; any unknown code gives "bps".
const char* FilterUnitKeyword(int32_t unit);

// The keyword of a calculation ("sum", "min", "max", "avg", "count"; "" for
// none) and of a style ("line", "impulse", "bar", "step", "dots").
const char* FilterCalcKeyword(int32_t calc);
const char* FilterStyleKeyword(int32_t style);

// 1 when the filter needs a judge: a filter text, or a calculation (an empty
// text then means every packet).
int FilterNeedsJudge(const FilterEntry* entry);

// Every entry i of entries[0..n-1] becomes the default entry of position i:
// empty text, automatic colour DefaultFilterColors[i], automatic scale 0,
// unit bps. The caller sets the count.
void ResetFilterEntries(FilterEntry* entries, int n);

// Reads a ".fs" file into entries[0..], at most max of them, and returns how
// many were read (0 when the file cannot be opened). The caller resets the
// array first. UI thread (the offline export reads on its main thread).
int FilterSetLoadFilterSet(const char* path, FilterEntry* entries, int max);

// Writes the first count entries (none when count <= 0) as a ".fs" file with
// CR LF line ends, replacing any file as a whole: when the new file cannot be
// written in full the old one stays. Returns 1, or 0 when it cannot be
// created or written.
int FilterSetSaveFilterSet(const char* path, const FilterEntry* entries, int count);
