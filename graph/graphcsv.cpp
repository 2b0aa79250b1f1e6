// SPDX-License-Identifier: GPL-2.0-or-later
// graphcsv.cpp - graph rows as CSV lines.
#include "graph/graphcsv.h"

#include <cinttypes>
#include <cstring>

#include "platform/platform.h"
#include "platform/text.h"

void GraphCsvIsoTime(int64_t epochMicros, char* out, size_t size) {
    LocalTime t;
    if (!LocalTimeOf(epochMicros, &t)) {
        snprintf(out, size, "%" PRId64, epochMicros);
        return;
    }
    int offset = t.utcOffset < 0 ? -t.utcOffset : t.utcOffset;
    snprintf(out, size, "%04d-%02d-%02dT%02d:%02d:%02d.%06d%c%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
             t.second, t.micro, t.utcOffset < 0 ? '-' : '+', offset / 3600, offset / 60 % 60);
}

void GraphCsvWriteHeader(FILE* out, const GraphRows* rows, int clockColumn) {
    if (clockColumn) fputs("interval_start_time,", out);
    fputs("interval_start_us,all_packets,all_bytes", out);
    for (int i = 0; i < rows->count; i++) {
        char name[300];
        fputc(',', out);
        snprintf(name, sizeof name, "%s packets", rows->filter[i].entry.filterText);
        CsvWriteField(out, name);
        fputc(',', out);
        snprintf(name, sizeof name, "%s bytes", rows->filter[i].entry.filterText);
        CsvWriteField(out, name);
        const FilterEntry* e = &rows->filter[i].entry;
        if (e->calc != CalcNone) {
            char column[sizeof e->filterText + sizeof e->calcField + 16];
            snprintf(column, sizeof column, "%s %s(%s)", e->filterText, FilterCalcKeyword(e->calc), e->calcField);
            fputc(',', out);
            CsvWriteField(out, column);
        }
    }
    if (rows->droppedKnown) fputs(",dropped_packets", out);
    fputc('\n', out);
}

void GraphCsvWriteColumns(FILE* out, const GraphView* view, const GraphRows* rows, int oldest, int newest,
                          int clockColumn) {
    if (newest < 0) newest = 0;
    if (oldest >= rows->width) oldest = rows->width - 1;
    for (int j = oldest; j >= newest; j--) {
        int64_t start = GraphViewColumnStart(view, j);
        char line[96 + (FilterSetMax + 1) * 42 + FilterSetMax * 48];
        int n = 0;
        if (clockColumn) {
            GraphCsvIsoTime(view->clockBase + start, line, 48);
            n = static_cast<int>(strlen(line));
            line[n++] = ',';
        }
        n += snprintf(line + n, sizeof line - n, "%" PRId64, start);
        const GraphRow* all = &rows->all;
        uint64_t allPackets = all->present ? all->packets[j] : 0;
        uint64_t allBytes = all->present ? all->bytes[j] : 0;
        n += snprintf(line + n, sizeof line - n, ",%" PRIu64 ",%" PRIu64, allPackets, allBytes);
        for (int i = 0; i < rows->count; i++) {
            const GraphRow* row = &rows->filter[i];
            uint64_t packets = row->present ? row->packets[j] : 0;
            uint64_t bytes = row->present ? row->bytes[j] : 0;
            n += snprintf(line + n, sizeof line - n, ",%" PRIu64 ",%" PRIu64, packets, bytes);
            if (row->entry.calc != CalcNone) {
                // empty where min, max or avg have no value
                char value[48] = "";
                long double v;
                if (row->present && CalcValue(&row->calc[j], row->entry.calc, &v)) {
                    CalcValueText(v, row->calcKind, row->entry.calc, value, sizeof value);
                }
                n += snprintf(line + n, sizeof line - n, ",%s", value);
            }
        }
        if (rows->droppedKnown) n += snprintf(line + n, sizeof line - n, ",%" PRIu64, rows->dropped[j]);
        line[n++] = '\n';
        fwrite(line, 1, static_cast<size_t>(n), out);
    }
}
