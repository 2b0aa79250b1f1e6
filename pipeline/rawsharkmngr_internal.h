// SPDX-License-Identifier: GPL-2.0-or-later
// rawsharkmngr_internal.h - the rawshark manager's own records and pieces:
// the entries with their reader buffers, the command record, the command
// builders, the line parser and the reader thread. Only the manager and its
// tests (and benchmarks) include this; everyone else uses rawsharkmngr.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "filterset/filterset.h"
#include "pipeline/childconsole.h"
#include "pipeline/packetring.h"
#include "pipeline/rawsharkmngr.h"

// Entry states.
enum { ReaderNotStarted = 0, ReaderRunning = 1, ReaderEnded = 2 };

enum RawsharkMngrMode { RawsharkMngrLive = 0, RawsharkMngrOffline = 1 };

// What the packet source has done to a process's input.
enum { InputOpen = 0, InputStalled = 1, InputEnded = 2 };

constexpr int kRawsharkBufferSize = 1024;  // reader's input buffer

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
    // reader thread only
    char buffer[kRawsharkBufferSize];
    int32_t fill;      // bytes held in buffer
    int32_t longLine;  // 1: inside a line longer than buffer; 2: the same for a "rawshark:" line
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
};

// ---------------------------------------------------------------- entries

// Entry n of the list, or nullptr. For tests and diagnostics.
RawsharkEntry* RawsharkMngrEntry(int n);

// The lumo_judge entry of a one-pass list, or nullptr (per-filter list, or
// no non-empty filter). For tests and diagnostics.
RawsharkEntry* RawsharkMngrJudge();

// ---------------------------------------------------------------- pieces
// The parts of the build and of the reader.

constexpr int kRawsharkCommandSize = 65536;
constexpr int kRawsharkMaxArgs = 8192;

// One rawshark command: the designed command-line text (for the log) and
// the argument vector that is actually started (no shell in between).
struct RawsharkCommand {
    char text[kRawsharkCommandSize];
    char store[kRawsharkCommandSize];        // the argument texts, each NUL-terminated
    const char* argv[kRawsharkMaxArgs + 1];  // argc pointers into store, then nullptr
    int argc;
    int used;  // bytes of store in use
};

// Builds the command of one entry into command: text
//   PATH -d encap:N -l -r - -n [-N LETTERS] [-R "FILTER"] (ending in a blank)
// and argv PATH, -d, encap:N, -l, -r, -, -n, [-N, LETTERS], [-R, FILTER].
// LETTERS are m, n, t for the MAC, network and transport switches ("C" is
// never passed: rawshark 4.0 rejects it); with no letter "-N" is left out.
// Returns 1, or 0 when it does not fit.
int RawsharkMngrBuildCommand(const RawsharkBlock* rawshark, int linkType, const char* filterText,
                             RawsharkCommand* command);

// Builds the lumo_judge command of a one-pass list: text
//   JUDGE -d encap:N -n [-N LETTERS] [-o "PREF"]... -R "F1" -R "F2" ...
// (preferences from the data folder as for rawshark; one -R per non-empty
// filter of entries[0..count), in order) and argv to match. Returns 1, or 0
// when it does not fit.
int RawsharkMngrBuildJudgeCommand(const RawsharkBlock* rawshark, const char* judgePath, int linkType, int count,
                                  const FilterEntry* entries, RawsharkCommand* command);

// Treats one line of the preferences file (cut at CR, LF, "#"; control and
// non-ASCII bytes blanked; trimmed): a line with a colon and no double quote
// appends " -o \"LINE\" " to the text and -o, LINE to argv. Returns 1 when
// appended, 0 when skipped, -1 when it does not fit (nothing appended).
int RawsharkMngrAppendPreferenceLine(RawsharkCommand* command, const char* line);

// Appends every usable line of the "preferences" file in the data folder,
// read in pieces of at most 255 characters. Returns the number appended (0
// also when there is no such file).
int RawsharkMngrAppendPreferences(RawsharkCommand* command);

// Parses the complete lines (up to LF, one CR before it dropped) of
// buffer[0..length) for entry: a "rawshark:" line replaces LastMessage (cut
// to 255), a line whose last character is '-' is a verdict (matched when the
// character two before it is '1') that advances the counter (live) or marks
// and advances the cursor (offline); other lines are ignored. For the judge
// entry: a line of exactly servedCount characters '0'/'1' hands verdict p to
// entry served[p]; "lumo_judge: filter I: ..." becomes the LastMessage of
// the I-th served entry; another "lumo_judge:" line the judge's own; other
// lines are ignored. Returns the bytes consumed (complete lines only).
// Reader thread.
int RawsharkMngrParseLines(const char* buffer, int length, RawsharkEntry* entry);

// Takes `got` bytes that a read placed at entry->buffer + entry->fill:
// parses the complete lines and keeps the rest at the front. A line longer
// than the buffer is followed to its end without holding it: a "rawshark:"
// line keeps its first 255 characters, any other keeps its last bytes so a
// verdict ending it still counts. Reader thread.
void RawsharkMngrTakeRead(RawsharkEntry* entry, int got);

// The reader thread's routine: reads the entry's output until end of file
// or an error, then sets ReaderState to ReaderEnded. Not called directly.
void RawsharkMngrReadThread(RawsharkEntry* entry);

// Replaces a message with text[0..length) cut to 255 bytes (writer: the
// entry's reader thread) / copies it into dest, 256 bytes (any thread).
void RawsharkMessageStore(RawsharkMessage* message, const char* text, int length);
void RawsharkMessageLoad(const RawsharkMessage* message, char* dest);
