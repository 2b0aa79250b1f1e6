// SPDX-License-Identifier: GPL-2.0-or-later
// export.cpp - command line and export mode of lumo_offline.
//
//   OfflineArgsParse        the options
//   OfflineExportRead       settings, filters, filter check, one reading run
//   OfflineExportWriteCsv   per-interval counts, through graph rows
//   OfflineExportRender     the fitted graph into a surface
//   OfflineExportRun        all of it, with exit code and stderr text
#include "offline/export.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "filterset/dfilter.h"
#include "graph/graph.h"
#include "graph/graphcsv.h"
#include "offline/offlinerows.h"
#include "offline/offlineview.h"
#include "pipeline/judgesplit.h"
#include "pipeline/packetstore.h"
#include "pipeline/rawsharkmngr.h"
#include "platform/text.h"
#include "shell/debuglog.h"

// How long the export waits for the last verdicts: far longer than the
// window's 3 s, since a CSV must hold every verdict; a refused filter ends
// the wait at once through its "rawshark:" line.
constexpr int kExportWaitRounds = 600;

// ---------------------------------------------------------------- arguments

const char* OfflineUsageText() {
    return "usage: lumo_offline [--filter-set FILE.fs] [--interval MICROSECONDS]\n"
           "                    [--export-csv OUT.csv] [--export-png OUT.png [--size WIDTHxHEIGHT]]\n"
           "                    [--one-pass | --per-filter] [CAPTURE]\n"
           "\n"
           "Graphs a capture file (pcap, pcapng) per Wireshark display filter.\n"
           "Without an export option the window opens and reads CAPTURE when given.\n"
           "\n"
           "  --filter-set FILE.fs    the filters to use (default: the start-up filter set)\n"
           "  --interval MICROSECONDS width of a CSV row (default: the sampling interval\n"
           "                          of lumo_offline.ini, 50000)\n"
           "  --export-csv OUT.csv    write packets and bytes per interval, all traffic and\n"
           "                          each filter, then exit (no window, no display needed)\n"
           "  --export-png OUT.png    draw the graph of the whole file into OUT.png, then exit\n"
           "  --size WIDTHxHEIGHT     size of the PNG (default 1280x480)\n"
           "  --one-pass              judge every filter on one dissection per packet (one\n"
           "                          lumo_judge), for this run, whatever one_pass says\n"
           "  --per-filter            one rawshark per filter (the rawshark_path of the\n"
           "                          settings), for this run, whatever one_pass says\n"
           "  --judges N              one pass with N lumo_judge processes sharing the\n"
           "                          packets by conversation (0: the processors less\n"
           "                          one, at most 8), for this run, whatever judges says\n"
           "  --help                  show this text\n"
           "  --version               show the version\n"
           "\n"
           "The export reads the settings but saves nothing; it exits 0 when every output\n"
           "was written, 2 when they were but the file was cut short or damaged part way\n"
           "(they hold the packets before; the warning is on standard error), and 1 (with\n"
           "the reason on standard error) otherwise.\n";
}

static int ParsePositive(const char* text, int64_t* out) {
    if (!text || !*text || *text == '-' || *text == '+') return 0;
    errno = 0;
    char* end = nullptr;
    long long v = strtoll(text, &end, 10);
    if (errno || *end || v <= 0) return 0;
    *out = v;
    return 1;
}

static int ParseSize(const char* text, int32_t* w, int32_t* h) {
    const char* x = strchr(text, 'x');
    if (!x) x = strchr(text, 'X');
    if (!x) return 0;
    char left[32];
    size_t n = static_cast<size_t>(x - text);
    if (n == 0 || n >= sizeof left) return 0;
    memcpy(left, text, n);
    left[n] = '\0';
    int64_t a, b;
    if (!ParsePositive(left, &a) || !ParsePositive(x + 1, &b)) return 0;
    if (a > kExportMaxSide || b > kExportMaxSide) return 0;
    *w = static_cast<int32_t>(a);
    *h = static_cast<int32_t>(b);
    return 1;
}

