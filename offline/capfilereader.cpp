// SPDX-License-Identifier: GPL-2.0-or-later
// capfilereader.cpp - the capture-file reader thread and the serialising of
// its runs.
//
//   CaptureFileJobInit      prepare a run
//   CaptureFileReadStart    wait for the previous run, empty the store, start
//   CaptureFileReadThread   the run: open, build rawshark list, read, wait, release
//   CaptureFileReadFinish   wait for the run's end, empty the store after a failure
#include "offline/capfilereader.h"

#include <pcap/pcap.h>
#include <sys/stat.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "capture/pcaprecord.h"
#include "pipeline/childconsole.h"
#include "pipeline/calcstore.h"
#include "pipeline/judgesplit.h"
#include "pipeline/packetstore.h"
#include "pipeline/packetsummary.h"
#include "pipeline/rawsharkmngr.h"
#include "pipeline/record.h"
#include "platform/text.h"
#include "shell/debuglog.h"

// The module's one record: the thread of the latest run, kept so that the
// next run and the store reset can wait for its end. UI thread only.
struct CaptureFileReader {
    std::thread thread;
};
static CaptureFileReader Reader;

// Packets between two updates of the progress counters.
constexpr int64_t kProgressEvery = 256;

void CaptureFileJobInit(CaptureFileJob* job, const char* path, const RawsharkBlock* rawshark,
                        const FilterEntry* entries, int filterCount) {
    job->message[0] = '\0';
    TextCopy(job->path, sizeof job->path, path ? path : "");
    job->packetCount.store(0, std::memory_order_relaxed);
    job->bytesRead.store(0, std::memory_order_relaxed);
    job->fileSize.store(0, std::memory_order_relaxed);
    job->rawshark = rawshark;
    job->entries = entries;
    job->filterCount = filterCount;
    job->waitRounds = kCaptureFileWaitRounds;
    job->stopOnMessage = 0;
    job->allJudged = 0;
    memset(job->lastMessages, 0, sizeof job->lastMessages);
    job->warning[0] = '\0';
    job->cutShort = 0;
    job->state.store(CaptureFileQueued, std::memory_order_release);
}

static void WaitForReaderEnd() {
    if (Reader.thread.joinable()) Reader.thread.join();
}

int CaptureFileReadStart(CaptureFileJob* job) {
    // The previous run may still be releasing its processes, whose pipe
    // readers mark the store: both the new list and the reset wait for it.
    WaitForReaderEnd();
    PacketSummaryReset();
    CalcStoreReset();
    PacketStoreReset();
    job->state.store(CaptureFileQueued, std::memory_order_release);
    try {
        Reader.thread = std::thread(CaptureFileReadThread, job);
    } catch (const std::system_error& e) {
        TextCopy(job->message, sizeof job->message, "CaptureFileReadThread() error");
        DEBUG_LOG("CaptureFileReadThread() err,errno=%d", e.code().value());
        job->state.store(CaptureFileFailed, std::memory_order_release);
        return 0;
    }
    return 1;
}

int CaptureFileReadFinish(CaptureFileJob* job) {
    WaitForReaderEnd();
    int state = job->state.load(std::memory_order_acquire);
    if (state == CaptureFileFailed) {
        PacketSummaryReset();
        CalcStoreReset();
        PacketStoreReset();
    }
    return state;
}

int CaptureFileReadActive() { return Reader.thread.joinable(); }

// ---------------------------------------------------------------- the run

static void Fail(CaptureFileJob* job, const char* message) {
    TextCopy(job->message, sizeof job->message, message);
    DEBUG_LOG("%s", job->message);
    job->state.store(CaptureFileFailed, std::memory_order_release);
}

static void UpdateProgress(CaptureFileJob* job, pcap_t* handle) {
    FILE* f = pcap_file(handle);
    if (!f) return;
    long pos = ftell(f);
    if (pos >= 0) job->bytesRead.store(pos, std::memory_order_relaxed);
}

// Capture time in nanoseconds of a header read with nanosecond precision;
// 0 when it does not fit 64 bits (only a damaged file stamps packets
// centuries away).
static int StampNanos(const struct pcap_pkthdr* h, int64_t* out) {
    int64_t ns;
    if (__builtin_mul_overflow(static_cast<int64_t>(h->ts.tv_sec), int64_t{1000000000}, &ns)) return 0;
    if (__builtin_add_overflow(ns, static_cast<int64_t>(h->ts.tv_usec), &ns)) return 0;
    *out = ns;
    return 1;
}

