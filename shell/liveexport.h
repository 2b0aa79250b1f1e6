// SPDX-License-Identifier: GPL-2.0-or-later
// liveexport.h - lumo's CSV of what its graph shows: one line per interval
// of a frame's columns, oldest first, from the rows that frame was drawn
// from. UI thread.
#pragma once

#include <cstdio>

#include "graph/graphrows.h"
#include "platform/error.h"

// Writes the header line, then one line per interval of view and rows that
// holds counts and lies at or after the first packet's (none before the
// first packet): the interval's start as local clock time in ISO 8601 with
// microseconds and the zone's offset ("2020-09-13T12:26:40.050000+00:00")
// and in microseconds since the first packet, then packets and bytes of all
// traffic and of each filter in order (zeros for a filter the rawshark
// manager had no entry for). Returns 1, or 0 with the reason in err when
// writing failed.
int LiveExportWriteCsv(FILE* out, const GraphView* view, const GraphRows* rows, char* err);
