// SPDX-License-Identifier: GPL-2.0-or-later
// graphcsv.h - graph rows as CSV text: one line per column, oldest first.
// Both exports write through it, so a saved file holds exactly what the
// graph drew from the same rows.
//
//   header  [interval_start_time,]interval_start_us,all_packets,all_bytes,
//           then "TEXT packets","TEXT bytes" for each filter row, and
//           "TEXT CALC(FIELD)" after them for a row with a calculation,
//           [,dropped_packets]
//   line    [ISO 8601 local time,]start in microseconds since time 0,
//           packets and bytes of all traffic, then of each filter row
//           (and the calculation's value: integers whole, time in seconds
//           with nanosecond digits, empty where min, max or avg have none),
//           [then the packets the capture missed in the interval]
//
// The clock column (lumo's) holds the interval's start as local time with
// microseconds and the zone's offset: "2020-09-13T12:26:40.050000+00:00".
// A row that is not present writes zeros; the dropped column is there when
// the rows know drops (live). Any thread that owns the rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "graph/graphrows.h"

// Writes the header line; clockColumn 1 adds interval_start_time first.
void GraphCsvWriteHeader(FILE* out, const GraphRows* rows, int clockColumn);

// Writes the lines of columns oldest down to newest (oldest >= newest >= 0,
// both below rows->width), the oldest first.
void GraphCsvWriteColumns(FILE* out, const GraphView* view, const GraphRows* rows, int oldest, int newest,
                          int clockColumn);

// The ISO 8601 text of a capture time (microseconds since 1970 UTC) in local
// time with microseconds and offset, into out (at least 40 bytes).
void GraphCsvIsoTime(int64_t epochMicros, char* out, size_t size);
