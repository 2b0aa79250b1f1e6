// SPDX-License-Identifier: GPL-2.0-or-later
// headless.cpp - lumo --headless.
//
//   arguments     the options
//   start-up      settings, filters, interface, the right to capture, the
//                 capture filter, the CSV, the metrics, then the pipeline
//   the loop      every 20 ms: the intervals that have ended and whose
//                 packets are all judged go to the CSV; a judge that ends
//                 is told on stderr
//   the end       capture stopped, the last verdicts awaited, the last
//                 finished interval written, everything released
#include "shell/headless.h"

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "capture/capture.h"
#include "filterset/filterset.h"
#include "graph/graphcsv.h"
#include "pipeline/packetring.h"
#include "pipeline/rawsharkmngr.h"
#include "platform/text.h"
#include "shell/debuglog.h"
#include "shell/liverows.h"
#include "shell/livewnd.h"
#include "shell/mainwnd.h"
#include "shell/metrics.h"
#include "shell/settings.h"

namespace {

constexpr int kTickMs = 20;
constexpr int kInterfaceMax = 64;

volatile sig_atomic_t StopSignal = 0;

void OnStopSignal(int) { StopSignal = 1; }

int ParseWhole(const char* text, int64_t low, int64_t high, int64_t* out) {
    if (!text || !*text || *text == '+' || *text == '-') return 0;
    errno = 0;
    char* end = nullptr;
    long long v = strtoll(text, &end, 10);
    if (errno || *end || v < low || v > high) return 0;
    *out = v;
    return 1;
}

// [ADDRESS:]PORT, with an IPv6 address in brackets.
int ParseListen(const char* text, HeadlessArgs* args) {
    const char* colon = strrchr(text, ':');
    const char* port = colon ? colon + 1 : text;
    args->metricsAddress[0] = '\0';
    if (colon) {
        size_t n = static_cast<size_t>(colon - text);
        if (n == 0 || n >= sizeof args->metricsAddress) return 0;
        memcpy(args->metricsAddress, text, n);
        args->metricsAddress[n] = '\0';
    }
    int64_t p;
    if (!ParseWhole(port, 1, 65535, &p)) return 0;
    args->metricsPort = static_cast<int>(p);
    return 1;
}

// ---------------------------------------------------------------- the run

struct HeadlessRecord {
    Settings settings;
    MainWndView view;
    FILE* csv;
    GraphRows rows;
    int64_t nextBin;                                // the next interval the CSV gets
    int reportedEnd;                                // the end of a judge was told
    char told[FilterSetMax][kRawsharkMessageSize];  // each filter's message as last told
};

HeadlessRecord* Run;

// Writes the intervals before now's that are not written yet, once every
// packet up to the newest of them is judged (or `force`, at the end, after
// the wait for the judges). Returns 0 when the CSV cannot be written.
int WriteFinished(int64_t now, int force) {
    if (!Run->csv || PacketRingCount() == 0) return 1;
    int64_t nowBin = PacketRingBinAt(now);
    int64_t last = nowBin - 1;  // the newest interval that has ended
    if (last < Run->nextBin) return 1;
    if (!force && !RawsharkMngrDecidedThrough(last, PacketRingCount())) return 1;
    const int limit = Run->settings.binCount;
    int64_t columns = nowBin - Run->nextBin + 1;
    if (columns > limit) {
        // the counters keep no more; what fell out of them is gone
        Run->nextBin = nowBin - limit + 1;
        columns = limit;
    }
    GraphView view;
    LiveViewAt(&view, now, Run->settings.samplingInterval, static_cast<int>(columns));
    const FilterSet* set = &Run->view.filters;
    if (!LiveRowsFill(&Run->rows, &view, now, limit, set->entries, set->count, nullptr, -1)) return 1;
    // column j is interval nowBin - j; column 0 has not ended
    GraphCsvWriteColumns(Run->csv, &view, &Run->rows, static_cast<int>(columns) - 1, 1, 1);
    Run->nextBin = nowBin;
    return fflush(Run->csv) == 0 && !ferror(Run->csv);
}

// A judge's word on a filter (refused, ended, stopped), told once on
// stderr; the others count on.
void TellMessages() {
    const FilterSet* set = &Run->view.filters;
    for (int i = 0; i < set->count; ++i) {
        char message[kRawsharkMessageSize];
        RawsharkMngrLastMessage(i, message);
        if (!message[0] || strcmp(message, Run->told[i]) == 0) continue;
        fprintf(stderr, "lumo: filter %d (%s): %s\n", i + 1, set->entries[i].filterText, message);
        memcpy(Run->told[i], message, sizeof message);
    }
}

int StartUp(const HeadlessArgs* args, char* err) {
    Settings* settings = &Run->settings;
    SettingsLoad(settings, SettingsLumo);
    if (args->interval) settings->samplingInterval = args->interval;
    if (args->captureFilterGiven)
        TextCopy(settings->capture.captureFilter, sizeof settings->capture.captureFilter, args->captureFilter);
    MainWndViewInit(&Run->view);
    FilterSet* set = &Run->view.filters;
    if (args->filterSet[0]) {
        if (!FileExists(args->filterSet)) {
            ErrorSet(err, "cannot open the filter set %s", args->filterSet);
            return 0;
        }
        set->count = FilterSetLoadFilterSet(args->filterSet, set->entries, FilterSetMax);
        if (set->count == 0) {
            ErrorSet(err, "the filter set %s holds no filter", args->filterSet);
            return 0;
        }
    } else {
        MainWndLoadStartupFilterSet(&Run->view, settings, kStartupFilterSetFile);
    }
    int needRawshark = !(settings->rawshark.onePass && RawsharkMngrJudgeAvailable());
    for (int i = 0; needRawshark && i < set->count; ++i) {
        if (set->entries[i].filterText[0] && !MainWndRawsharkPathUsable(settings)) {
            ErrorSet(err, "Set rawshark file path. (rawshark_path in lumo.ini)");
            return 0;
        }
    }

    static InterfaceInfo interfaces[kInterfaceMax];
    int n = CaptureGetInterfaceList(kInterfaceMax, interfaces);
    if (n < 0) {
        ErrorSet(err, "pcap_findalldevs() error");
        return 0;
    }
    if (n > kInterfaceMax) n = kInterfaceMax;
    const char* wanted = args->iface[0] ? args->iface : settings->capture.iface.name;
    int chosen = -1;
    for (int i = 0; i < n; ++i) {
        if (strcmp(interfaces[i].name, wanted) == 0) chosen = i;
    }
    if (chosen < 0 && !args->iface[0] && n > 0) chosen = 0;
    if (chosen < 0) {
        std::string names;
        for (int i = 0; i < n; ++i) names += std::string(i ? ", " : "") + interfaces[i].name;
        if (n == 0) {
            ErrorSet(err, "Network Interface is not found.");
        } else {
            ErrorSet(err, "unknown interface %s (the interfaces are: %s)", wanted, names.c_str());
        }
        return 0;
    }
    settings->capture.iface = interfaces[chosen];
    int denied = 0;
    char reason[kErrorLen];
    if (!CaptureProbe(settings->capture.iface.name, &denied, reason)) {
        if (denied) {
            ErrorSet(err,
                     "no right to capture on %s (%s). Run as root, or grant the program the right once "
                     "(again after each rebuild): sudo setcap cap_net_raw,cap_net_admin+eip %s/lumo",
                     settings->capture.iface.name, reason, ProgramFolder());
        } else {
            ErrorSet(err, "cannot capture on %s: %s", settings->capture.iface.name, reason);
        }
        return 0;
    }
    if (settings->capture.captureFilter[0] &&
        CaptureTestFilter(settings->capture.iface.name, settings->capture.captureFilter) != 1) {
        ErrorSet(err, "the capture filter \"%s\" does not compile", settings->capture.captureFilter);
        return 0;
    }
    if (args->metricsPort && !MetricsStart(args->metricsAddress, args->metricsPort, set->entries, set->count, err)) {
        return 0;
    }
    if (args->csvPath[0]) {
        if (strcmp(args->csvPath, "-") == 0) {
            Run->csv = stdout;
        } else if (!(Run->csv = fopen(args->csvPath, "w"))) {
            ErrorSet(err, "cannot create %s: %s", args->csvPath, strerror(errno));
            return 0;
        }
    }

    if (!LiveWndInitCounters(settings, err)) return 0;
    if (!RawsharkMngrListEdit(&settings->rawshark, settings->capture.iface.linkType, set->count, set->entries,
                              settings->binCount)) {
        ErrorSet(err, "RawsharkMngrListEdit() error");
        return 0;
    }
    if (Run->csv) {
        if (!GraphRowsReset(&Run->rows, 1)) {
            ErrorSet(err, "malloc() error");
            return 0;
        }
        GraphRowsSetFilters(&Run->rows, set->entries, set->count, nullptr, -1);
        Run->rows.droppedKnown = 1;
        GraphCsvWriteHeader(Run->csv, &Run->rows, 1);
        fflush(Run->csv);
    }
    CapturePacketHandlerControl(1);
    if (!CaptureStartThread(&settings->capture)) {
        ErrorSet(err, "CaptureStartThread() error");
        return 0;
    }
    return 1;
}

void SleepMs(int ms) {
    timespec t{ms / 1000, static_cast<long>(ms % 1000) * 1000000};
    nanosleep(&t, nullptr);  // a signal cuts it short
}

}  // namespace

