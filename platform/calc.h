// SPDX-License-Identifier: GPL-2.0-or-later
// calc.h - a calculation's sums over a field's occurrences: count, sum,
// minimum and maximum, kept per packet, per interval or per column, and the
// judge's word for one packet ("N:SUM:MIN:MAX", or "0").
//
// Values keep what the field has: integers whole, time intervals in
// nanoseconds, floating values as they are. The sums are long double, whose
// 64-bit mantissa holds every 64-bit integer and nanosecond count exactly.
// Plain records and functions; no shared state.
#pragma once

#include <cstdint>

// A calculation on a field instead of counting: per interval, over every
// occurrence of the field in the packets the filter matches.
enum FilterCalc { CalcNone = 0, CalcSum = 1, CalcMin = 2, CalcMax = 3, CalcAvg = 4, CalcCount = 5 };

// What a field's values are (the judge names it before any verdict).
enum CalcKind { CalcKindNone = 0, CalcKindInteger = 1, CalcKindFloat = 2, CalcKindTime = 3, CalcKindOther = 4 };

struct CalcCell {
    uint64_t count;  // occurrences; 0: nothing else holds a value
    long double sum;
    long double min;
    long double max;
};

// Adds b to a (a's min and max are b's when a is empty).
void CalcCellAdd(CalcCell* a, const CalcCell* b);

// Parses one word of the judge: "0", or "N:SUM:MIN:MAX". Returns 1, or 0
// when the word is neither (out is then empty).
int CalcCellParse(const char* word, int length, CalcCell* out);

// The kind named by the judge's "integer", "float", "time", "other".
int CalcKindOfName(const char* name, int length);

// The value of calc (FilterCalc) over the cell in the field's own terms
// (nanoseconds for time): sum and count of any cell, min, max and avg only
// of a cell with occurrences. Returns 1 with *value, or 0 for no value (a
// gap: min, max or avg of an empty cell).
int CalcValue(const CalcCell* cell, int32_t calc, long double* value);

// The value in the graph's terms: time in seconds, others as they are.
double CalcPlotted(long double value, int32_t kind);

// The CSV text of a value: integers whole (avg to 17 digits), time in
// seconds with nanosecond digits, floating values to 17 digits.
void CalcValueText(long double value, int32_t kind, int32_t calc, char* out, int size);
