// SPDX-License-Identifier: GPL-2.0-or-later
// calc.cpp - the sums of a calculation, their word and their texts.
#include "platform/calc.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void CalcCellAdd(CalcCell* a, const CalcCell* b) {
    if (b->count == 0) return;
    if (a->count == 0 || b->min < a->min) a->min = b->min;
    if (a->count == 0 || b->max > a->max) a->max = b->max;
    a->sum += b->sum;
    a->count += b->count;
}

int CalcCellParse(const char* word, int length, CalcCell* out) {
    *out = CalcCell{};
    if (length == 1 && word[0] == '0') return 1;
    char text[256];
    if (length <= 0 || length >= static_cast<int>(sizeof text)) return 0;
    memcpy(text, word, static_cast<size_t>(length));
    text[length] = '\0';
    char* end = nullptr;
    unsigned long long n = strtoull(text, &end, 10);
    if (end == text || *end != ':') return 0;
    long double v[3];
    for (long double& x : v) {
        char* p = end + 1;
        x = strtold(p, &end);
        if (end == p || (*end != ':' && *end != '\0')) return 0;
    }
    if (*end != '\0') return 0;
    out->count = n;
    out->sum = v[0];
    out->min = v[1];
    out->max = v[2];
    return 1;
}

int CalcKindOfName(const char* name, int length) {
    static const char* const kNames[] = {"", "integer", "float", "time", "other"};
    for (int k = CalcKindInteger; k <= CalcKindOther; ++k) {
        if (static_cast<int>(strlen(kNames[k])) == length &&
            memcmp(name, kNames[k], static_cast<size_t>(length)) == 0) {
            return k;
        }
    }
    return CalcKindNone;
}

int CalcValue(const CalcCell* cell, int32_t calc, long double* value) {
    switch (calc) {
        case CalcSum: *value = cell->sum; return 1;
        case CalcCount: *value = static_cast<long double>(cell->count); return 1;
        case CalcMin: *value = cell->min; return cell->count > 0;
        case CalcMax: *value = cell->max; return cell->count > 0;
        case CalcAvg:
            if (cell->count == 0) return 0;
            *value = cell->sum / static_cast<long double>(cell->count);
            return 1;
        default: return 0;
    }
}

double CalcPlotted(long double value, int32_t kind) {
    return static_cast<double>(kind == CalcKindTime ? value / 1e9L : value);
}

void CalcValueText(long double value, int32_t kind, int32_t calc, char* out, int size) {
    if (calc == CalcCount) {
        snprintf(out, static_cast<size_t>(size), "%.0Lf", value);
    } else if (kind == CalcKindTime) {
        // nanoseconds as seconds with nine digits, rounded to the nanosecond
        long double ns = roundl(value);
        int negative = ns < 0;
        if (negative) ns = -ns;
        long double whole = floorl(ns / 1e9L);
        long double rest = ns - whole * 1e9L;
        snprintf(out, static_cast<size_t>(size), "%s%.0Lf.%09.0Lf", negative ? "-" : "", whole, rest);
    } else if (kind == CalcKindInteger && calc != CalcAvg) {
        snprintf(out, static_cast<size_t>(size), "%.0Lf", value);
    } else {
        snprintf(out, static_cast<size_t>(size), "%.17Lg", value);
    }
}