int OfflineArgsParse(int argc, char** argv, OfflineArgs* args, char* err) {
    *args = OfflineArgs{};
    args->onePass = -1;
    args->judges = -1;
    args->pngWidth = kExportDefaultWidth;
    args->pngHeight = kExportDefaultHeight;
    int sizeGiven = 0;
    ErrorClear(err);
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
            args->help = 1;
            continue;
        }
        if (!strcmp(a, "--version")) {
            args->version = 1;
            continue;
        }
        if (!strcmp(a, "--one-pass") || !strcmp(a, "--per-filter")) {
            int onePass = !strcmp(a, "--one-pass");
            if (args->onePass == 1 - onePass) {
                ErrorSet(err, "--one-pass and --per-filter exclude each other");
                return 0;
            }
            args->onePass = onePass;
            continue;
        }
        int takesValue = !strcmp(a, "--filter-set") || !strcmp(a, "--interval") || !strcmp(a, "--export-csv") ||
                         !strcmp(a, "--export-png") || !strcmp(a, "--size") || !strcmp(a, "--judges");
        if (takesValue) {
            if (i + 1 >= argc || !argv[i + 1][0]) {
                ErrorSet(err, "%s needs a value", a);
                return 0;
            }
            const char* v = argv[++i];
            char* dest = nullptr;
            if (!strcmp(a, "--filter-set"))
                dest = args->filterSet;
            else if (!strcmp(a, "--export-csv"))
                dest = args->csvPath;
            else if (!strcmp(a, "--export-png"))
                dest = args->pngPath;
            if (dest) {
                if (TextCopy(dest, kPathMax, v) >= static_cast<size_t>(kPathMax)) {
                    ErrorSet(err, "%s: the path is too long", a);
                    return 0;
                }
            } else if (!strcmp(a, "--judges")) {
                int64_t n = 0;
                if (strcmp(v, "0") != 0 && (!ParsePositive(v, &n) || n > kJudgesMax)) {
                    ErrorSet(err, "--judges needs a number of judges 0..%d (0: automatic), not \"%s\"", kJudgesMax, v);
                    return 0;
                }
                args->judges = static_cast<int32_t>(n);
            } else if (!strcmp(a, "--interval")) {
                if (!ParsePositive(v, &args->interval)) {
                    ErrorSet(err, "--interval needs a whole number of microseconds above 0, not \"%s\"", v);
                    return 0;
                }
            } else {
                if (!ParseSize(v, &args->pngWidth, &args->pngHeight)) {
                    ErrorSet(err, "--size needs WIDTHxHEIGHT, each 1..%d, not \"%s\"", kExportMaxSide, v);
                    return 0;
                }
                sizeGiven = 1;
            }
            continue;
        }
        if (a[0] == '-' && a[1] != '\0') {
            ErrorSet(err, "unknown option %s", a);
            return 0;
        }
        if (args->capture[0]) {
            ErrorSet(err, "more than one capture file given");
            return 0;
        }
        if (TextCopy(args->capture, sizeof args->capture, a) >= sizeof args->capture) {
            ErrorSet(err, "the capture file path is too long");
            return 0;
        }
    }
    if (args->help || args->version) return 1;
    if (sizeGiven && !args->pngPath[0]) {
        ErrorSet(err, "--size applies to --export-png");
        return 0;
    }
    if (args->interval && !args->csvPath[0]) {
        ErrorSet(err, "--interval applies to --export-csv");
        return 0;
    }
    if (OfflineArgsExporting(args) && !args->capture[0]) {
        ErrorSet(err, "an export needs a capture file");
        return 0;
    }
    return 1;
}

int OfflineArgsExporting(const OfflineArgs* args) { return args->csvPath[0] || args->pngPath[0]; }

// ---------------------------------------------------------------- reading