int HeadlessWanted(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--headless") == 0) return 1;
    }
    return 0;
}

const char* HeadlessUsageText() {
    return "usage: lumo --headless [--interface NAME] [--filter-set FILE.fs] [--interval MICROSECONDS]\n"
           "                      [--capture-filter TEXT] [--csv FILE|-] [--metrics [ADDRESS:]PORT]\n"
           "                      [--duration SECONDS]\n"
           "\n"
           "Captures and counts like the window, without one. What is not given comes from\n"
           "lumo.ini and the start-up filter set; nothing is saved.\n"
           "\n"
           "  --interface NAME        the interface to capture on\n"
           "  --filter-set FILE.fs    the filters to count\n"
           "  --interval MICROSECONDS the sampling interval (one CSV line each)\n"
           "  --capture-filter TEXT   a libpcap capture filter\n"
           "  --csv FILE|-            the live CSV, one line per finished interval, flushed\n"
           "                          as it is written (- for standard output)\n"
           "  --metrics [ADDRESS:]PORT  serve /metrics for Prometheus (address 127.0.0.1\n"
           "                          unless given)\n"
           "  --duration SECONDS      stop after that long (default: at SIGINT or SIGTERM)\n"
           "  --help                  show this text\n";
}

int HeadlessArgsParse(int argc, char** argv, HeadlessArgs* args, char* err) {
    *args = HeadlessArgs{};
    ErrorClear(err);
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!strcmp(a, "--headless")) continue;
        if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
            args->help = 1;
            continue;
        }
        static const char* const kValued[] = {"--interface", "--filter-set", "--interval", "--capture-filter",
                                              "--csv",       "--metrics",    "--duration"};
        int valued = 0;
        for (const char* v : kValued) valued |= !strcmp(a, v);
        if (!valued) {
            ErrorSet(err, "unknown option %s (lumo --headless --help lists them)", a);
            return 0;
        }
        if (i + 1 >= argc || !argv[i + 1][0]) {
            ErrorSet(err, "%s needs a value", a);
            return 0;
        }
        const char* v = argv[++i];
        int64_t number = 0;
        if (!strcmp(a, "--interface")) {
            if (TextCopy(args->iface, sizeof args->iface, v) >= sizeof args->iface) {
                ErrorSet(err, "--interface: the name is too long");
                return 0;
            }
        } else if (!strcmp(a, "--filter-set")) {
            if (TextCopy(args->filterSet, sizeof args->filterSet, v) >= sizeof args->filterSet) {
                ErrorSet(err, "--filter-set: the path is too long");
                return 0;
            }
        } else if (!strcmp(a, "--interval")) {
            if (!ParseWhole(v, 1, INT64_MAX / 1000, &number)) {
                ErrorSet(err, "--interval needs a whole number of microseconds above 0, not \"%s\"", v);
                return 0;
            }
            args->interval = number;
        } else if (!strcmp(a, "--capture-filter")) {
            if (TextCopy(args->captureFilter, sizeof args->captureFilter, v) >= sizeof args->captureFilter) {
                ErrorSet(err, "--capture-filter: at most 255 characters");
                return 0;
            }
            args->captureFilterGiven = 1;
        } else if (!strcmp(a, "--csv")) {
            if (TextCopy(args->csvPath, sizeof args->csvPath, v) >= sizeof args->csvPath) {
                ErrorSet(err, "--csv: the path is too long");
                return 0;
            }
        } else if (!strcmp(a, "--metrics")) {
            if (!ParseListen(v, args)) {
                ErrorSet(err, "--metrics needs [ADDRESS:]PORT with a port of 1..65535, not \"%s\"", v);
                return 0;
            }
        } else {
            if (!ParseWhole(v, 1, 100LL * 365 * 86400, &number)) {
                ErrorSet(err, "--duration needs a whole number of seconds above 0, not \"%s\"", v);
                return 0;
            }
            args->duration = number;
        }
    }
    return 1;
}

