// SPDX-License-Identifier: GPL-2.0-or-later
// rawsharkmngr_internal.h - the rawshark manager's own records and pieces:
// the entries, the lock-free last message, the reader's step and thread.
// Only the manager and its tests (and benchmarks) include this; everyone
// else uses rawsharkmngr.h. The command lines are rawsharkcommand.h's, the
// output lines rawsharklines.h's.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "filterset/filterset.h"
#include "pipeline/childconsole.h"
#include "pipeline/packetring.h"
#include "pipeline/rawsharklines.h"
#include "pipeline/rawsharkmngr.h"

// Entry states.
enum { ReaderNotStarted = 0, ReaderRunning = 1, ReaderEnded = 2 };

enum RawsharkMngrMode { RawsharkMngrLive = 0, RawsharkMngrOffline = 1 };

// What the packet source has done to a process's input.
enum { InputOpen = 0, InputStalled = 1, InputEnded = 2 };

// The last "rawshark:" line of an entry. The reader thread writes it, any
// thread reads it; words and a sequence number instead of a lock, so the
// reader thread never waits for the UI.
struct RawsharkMessage {
    std::atomic<uint32_t> sequence;                         // odd while a write is under way
    std::atomic<uint64_t> words[kRawsharkMessageSize / 8];  // the text, NUL-padded
};

// One filter of the current set, or the one lumo_judge of a one-pass list
// (RawsharkMngrJudge, outside the list: it has a process and a reader but no
// filter, counter or cursor of its own). Entries sit in a table that lives
// as long as the process and never move; threads hold pointers to them.
struct RawsharkEntry {
    FilterEntry filter;    // a copy; only filterText matters here
    ChildConsole console;  // all zero for an empty filter and for an entry the judge serves
    int32_t mode;          // RawsharkMngrMode
    int32_t index;         // position in the list (the match bit offline); -1 for the judge
    // the judge only: entry index of verdict position p, p < servedCount
    int32_t servedCount;
    int32_t served[FilterSetMax];
    RawsharkLines lines;  // the process's output not yet taken; reader thread only
    // what verdicts advance: the counter (live) or the cursor (offline);
    // one writer each: the reader thread, or the packet source for an empty filter
    SampleCounter counter;
    std::atomic<int64_t> cursor;  // offline: packets decided so far
    std::thread thread;           // not joinable for an empty filter and for a served entry
    // Served entries: set by the judge's reader thread, as their own reader would.
    std::atomic<int32_t> ReaderState;  // ReaderNotStarted, ReaderRunning, ReaderEnded
    // InputOpen, InputStalled once the packet source has killed the process
    // for taking nothing in kRawsharkStallMs, InputEnded once it closed the
    // process's input; written by the packet source, read by the reader.
    std::atomic<int32_t> inputState;
    // The judge's own holds its last other "lumo_judge:" line.
    RawsharkMessage LastMessage;
    int32_t byJudge;                // 1: the judge of a one-pass list judges this entry
    std::atomic<int32_t> calcKind;  // CalcKind of its calculation's field, as the judge named it
};

// ---------------------------------------------------------------- entries

// Entry n of the list, or nullptr. For tests and diagnostics.
RawsharkEntry* RawsharkMngrEntry(int n);

// Judge j's entry of a one-pass list (each of several serves every
// non-empty filter), or nullptr (per-filter list, no non-empty filter, or
// fewer judges). For tests and diagnostics.
RawsharkEntry* RawsharkMngrJudge(int j = 0);

// ---------------------------------------------------------------- reader

// The complete lines of buffer[0..length) from entry's process (rawshark's
// protocol, or lumo_judge's for the judge): a verdict advances the counter
// (live) or marks and advances the cursor (offline) of the entry it is for
// (the judge's verdict p is for entry served[p]); a message replaces that
// entry's LastMessage (cut to 255). Returns the bytes consumed. Reader
// thread.
int RawsharkMngrParseLines(const char* buffer, int length, RawsharkEntry* entry);

// Takes `got` bytes that a read placed at entry->lines.buffer +
// entry->lines.fill, with the same effects (RawsharkLinesTakeRead). Reader
// thread.
void RawsharkMngrTakeRead(RawsharkEntry* entry, int got);

// The reader thread's routine: reads the entry's output until end of file
// or an error, then sets ReaderState to ReaderEnded. Not called directly.
void RawsharkMngrReadThread(RawsharkEntry* entry);

// Replaces a message with text[0..length) cut to 255 bytes (writer: the
// entry's reader thread) / copies it into dest, 256 bytes (any thread).
void RawsharkMessageStore(RawsharkMessage* message, const char* text, int length);
void RawsharkMessageLoad(const RawsharkMessage* message, char* dest);
