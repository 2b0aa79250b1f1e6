// SPDX-License-Identifier: GPL-2.0-or-later
// capfilereader.h - reads a capture file in one pass on a worker thread:
// every packet goes into the offline packet store and to one rawshark
// process per filter, whose verdicts set the packets' match bits.
//
// A run: the UI thread fills the job (path, rawshark block, filters) and
// calls CaptureFileReadStart, which waits until the previous run's thread
// has ended, empties the packet store and starts CaptureFileReadThread. The
// thread opens the file with libpcap (pcap, nanosecond pcap, pcapng), builds
// the rawshark list for the file's link type, stores and hands on every
// packet, waits briefly for the last verdicts, sets the final state and only
// then releases the processes. The UI polls the job's state (the reading
// dialog every 500 ms) and, once it is final, calls CaptureFileReadFinish,
// which waits for the thread's end and empties the store after a failure.
//
// Shared fields are atomic: the thread writes message, counts and state (the
// state last, with release order, so a reader that sees 3 sees the message);
// the UI reads them (acquire on state).
#pragma once

#include <atomic>
#include <cstdint>

#include "filterset/filterset.h"
#include "platform/platform.h"
#include "shell/settings.h"

// Job states.
enum { CaptureFileQueued = 0, CaptureFileReading = 1, CaptureFileFinished = 2, CaptureFileFailed = 3 };

// Rounds of 100 ms that the thread waits for the last verdicts, as the
// window does: at most 3 seconds.
constexpr int kCaptureFileWaitRounds = 30;

struct CaptureFileJob {
    char message[256];                 // error text of a failed run, cut to fit; empty otherwise
    char path[kPathMax];               // the capture file, set before the run
    std::atomic<int64_t> packetCount;  // packets read and handed on so far
    std::atomic<int32_t> state;        // CaptureFileQueued .. CaptureFileFailed
    // Progress for the reading dialog: file bytes consumed and the file's
    // size (0 when unknown, e.g. a pipe).
    std::atomic<int64_t> bytesRead;
    std::atomic<int64_t> fileSize;
    // Inputs of the run, read by the thread only while it runs; the UI
    // leaves them alone until the state is final.
    const RawsharkBlock* rawshark;
    const FilterEntry* entries;
    int32_t filterCount;
    int32_t waitRounds;     // 100 ms rounds for the last verdicts; kCaptureFileWaitRounds
    int32_t stopOnMessage;  // 1: stop waiting once a filter's rawshark printed a "rawshark:" line
    // Filled by the thread just before it releases the processes: whether
    // every process judged every packet, and each filter's last "rawshark:"
    // line (the list is gone afterwards).
    int32_t allJudged;
    char lastMessages[FilterSetMax][256];
    // A run that read part of a file and kept it (the file cut short in the
    // middle of a record, or damaged further on) ends finished with the
    // reason here, shown as a warning; "" when the whole file was read.
    // cutShort is 1 for the first kind.
    char warning[512];
    int32_t cutShort;
};

// Prepares the job for a run of path with these settings and filters (the
// pointers must stay valid until the run's state is final): state queued,
// counts 0, waitRounds kCaptureFileWaitRounds, stopOnMessage 0. UI thread.
void CaptureFileJobInit(CaptureFileJob* job, const char* path, const RawsharkBlock* rawshark,
                        const FilterEntry* entries, int filterCount);

// Waits until the previous run's thread has ended (its processes released),
// empties the packet store, sets the job queued and starts the reader
// thread. Returns 1, or 0 when the thread cannot be started (the job is then
// failed with a message). UI thread.
int CaptureFileReadStart(CaptureFileJob* job);

// Waits until the current run's thread has ended; after a failed run
// empties the packet store (no pipe reader can mark it any more). Returns the
// job's final state. Call once the state is final (or to block until it is).
// UI thread.
int CaptureFileReadFinish(CaptureFileJob* job);

// 1 while a reader thread exists that has not been waited for. UI thread.
int CaptureFileReadActive();

// The reader itself: runs a whole run on the calling thread. The thread
// started by CaptureFileReadStart runs this; tests may call it directly.
void CaptureFileReadThread(CaptureFileJob* job);