int OfflineExportRead(OfflineExport* ex, const OfflineArgs* args, char* err) {
    ErrorClear(err);
    SettingsLoad(&ex->settings, SettingsLumoOffline);
    if (args->onePass >= 0) ex->settings.rawshark.onePass = args->onePass;
    if (args->judges >= 0) ex->settings.rawshark.judges = args->judges;
    if (ex->maxRows <= 0) ex->maxRows = kExportMaxRows;
    ResetFilterEntries(ex->entries, FilterSetMax);
    ex->count = 0;
    if (args->filterSet[0]) {
        if (!FileExists(args->filterSet)) {
            ErrorSet(err, "cannot open the filter set %s", args->filterSet);
            return 0;
        }
        ex->count = FilterSetLoadFilterSet(args->filterSet, ex->entries, FilterSetMax);
    } else if (ex->settings.rawshark.rawsharkPath[0]) {
        char path[kPathMax];
        if (DataFilePath(kStartupFilterSetOfflineFile, path, sizeof path)) {
            ex->count = FilterSetLoadFilterSet(path, ex->entries, FilterSetMax);
        }
    }
    int needRawshark = 0;
    for (int i = 0; i < ex->count; i++) needRawshark |= ex->entries[i].filterText[0] != '\0';
    if (needRawshark && !ex->settings.rawshark.rawsharkPath[0]) {
        ErrorSet(err, "Set rawshark file path.");
        return 0;
    }
    // A filter that rawshark would refuse is reported before the read, also
    // for a file too short for rawshark to say so in time. Without the
    // checker the read itself still reports the refusal. The judge of one
    // pass answers for every filter before its first verdict, so it needs
    // no check beforehand.
    int onePass = ex->settings.rawshark.onePass && RawsharkMngrJudgeAvailable();
    if (needRawshark && !onePass) {
        DfilterStartChildProcess("");
        for (int i = 0; i < ex->count; i++) {
            int verdict = 1;
            if (ex->entries[i].filterText[0] && DfilterDravik(ex->entries[i].filterText, &verdict) && !verdict) {
                DfilterStopChildProcess();
                ErrorSet(err, "filter %d is not a valid display filter: %s", i + 1, ex->entries[i].filterText);
                return 0;
            }
        }
        DfilterStopChildProcess();
    }

    CaptureFileJob* job = &ex->job;
    CaptureFileJobInit(job, args->capture, &ex->settings.rawshark, ex->entries, ex->count);
    job->waitRounds = kExportWaitRounds;
    job->stopOnMessage = 1;
    if (!CaptureFileReadStart(job)) {
        CaptureFileReadFinish(job);
        ErrorSet(err, "%s", job->message);
        return 0;
    }
    CaptureFileReadFinish(job);
    if (!OfflineExportCheckRun(job, ex->entries, ex->count, onePass, err)) {
        PacketStoreReset();
        return 0;
    }
    return 1;
}