// Time since the first packet in the store's microseconds: the difference
// is taken in nanoseconds and rounded down, so a packet falls into the
// interval of its own time even when the first one is stamped between
// microseconds.
static int64_t OffsetMicros(int64_t stampNs, int64_t baseNs) {
    int64_t d = stampNs - baseNs;
    return d / 1000 - ((d % 1000 != 0 && d < 0) ? 1 : 0);
}

// The base time of the clock: the first packet's capture time in
// microseconds since 1970, rounded down.
static int64_t EpochMicros(int64_t stampNs) { return OffsetMicros(stampNs, 0); }

// Remembers what the run's processes said before they are released: whether
// every entry decided every packet (a rawshark that died decided fewer), and
// each filter's last "rawshark:" line, which the graph and the export show
// for a filter that rawshark refused.
static void KeepVerdictState(CaptureFileJob* job, int64_t count) {
    int judged = 1;
    int entries = RawsharkMngrCount();
    for (int i = 0; i < entries; i++) {
        if (RawsharkMngrDecided(i) != count) judged = 0;
    }
    job->allJudged = judged;
    int n = job->filterCount < FilterSetMax ? job->filterCount : FilterSetMax;
    for (int i = 0; i < n; i++) RawsharkMngrLastMessage(i, job->lastMessages[i]);
}

// 1 when some filter's rawshark has printed a "rawshark:" line.
static int AnyFilterMessage(CaptureFileJob* job) {
    char text[256];
    for (int i = 0; i < job->filterCount && i < FilterSetMax; i++) {
        if (RawsharkMngrLastMessage(i, text) && text[0]) return 1;
    }
    return 0;
}

// A run that read part of the file keeps it: the warning says why it
// stopped and how many packets were kept.
static void KeepPart(CaptureFileJob* job, int cutShort, const char* reason, int64_t count) {
    job->cutShort = cutShort;
    if (cutShort) {
        snprintf(job->warning, sizeof job->warning,
                 "The capture file was cut short in the middle of a packet: the %lld packets before the cut are "
                 "shown.",
                 static_cast<long long>(count));
    } else {
        snprintf(job->warning, sizeof job->warning,
                 "Corrupted input file: %.300s\nThe %lld packets before the damage are shown.", reason,
                 static_cast<long long>(count));
    }
    DEBUG_LOG("CaptureFileReadThread() info,%s", job->warning);
}

// The end of a run that kept packets: once no process can mark any more,
// the items go in time order and the summary of wide columns is built; only
// then is the run finished, so the window never draws from a store that
// changes under it.
static void FinishRun(CaptureFileJob* job) {
    CalcStoreSort();
    if (!PacketStoreSortByTime()) {
        DEBUG_LOG("PacketStoreSortByTime() err,out of memory");
    } else if (!PacketSummaryBuild(job->filterCount)) {
        DEBUG_LOG("PacketSummaryBuild() err,out of memory");
    }
    job->state.store(CaptureFileFinished, std::memory_order_release);
}

