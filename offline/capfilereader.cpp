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

#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "capture/pcaprecord.h"
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

void CaptureFileReadThread(CaptureFileJob* job) {
    job->packetCount.store(0, std::memory_order_relaxed);
    job->message[0] = '\0';
    job->allJudged = 0;
    memset(job->lastMessages, 0, sizeof job->lastMessages);
    job->warning[0] = '\0';
    job->cutShort = 0;
    job->state.store(CaptureFileReading, std::memory_order_release);
    ReadWithPcap(job);
}
