// SPDX-License-Identifier: GPL-2.0-or-later
// export.h - the command line of lumo_offline and its export mode, which
// reads a capture file through the same pipeline as the window (real
// rawshark processes, the packet store) and writes the per-interval counts
// as CSV and/or the graph as PNG, with no window and no display.
//
//   lumo_offline [--filter-set FILE.fs] [--interval MICROSECONDS]
//                [--export-csv OUT.csv] [--export-png OUT.png [--size WxH]]
//                [--one-pass | --per-filter] [CAPTURE]
//
// Without an export option the window opens (and reads CAPTURE when given).
// The export mode reads the settings file but writes nothing back: neither
// the settings nor the start-up filter set change. Main thread only.
#pragma once

#include <cstdint>
#include <cstdio>

#include "filterset/filterset.h"
#include "graph/drawsurface.h"
#include "offline/capfilereader.h"
#include "platform/error.h"
#include "shell/settings.h"

struct OfflineArgs {
    int help;                  // --help
    int version;               // --version
    char filterSet[kPathMax];  // --filter-set, "" when not given
    int64_t interval;          // --interval, 0 when not given
    char csvPath[kPathMax];    // --export-csv, "" when not given
    char pngPath[kPathMax];    // --export-png, "" when not given
    int32_t pngWidth;          // --size, default 1280 x 480
    int32_t pngHeight;
    char capture[kPathMax];  // CAPTURE, "" when not given
    int32_t onePass;         // --one-pass 1, --per-filter 0, not given -1: "one_pass" of the settings
    int32_t judges;          // --judges N (0: automatic), not given -1: "judges" of the settings
};

// Default picture size of --export-png.
constexpr int kExportDefaultWidth = 1280;
constexpr int kExportDefaultHeight = 480;
// Largest --size in either direction.
constexpr int kExportMaxSide = 16384;
// A CSV longer than this many intervals is refused (choose a wider
// --interval): a damaged stamp could otherwise ask for billions of rows.
constexpr int64_t kExportMaxRows = 100000000;

// Parses argv[1..argc-1]. Returns 1 with err emptied, or 0 with a one-line
// reason in err.
int OfflineArgsParse(int argc, char** argv, OfflineArgs* args, char* err);

// 1 when an export option was given (no window then).
int OfflineArgsExporting(const OfflineArgs* args);

// The --help text.
const char* OfflineUsageText();

// What an export read: the settings, the filters and the finished job; the
// packets are in the packet store.
struct OfflineExport {
    Settings settings;
    FilterEntry entries[FilterSetMax];
    int32_t count;
    CaptureFileJob job;
    int64_t maxRows;  // kExportMaxRows unless a test lowers it
};

// Writes the picture of the whole file to path (width x height); returns 1,
// or 0 with a reason in err. The Qt side supplies it (PNG through QImage).
using OfflineExportPictureFn = int (*)(const OfflineExport* ex, const char* path, int width, int height, char* err);

// Loads the settings (read only) and the filters (--filter-set, else the
// start-up filter set of the data folder when a rawshark path is set),
// checks the filter texts, then reads the capture file through the pipeline
// and waits for every verdict. Returns 1 with err emptied, or 0 with the
// message to show in err (the packet store is then empty).
int OfflineExportRead(OfflineExport* ex, const OfflineArgs* args, char* err);

// Whether a finished reading run may be exported: 1 with err emptied, or 0
// with the reason the export gives in err (the run's failure, a filter its
// judge refused, or verdicts that did not all come within the run's wait).
// onePass names the judge in that last text. UI thread, after the run's
// state is final.
int OfflineExportCheckRun(const CaptureFileJob* job, const FilterEntry* entries, int count, int onePass, char* err);

// Writes the CSV: a header line, then one row per interval of `interval`
// microseconds from the one holding the first packet to the one holding the
// latest: interval_start_us, all_packets, all_bytes, then packets and bytes
// of each filter in order. Returns 1 with err emptied, or 0 with a reason in
// err.
int OfflineExportWriteCsv(const OfflineExport* ex, FILE* out, int64_t interval, char* err);

// OfflineExportWriteCsv into the file at path, replacing it whole or not at
// all (written beside it, then renamed). Returns 1, or 0 with a reason in
// err; a failed write leaves no new file.
int OfflineExportCsvFile(const OfflineExport* ex, const char* path, int64_t interval, char* err);

// Renders the whole file fitted to the surface's size, as the window draws
// it after a read (zoom level, centring, every filter visible, none
// selected). Returns GraphDraw's result.
int OfflineExportRender(const OfflineExport* ex, DrawSurface* surface);

// The export mode end to end: read, CSV, picture. Prints the failure to
// stderr as "lumo_offline: TEXT". Returns the exit code: 0; 2 when every
// output was written but the file was cut short or damaged part way (the
// packets before are in them; the warning is on stderr); 1 on any failure.
int OfflineExportRun(const OfflineArgs* args, OfflineExportPictureFn picture);