int OfflineExportCheckRun(const CaptureFileJob* job, const FilterEntry* entries, int count, int onePass, char* err) {
    ErrorClear(err);
    if (job->state.load(std::memory_order_acquire) != CaptureFileFinished) {
        // The reader's texts begin with a line break that sets them apart in
        // the window's message box; a line on standard error needs none.
        const char* m = job->message;
        while (*m == '\n') m++;
        ErrorSet(err, "%s", m);
        return 0;
    }
    for (int i = 0; i < count; i++) {
        const char* m = job->lastMessages[i];
        if (m[0]) {
            // The judge's refusal reads as the checker's would have, with
            // the compiler's reason after the filter.
            const char* reason = strncmp(m, "lumo_judge: filter ", 19) == 0 ? strstr(m + 19, ": ") : nullptr;
            if (reason) {
                ErrorSet(err, "filter %d is not a valid display filter: %s (%s)", i + 1, entries[i].filterText,
                         reason + 2);
            } else {
                ErrorSet(err, "filter %d (%s): %s", i + 1, entries[i].filterText, m);
            }
            return 0;
        }
    }
    if (!job->allJudged) {
        ErrorSet(err, "%s did not judge every packet within %d s", onePass ? "lumo_judge" : "rawshark",
                 job->waitRounds / 10);
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------- CSV

// Columns of one round of rows: the file's intervals are folded and written
// this many at a time.
constexpr int kCsvRowsColumns = 4096;

int OfflineExportWriteCsv(const OfflineExport* ex, FILE* out, int64_t interval, char* err) {
    ErrorClear(err);
    if (interval <= 0) {
        ErrorSet(err, "the interval must be above 0");
        return 0;
    }
    // The rows run from the interval of the earliest packet to that of the
    // latest; a packet stamped before the first one lies in an interval
    // before 0.
    const int64_t count = PacketStoreCount();
    const int64_t firstBin = count > 0 ? PacketStoreBinOf(PacketStoreFirstTime(), interval) : 0;
    const int64_t lastBin = count > 0 ? PacketStoreBinOf(PacketStoreLastTime(), interval) : -1;
    const int64_t intervals = lastBin - firstBin + 1;
    int64_t maxRows = ex->maxRows > 0 ? ex->maxRows : kExportMaxRows;
    if (intervals > maxRows) {
        ErrorSet(err,
                 "the file spans %" PRId64 " intervals of %" PRId64 " microseconds (at most %" PRId64
                 "); choose a wider --interval",
                 intervals, interval, maxRows);
        return 0;
    }
    GraphRows rows{};
    if (!GraphRowsReset(&rows, kCsvRowsColumns)) {
        ErrorSet(err, "out of memory");
        return 0;
    }
    GraphRowsSetFilters(&rows, ex->entries, ex->count, nullptr, -1);
    GraphCsvWriteHeader(out, &rows, 0);
    for (int64_t bin = firstBin; bin <= lastBin; bin += kCsvRowsColumns) {
        int columns = static_cast<int>(lastBin - bin + 1 < kCsvRowsColumns ? lastBin - bin + 1 : kCsvRowsColumns);
        GraphView view;
        OfflineViewOf(&view, columns, interval, (bin + columns - 1) * interval);
        OfflineRowsFill(&rows, &view, ex->entries, ex->count, nullptr, -1, nullptr);
        GraphCsvWriteColumns(out, &view, &rows, columns - 1, 0, 0);
    }
    GraphRowsFree(&rows);
    if (ferror(out)) {
        ErrorSet(err, "write error: %s", strerror(errno));
        return 0;
    }
    return 1;
}

int OfflineExportCsvFile(const OfflineExport* ex, const char* path, int64_t interval, char* err) {
    AtomicFile file;
    char reason[kErrorLen];
    FILE* out = FileAtomicOpen(&file, path, reason);
    if (!out) {
        ErrorSet(err, "cannot create %s: %s", path, reason);
        return 0;
    }
    setvbuf(out, nullptr, _IOFBF, 1 << 20);
    int ok = OfflineExportWriteCsv(ex, out, interval, err);
    if (!FileAtomicClose(&file, ok, reason) && ok) {
        ErrorSet(err, "cannot write %s: %s", path, reason);
        ok = 0;
    }
    return ok;
}

// ---------------------------------------------------------------- picture

int OfflineExportRender(const OfflineExport* ex, DrawSurface* surface) {
    OfflineView fit;
    OfflineViewInit(&fit, ex->settings.samplingInterval, surface->width);
    OfflineViewSetFirstTime(&fit, PacketStoreFirstTime());
    OfflineViewFitFile(&fit, PacketStoreLastTime(), surface->width);
    GraphView view;
    OfflineViewOf(&view, surface->width, fit.microsPerPixel, fit.viewEndTime);
    GraphRows rows{};
    // rows that could not be made leave a frame of background, grid and axis
    OfflineRowsFill(&rows, &view, ex->entries, ex->count, nullptr, -1, ex->job.lastMessages);
    LegendRect rects[FilterSetMax] = {};
    const GraphStyle style = SettingsGraphStyle(&ex->settings);
    int ok = GraphDraw(surface, &style, &view, &rows, rects);
    GraphRowsFree(&rows);
    return ok;
}

// ---------------------------------------------------------------- export mode

int OfflineExportRun(const OfflineArgs* args, OfflineExportPictureFn picture) {
    char error[kErrorLen];
    std::unique_ptr<OfflineExport> ex(new OfflineExport{});
    if (!OfflineExportRead(ex.get(), args, error)) {
        fprintf(stderr, "lumo_offline: %s\n", error);
        return 1;
    }
    int code = 0;
    if (args->csvPath[0]) {
        int64_t interval = args->interval ? args->interval : ex->settings.samplingInterval;
        if (!OfflineExportCsvFile(ex.get(), args->csvPath, interval, error)) {
            fprintf(stderr, "lumo_offline: %s\n", error);
            code = 1;
        }
    }
    if (code == 0 && args->pngPath[0]) {
        if (!picture) {
            fprintf(stderr, "lumo_offline: this build cannot write pictures\n");
            code = 1;
        } else if (!picture(ex.get(), args->pngPath, args->pngWidth, args->pngHeight, error)) {
            fprintf(stderr, "lumo_offline: %s\n", error);
            code = 1;
        }
    }
    // What was read of a file cut short or damaged further on is written
    // whole; the exit status says the file was not read to its end, as
    // tshark's does.
    if (code == 0 && ex->job.warning[0]) {
        fprintf(stderr, "lumo_offline: %s\n", ex->job.warning);
        code = 2;
    }
    PacketStoreReset();
    return code;
}
