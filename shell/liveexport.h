// SPDX-License-Identifier: GPL-2.0-or-later
// liveexport.h - lumo's CSV of what its graph shows: one row per interval
// of the frame's columns, oldest first, from the counters as they stand at
// the frame's "now". UI thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "filterset/filterset.h"
#include "platform/error.h"
#include "shell/settings.h"

// Writes the header line, then one row per interval shown by a frame of
// `columns` columns at the PerfCounter reading `now` (at most the counters'
// bins; only intervals from the first packet's on): the interval's start as
// local clock time in ISO 8601 with microseconds and the zone's offset
// ("2020-09-13T12:26:40.050000+00:00") and in microseconds since the first
// packet, then packets and bytes of all traffic and of each filter in order
// (zeros for a filter the rawshark manager has no entry for). Before the
// first packet only the header is written. Returns 1 with err emptied, or 0
// with a reason in err when writing failed.
int LiveExportWriteCsv(FILE* out, const Settings* settings, const FilterEntry* entries, int count, int64_t now,
                       int columns, char* err);

// The ISO 8601 text of a capture time (microseconds since 1970 UTC) in local
// time with microseconds and offset, into out (at least 40 bytes).
void LiveExportIsoTime(int64_t epochMicros, char* out, size_t size);
