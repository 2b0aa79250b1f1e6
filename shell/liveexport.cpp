// SPDX-License-Identifier: GPL-2.0-or-later
// liveexport.cpp - the live CSV: the intervals a frame's rows hold.
#include "shell/liveexport.h"

#include <cerrno>
#include <cstring>

#include "graph/graphcsv.h"

int LiveExportWriteCsv(FILE* out, const GraphView* view, const GraphRows* rows, char* err) {
    ErrorClear(err);
    GraphCsvWriteHeader(out, rows, 1);
    if (view->timeKnown && view->columnTime > 0 && rows->known > 0) {
        // no line before the first packet's interval: nothing was counted there
        int64_t newestBin = view->rightEdge / view->columnTime;
        int lines = newestBin + 1 < rows->known ? static_cast<int>(newestBin + 1) : rows->known;
        if (lines > 0) GraphCsvWriteColumns(out, view, rows, lines - 1, 0, 1);
    }
    if (ferror(out)) {
        ErrorSet(err, "write error: %s", strerror(errno));
        return 0;
    }
    return 1;
}