// The per-filter way: libpcap reads the file (pcap, nanosecond pcap,
// pcapng of one link type) and every record goes to the rawshark processes.
static void ReadWithPcap(CaptureFileJob* job) {
    char errbuf[PCAP_ERRBUF_SIZE];
    errbuf[0] = '\0';
    int64_t count = 0;
    pcap_t* handle = pcap_open_offline_with_tstamp_precision(job->path, PCAP_TSTAMP_PRECISION_NANO, errbuf);
    if (!handle) {
        char text[sizeof job->message + PCAP_ERRBUF_SIZE];
        snprintf(text, sizeof text, "\nError opening the input file: %s", errbuf);
        Fail(job, text);
        RawsharkMngrListClear();
        return;
    }
    FILE* f = pcap_file(handle);
    struct stat st;
    if (f && fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) {
        job->fileSize.store(st.st_size, std::memory_order_relaxed);
    }
    if (!RawsharkMngrListEditOffline(job->rawshark, pcap_datalink(handle), job->filterCount, job->entries)) {
        Fail(job, "RawsharkMngrListEdit() error");
        RawsharkMngrListClear();
        pcap_close(handle);
        return;
    }
    int64_t base = 0;
    int result;
    int failed = 0;
    const char* partial = nullptr;  // why the file was not read to its end
    char reason[PCAP_ERRBUF_SIZE + 64];
    struct pcap_pkthdr* h;
    const u_char* data;
    while ((result = pcap_next_ex(handle, &h, &data)) == 1) {
        int64_t stamp;
        if (!StampNanos(h, &stamp)) {
            snprintf(reason, sizeof reason, "packet %lld is stamped beyond the year 2262",
                     static_cast<long long>(count + 1));
            partial = reason;
            break;
        }
        if (count == 0) {
            base = stamp;
            PacketStoreSetBaseTime(EpochMicros(stamp));
        }
        // A packet stamped before the first one falls into an interval
        // before time 0; the store puts everything in time order at the end.
        if (!PacketStoreAdd(OffsetMicros(stamp, base), h->len)) {
            Fail(job, "malloc() error");
            failed = 1;
            break;
        }
        PacketRecordHeader rec;
        CaptureRecordFromPcapNano(h, &rec);
        RawsharkMngrWritePacket(&rec, data);
        count++;
        job->packetCount.store(count, std::memory_order_relaxed);
        if (count % kProgressEvery == 0) UpdateProgress(job, handle);
        // A strict run learns of a refused filter from the first verdicts
        // (every refusal comes before them) rather than after the whole file.
        if (count == 1 && job->stopOnMessage) {
            for (int i = 0; i < job->waitRounds * 10 && !RawsharkMngrAllDone(1); i++) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (AnyFilterMessage(job)) break;
        }
    }
    if (!failed) {
        UpdateProgress(job, handle);
        if (result == -1) {
            snprintf(reason, sizeof reason, "%s", pcap_geterr(handle));
            partial = reason;
        }
        // End of input: each process judges what it holds and ends, so its
        // last verdicts and messages come at once.
        RawsharkMngrEndInput();
        int rounds = job->waitRounds;
        for (int i = 0; i < rounds * 10 && !(RawsharkMngrAllDone(count) && RawsharkMngrAllEnded()); i++) {
            if (job->stopOnMessage && AnyFilterMessage(job)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        KeepVerdictState(job, count);
    }
    // No process marks the store after this.
    RawsharkMngrListClear();
    pcap_close(handle);
    if (failed) return;
    if (partial) {
        if (count == 0) {
            char text[sizeof job->message];
            snprintf(text, sizeof text, "Corrupted input file: %.200s", partial);
            Fail(job, text);
            return;
        }
        KeepPart(job, strstr(partial, "truncated") != nullptr, partial, count);
    }
    FinishRun(job);
}

// ---------------------------------------------------------------- one pass

// What the judge's lines of one run say (see tools/judge: file mode).
struct JudgeRun {
    CaptureFileJob* job;
    int served[FilterSetMax];  // filter of each -R, in order
    int servedCount;
    uint16_t alwaysBits;  // the empty filters: they match every packet
    int64_t count;
    int64_t baseNs;
    int ended;                        // "end": the whole file was read
    int cutShort;                     // "cut short"
    int stopped;                      // a strict run stopped at a refused filter
    char damaged[256];                // "damaged: TEXT"
    char cannotOpen[256];             // "cannot open: TEXT"
    char note[kRawsharkMessageSize];  // its last other "lumo_judge:" line
    int failed;                       // the run failed (malloc)
    int firstEnded;                   // the first judge's output has ended
};

// One judge of a run and what it has said; the first writes every record,
// the others the marks of theirs.
struct RunJudge {
    ChildConsole console;
    std::vector<char> buffer;
    size_t fill;
    int open;   // its output has not ended
    int whole;  // it said end, cut short, damaged or that the first judges alone
};

// Reads a decimal number at *p (an optional minus first), moving *p past
// it. Returns 0 when there is no digit.
static int ParseNumber(const char** p, const char* end, int64_t* out) {
    const char* q = *p;
    int negative = q < end && *q == '-';
    if (negative) ++q;
    if (q >= end || *q < '0' || *q > '9') return 0;
    uint64_t v = 0;
    while (q < end && *q >= '0' && *q <= '9') {
        if (v > (UINT64_MAX - 9) / 10) return 0;
        v = v * 10 + static_cast<uint64_t>(*q++ - '0');
    }
    if (v > static_cast<uint64_t>(INT64_MAX)) return 0;
    *out = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    *p = q;
    return 1;
}

// One record line "SECS NSECS LEN VERDICTS": the packet into the store with
// the bits of the filters that matched. Returns 0 when the line is not one.
static int TakeRecord(JudgeRun* run, const char* line, const char* end) {
    CaptureFileJob* job = run->job;
    int64_t secs, nsecs, length;
    const char* p = line;
    if (!ParseNumber(&p, end, &secs) || p >= end || *p++ != ' ') return 0;
    if (!ParseNumber(&p, end, &nsecs) || p >= end || *p++ != ' ') return 0;
    if (!ParseNumber(&p, end, &length) || length < 0 || length > UINT32_MAX || p >= end || *p++ != ' ') return 0;
    const char* verdicts = p;
    if (end - p < run->servedCount) return 0;
    p += run->servedCount;
    // a word for each judged filter with a calculation
    CalcCell cells[FilterSetMax];
    for (int i = 0; i < run->servedCount; ++i) {
        if (job->entries[run->served[i]].calc == CalcNone) continue;
        if (p >= end || *p != ' ') return 0;
        const char* word = ++p;
        while (p < end && *p != ' ') ++p;
        if (!CalcCellParse(word, static_cast<int>(p - word), &cells[i])) return 0;
    }
    if (p != end) return 0;
    int64_t stamp;
    if (__builtin_mul_overflow(secs, int64_t{1000000000}, &stamp) || __builtin_add_overflow(stamp, nsecs, &stamp)) {
        // a stamp beyond the year 2262 ends the reading like damage does
        snprintf(run->damaged, sizeof run->damaged, "packet %lld is stamped beyond the year 2262",
                 static_cast<long long>(run->count + 1));
        return -1;
    }
    if (run->count == 0) {
        run->baseNs = stamp;
        PacketStoreSetBaseTime(EpochMicros(stamp));
    }
    const int64_t time = OffsetMicros(stamp, run->baseNs);
    if (!PacketStoreAdd(time, static_cast<uint32_t>(length))) {
        Fail(job, "malloc() error");
        run->failed = 1;
        return -1;
    }
    uint16_t bits = run->alwaysBits;
    for (int i = 0; i < run->servedCount; ++i) {
        if (verdicts[i] != '1') continue;
        bits |= static_cast<uint16_t>(1u << run->served[i]);
        if (job->entries[run->served[i]].calc != CalcNone && cells[i].count &&
            !CalcStoreAdd(run->served[i], time, &cells[i])) {
            Fail(job, "malloc() error");
            run->failed = 1;
            return -1;
        }
    }
    if (bits) {
        for (int i = 0; i < FilterSetMax; ++i) {
            if (bits & (1u << i)) PacketStoreMark(run->count, i);
        }
    }
    run->count++;
    job->packetCount.store(run->count, std::memory_order_relaxed);
    return 1;
}

// One line "=FRAME VERDICTS WORDS" of a judge after the first: the marks of
// a record the first judge has stored (its item is FRAME - 1). Returns 1
// when taken (or not such a line), 0 when the item is not stored yet (the
// line waits), -1 when the run failed.
static int TakeMark(JudgeRun* run, const char* line, const char* end) {
    CaptureFileJob* job = run->job;
    int64_t frame;
    const char* p = line + 1;
    if (end - line < 2 || *line != '=' || !ParseNumber(&p, end, &frame) || frame < 1 || p >= end || *p++ != ' ') {
        return 1;
    }
    if (frame > run->count) return run->firstEnded ? 1 : 0;  // a frame the first judge never stored is dropped
    const char* verdicts = p;
    if (end - p < run->servedCount) return 1;
    p += run->servedCount;
    CalcCell cells[FilterSetMax];
    for (int i = 0; i < run->servedCount; ++i) {
        if (job->entries[run->served[i]].calc == CalcNone) continue;
        if (p >= end || *p != ' ') return 1;
        const char* word = ++p;
        while (p < end && *p != ' ') ++p;
        if (!CalcCellParse(word, static_cast<int>(p - word), &cells[i])) return 1;
    }
    if (p != end) return 1;
    const int64_t k = frame - 1;
    for (int i = 0; i < run->servedCount; ++i) {
        if (verdicts[i] != '1') continue;
        PacketStoreMark(k, run->served[i]);
        if (job->entries[run->served[i]].calc != CalcNone && cells[i].count &&
            !CalcStoreAdd(run->served[i], PacketStoreItem(k)->time, &cells[i])) {
            Fail(job, "malloc() error");
            run->failed = 1;
            return -1;
        }
    }
    return 1;
}

// Copies the text after a prefix of the line into out.
static int After(const char* line, const char* end, const char* prefix, char* out, size_t size) {
    size_t n = strlen(prefix);
    if (static_cast<size_t>(end - line) < n || memcmp(line, prefix, n) != 0) return 0;
    if (out) snprintf(out, size, "%.*s", static_cast<int>(end - line - static_cast<ptrdiff_t>(n)), line + n);
    return 1;
}

// One line of the judge. Returns 0 to stop reading (the run failed, or a
// strict run met a refused filter).
static int TakeLine(JudgeRun* run, const char* line, const char* end) {
    CaptureFileJob* job = run->job;
    if (end - line < 11 || memcmp(line, "lumo_judge:", 11) != 0) {
        int r = TakeRecord(run, line, end);
        return r >= 0;  // a line that is not a record is passed over
    }
    char text[256];
    int64_t value;
    if (After(line, end, "lumo_judge: filter ", text, sizeof text)) {
        const char* p = line + 19;
        int64_t position;
        if (ParseNumber(&p, end, &position) && position >= 1 && position <= run->servedCount) {
            int f = run->served[position - 1];
            snprintf(job->lastMessages[f], sizeof job->lastMessages[f], "%.*s", static_cast<int>(end - line), line);
        }
        return 1;
    }
    if (After(line, end, "lumo_judge: field ", text, sizeof text) ||
        After(line, end, "lumo_judge: kind ", text, sizeof text)) {
        const int kind = line[12] == 'k';
        const char* p = line + (kind ? 17 : 18);
        int64_t position;
        if (ParseNumber(&p, end, &position) && position >= 1 && position <= run->servedCount) {
            int f = run->served[position - 1];
            if (kind && p < end && *p == ' ') {
                int k = CalcKindOfName(p + 1, static_cast<int>(end - p - 1));
                CalcStoreSetKind(f, k);
                if (k == CalcKindOther && job->entries[f].calc != CalcCount) {
                    snprintf(job->lastMessages[f], sizeof job->lastMessages[f],
                             "%.120s holds neither numbers nor time intervals: only count works on it",
                             job->entries[f].calcField);
                }
            } else if (!kind) {
                snprintf(job->lastMessages[f], sizeof job->lastMessages[f], "%.*s", static_cast<int>(end - line), line);
            }
        }
        return 1;
    }
    if (After(line, end, "lumo_judge: size ", text, sizeof text)) {
        const char* p = text;
        if (ParseNumber(&p, text + strlen(text), &value)) job->fileSize.store(value, std::memory_order_relaxed);
        // every refusal comes before this line
        if (job->stopOnMessage) {
            for (int i = 0; i < job->filterCount && i < FilterSetMax; ++i) {
                if (job->lastMessages[i][0]) {
                    run->stopped = 1;
                    return 0;
                }
            }
        }
        return 1;
    }
    if (After(line, end, "lumo_judge: at ", text, sizeof text)) {
        const char* p = text;
        if (ParseNumber(&p, text + strlen(text), &value)) job->bytesRead.store(value, std::memory_order_relaxed);
        return 1;
    }
    if (After(line, end, "lumo_judge: end ", nullptr, 0)) {
        run->ended = 1;
        return 1;
    }
    if (After(line, end, "lumo_judge: cut short: ", nullptr, 0)) {
        run->cutShort = 1;
        return 1;
    }
    if (After(line, end, "lumo_judge: damaged: ", run->damaged, sizeof run->damaged)) return 1;
    if (After(line, end, "lumo_judge: cannot open: ", run->cannotOpen, sizeof run->cannotOpen)) return 1;
    snprintf(run->note, sizeof run->note, "%.*s", static_cast<int>(end - line), line);
    return 1;
}

// The lines of judge j held in its buffer: taken in order, up to a mark
// whose record the first judge has not stored yet. Returns 0 to stop
// reading (the run failed, or a strict run met a refused filter).
static int TakeLines(JudgeRun* run, RunJudge* judges, int j) {
    RunJudge* judge = &judges[j];
    char* start = judge->buffer.data();
    char* end = start + judge->fill;
    char* lf;
    int going = 1;
    while (going && (lf = static_cast<char*>(memchr(start, '\n', static_cast<size_t>(end - start))))) {
        if (j == 0) {
            going = TakeLine(run, start, lf);
        } else if (*start == '=') {
            int r = TakeMark(run, start, lf);
            if (r == 0) break;  // waits for the first judge
            going = r > 0;
        } else if (After(start, lf, "lumo_judge: end ", nullptr, 0) ||
                   After(start, lf, "lumo_judge: cut short: ", nullptr, 0) ||
                   After(start, lf, "lumo_judge: damaged: ", nullptr, 0)) {
            judge->whole = 1;
        } else if (After(start, lf, "lumo_judge: alone ", nullptr, 0)) {
            DEBUG_LOG("CaptureFileReadThread() info,one judge: %.*s", static_cast<int>(lf - start), start);
        }
        start = lf + 1;
    }
    judge->fill = static_cast<size_t>(end - start);
    if (judge->fill == judge->buffer.size())
        judge->fill = 0;  // a line longer than the buffer is no line of the judge's
    memmove(judge->buffer.data(), start, judge->fill);
    return going;
}

// How the judges of a run are started: every one with the filters, several
// with their share ("-J I/N"). Returns the judges started, 0 on a failure
// (those started are released).
static int StartJudges(CaptureFileJob* job, RawsharkCommand* command, RunJudge* judges, int count) {
    for (int j = 0; j < count; ++j) {
        char err[kErrorLen];
        if (!RawsharkMngrFileJudgeCommand(job->rawshark, job->path, job->filterCount, job->entries, command) ||
            (count > 1 && !RawsharkCommandAppendJudgePart(command, j + 1, count)) ||
            !ChildConsoleNewArgv(command->text, command->argv, &judges[j].console, err)) {
            DEBUG_LOG("CaptureFileReadThread() err,lumo_judge,%s", command->text);
            for (int k = 0; k < j; ++k) ChildConsoleRelease(&judges[k].console);
            return 0;
        }
        // the judge reads the file, not its input
        close(judges[j].console.input);
        judges[j].console.input = 0;
        judges[j].open = 1;
    }
    return count;
}

// The one-pass way: lumo_judge reads the file itself (every format tshark
// reads, each record with its own link type) and hands over each record's
// time, length and verdicts; no packet byte crosses a pipe. Several judges
// each read the file and judge the records of their conversations; the
// first stores every record, the others mark theirs.
static void ReadWithJudge(CaptureFileJob* job) {
    JudgeRun* run = new (std::nothrow) JudgeRun{};
    RawsharkCommand* command = new (std::nothrow) RawsharkCommand;
    int count = JudgeCountOf(job->rawshark->judges);
    int judged = 0;
    for (int i = 0; i < job->filterCount && i < FilterSetMax; ++i) judged |= FilterNeedsJudge(&job->entries[i]);
    if (!judged) count = 1;  // nothing to dissect: the one judge only reads
    char why[320];
    if (count > 1 && JudgeSplitBlocked(job->entries, job->filterCount, why, sizeof why)) {
        DEBUG_LOG("CaptureFileReadThread() info,one judge: %s", why);
        count = 1;
    }
    std::vector<RunJudge> judges;
    try {
        judges.resize(static_cast<size_t>(count));
        for (int j = 0; j < count; ++j) judges[static_cast<size_t>(j)].buffer.resize(j == 0 ? 1 << 20 : 1 << 18);
    } catch (const std::bad_alloc&) {
        judges.clear();
    }
    if (!run || !command || judges.empty()) {
        Fail(job, "malloc() error");
    } else if (!StartJudges(job, command, judges.data(), count)) {
        Fail(job, "RawsharkMngrListEdit() error");
    } else {
        run->job = job;
        for (int i = 0; i < job->filterCount && i < FilterSetMax; ++i) {
            if (FilterNeedsJudge(&job->entries[i])) {
                run->served[run->servedCount++] = i;
            } else {
                run->alwaysBits |= static_cast<uint16_t>(1u << i);
            }
        }
        int going = 1;
        int64_t stored = -1;  // what the first judge had stored when the others last waited
        while (going) {
            // a judge whose next mark waits for the first judge is not read
            pollfd fds[kJudgesMax];
            int which[kJudgesMax];
            int n = 0;
            for (int j = 0; j < count; ++j) {
                RunJudge* judge = &judges[static_cast<size_t>(j)];
                if (!judge->open) continue;
                if (j > 0 && judge->fill == judge->buffer.size()) continue;
                fds[n] = {judge->console.output, POLLIN, 0};
                which[n++] = j;
            }
            if (n == 0) break;
            if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            for (int i = 0; i < n && going; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                RunJudge* judge = &judges[static_cast<size_t>(which[i])];
                ssize_t got =
                    read(judge->console.output, judge->buffer.data() + judge->fill, judge->buffer.size() - judge->fill);
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0) {
                    judge->open = 0;
                    if (which[i] == 0) run->firstEnded = 1;
                    continue;
                }
                judge->fill += static_cast<size_t>(got);
                going = TakeLines(run, judges.data(), which[i]);
            }
            // the first judge stored more: the others' waiting marks go on
            if (going && count > 1 && (run->count != stored || run->firstEnded)) {
                stored = run->count;
                for (int j = 1; j < count && going; ++j) going = TakeLines(run, judges.data(), j);
            }
        }
        int status = 0;
        int exited = going ? ChildConsoleEndStatus(&judges[0].console, 2000, &status) : 0;
        // of the others, the first that ended before the file did
        int other = 0, otherStatus = 0, otherExited = 0;
        for (int j = 1; j < count && going && !run->stopped; ++j) {
            if (judges[static_cast<size_t>(j)].whole) continue;
            other = j;
            otherExited = ChildConsoleEndStatus(&judges[static_cast<size_t>(j)].console, 2000, &otherStatus);
            break;
        }
        for (RunJudge& judge : judges) ChildConsoleRelease(&judge.console);
        if (!run->failed) {
            int whole = run->ended || run->cutShort || run->damaged[0];
            job->allJudged = (whole && !other) || run->stopped;
            if (run->cannotOpen[0]) {
                char text[sizeof job->message];
                snprintf(text, sizeof text, "\nError opening the input file: %.200s", run->cannotOpen);
                Fail(job, text);
            } else if ((!whole || other) && !run->stopped) {
                // a judge ended before the file did: every filter says how
                if (other) {
                    exited = otherExited;
                    status = otherStatus;
                    run->note[0] = '\0';
                }
                char how[32] = "";  // " (killed by signal NN)" at most
                if (exited && WIFEXITED(status)) snprintf(how, sizeof how, " (exit code %d)", WEXITSTATUS(status));
                if (exited && WIFSIGNALED(status))
                    snprintf(how, sizeof how, " (killed by signal %d)", WTERMSIG(status));
                for (int i = 0; i < run->servedCount; ++i) {
                    snprintf(job->lastMessages[run->served[i]], sizeof job->lastMessages[0],
                             "lumo_judge ended%s%s%.160s", how, run->note[0] ? ": " : "", run->note);
                }
                DEBUG_LOG("CaptureFileReadThread() err,%s", job->lastMessages[run->served[0]]);
                if (run->count == 0 && run->servedCount == 0) Fail(job, "RawsharkMngrListEdit() error");
            } else if (run->cutShort || run->damaged[0]) {
                if (run->count == 0) {
                    char text[sizeof job->message];
                    snprintf(text, sizeof text, "Corrupted input file: %.200s",
                             run->cutShort ? "the file ends in the middle of its first packet" : run->damaged);
                    Fail(job, text);
                } else {
                    KeepPart(job, run->cutShort, run->damaged, run->count);
                }
            }
        }
    }
    int failed = job->state.load(std::memory_order_relaxed) == CaptureFileFailed;
    delete command;
    delete run;
    if (!failed) FinishRun(job);
}

void CaptureFileReadThread(CaptureFileJob* job) {
    job->packetCount.store(0, std::memory_order_relaxed);
    job->message[0] = '\0';
    job->allJudged = 0;
    memset(job->lastMessages, 0, sizeof job->lastMessages);
    job->warning[0] = '\0';
    job->cutShort = 0;
    job->state.store(CaptureFileReading, std::memory_order_release);
    if (job->rawshark->onePass && RawsharkMngrJudgeAvailable()) {
        ReadWithJudge(job);
    } else {
        ReadWithPcap(job);
    }
}