int HeadlessRun(const HeadlessArgs* args) {
    if (args->help) {
        fputs(HeadlessUsageText(), stdout);
        return 0;
    }
    Run = new HeadlessRecord{};
    // no CSV line may land between a child's start and its exec
    fflush(stdout);
    char err[kErrorLen];
    int code = 0;
    if (!StartUp(args, err)) {
        fprintf(stderr, "lumo: %s\n", err);
        DEBUG_LOG("HeadlessRun() err,%s", err);
        code = 1;
    } else {
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        const int64_t started = PerfCounter();
        const int64_t frequency = PerfFrequency();
        int writing = 1;
        while (!StopSignal) {
            SleepMs(kTickMs);
            TellMessages();
            if (!Run->reportedEnd && !RawsharkMngrJudgesRunning()) {
                fprintf(stderr, "lumo: a judging process has ended; all traffic is still counted\n");
                Run->reportedEnd = 1;
            }
            if (writing && !WriteFinished(PerfCounter(), 0)) {
                fprintf(stderr, "lumo: cannot write the CSV: %s\n", strerror(errno));
                writing = 0;
            }
            if (args->duration && PerfCounter() - started >= args->duration * frequency) break;
        }
        // The end: no new packet, the last verdicts in, then the intervals
        // that have ended.
        const int64_t end = PerfCounter();
        CapturePacketHandlerControl(0);
        CaptureStopThread();
        const int64_t last = PacketRingBinAt(end) - 1;
        for (int i = 0; i < 2000 / kTickMs && !RawsharkMngrDecidedThrough(last, PacketRingCount()); ++i) {
            SleepMs(kTickMs);
        }
        if (writing) WriteFinished(end, 1);
        TellMessages();
        DEBUG_LOG("HeadlessRun() info,stopped");
    }
    MetricsStop();  // no scrape reads the pipeline from here on
    CapturePacketHandlerControl(0);
    CaptureStopThread();
    RawsharkMngrListClear();
    TotalCounterFree();
    GraphRowsFree(&Run->rows);
    if (Run->csv && Run->csv != stdout && fclose(Run->csv) != 0 && code == 0) {
        fprintf(stderr, "lumo: cannot write the CSV: %s\n", strerror(errno));
        code = 1;
    }
    if (Run->csv == stdout) fflush(stdout);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    delete Run;
    Run = nullptr;
    return code;
}
