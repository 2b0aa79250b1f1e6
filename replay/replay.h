// SPDX-License-Identifier: GPL-2.0-or-later
// replay.h - the replay front end's logic, without any window: the
// interface list, the replay tool's command line, the output reader that
// watches for "Start Transmission", and the Start, timer, Stop and Exit
// steps over one record. The dialog (replaydlg_qt) binds its controls to
// these functions.
//
// Threads: everything here runs on the dialog's thread except
// ReplayOutputReader, which runs on a thread of its own per Start. The two
// share startTick (atomic) and the tool's output descriptor, which the
// reader alone reads and which is closed only after the reader has ended:
// every way out (the tool ends by itself, Stop, Exit) kills the tool, joins
// the reader (it sees end of file) and only then releases the descriptors.
// What the reader learns of the output besides the time (the announcement,
// the last line) it writes into the record before it ends; the dialog reads
// it only after the join.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "capture/interfaceinfo.h"
#include "pipeline/childconsole.h"
#include "platform/error.h"

constexpr int kReplayMaxInterfaces = 16;  // interfaces the dialog lists
constexpr int kReplayTimerMs = 50;        // period of the dialog's timer
constexpr int kReplayReadSize = 1024;     // bytes the reader asks for per read
constexpr int kReplayMessageSize = 256;   // the tool's last line kept

// The replay tool's file name in the program folder, and the text it prints
// when transmission begins.
extern const char kReplayToolName[];
extern const char kReplayStartText[];

struct ReplayRecord {
    InterfaceInfo interfaces[kReplayMaxInterfaces]{};  // found at start, in the library's order
    int32_t interfaceCount = 0;                        // valid entries, at most 16
    ChildConsole child{};                              // the running tool; all zero when none
    std::atomic<uint32_t> startTick{0};                // tick the elapsed time counts from; dialog and reader write it
    std::thread reader;                                // this run's ReplayOutputReader; joinable while not joined
    // Written by the reader as it ends, read after the join:
    int announced = 0;                       // the tool printed "Start Transmission"
    char lastLine[kReplayMessageSize] = "";  // its last non-blank line of output, blanks trimmed
};

// The process-wide record of tarvo_gui (created on first use). Dialog thread.
ReplayRecord* ReplayMain();

// ---------------------------------------------------------------- interfaces

// Lists the interfaces into table[0..capacity-1] through the listing lumo
// uses too (CaptureGetInterfaceList, whose hook a dialog test sets). Returns
// the number found (may exceed capacity) with err emptied; 0 with err
// "Network Interface is not found." when there is none; -1 with err
// "pcap_findalldevs() error" when the enumeration fails. Dialog thread.
int ReplayListInterfaces(int capacity, InterfaceInfo* table, char* err);

// The combo box text of an interface: "description: name", or the name alone
// when the description is empty. Cut to size bytes.
void ReplayInterfaceText(const InterfaceInfo* info, char* out, size_t size);

// "IP address: a.b.c.d" from the lowest byte up, or "IP address: unknown"
// when address is 0. Cut to size bytes.
void ReplayAddressText(uint32_t address, char* out, size_t size);

// ---------------------------------------------------------------- tool

// out = program folder + "/tarvo". Returns 1, or 0 when it does not fit.
int ReplayToolPath(char* out, size_t size);

// The command line "%s \"%s\" %s s" of tool, pcap file and device name (for
// showing and logging). Returns 1, or 0 when it does not fit in size bytes.
int ReplayCommandLine(const char* tool, const char* pcap, const char* device, char* out, size_t size);

// The argument vector the tool is started with: {tool, pcap, device, "s",
// nullptr}. No shell and no re-splitting, so a path with blanks, quotes or
// '$' reaches the tool as one argument. The pointers refer to the inputs.
void ReplayArgv(const char* tool, const char* pcap, const char* device, const char* argv[5]);

// ---------------------------------------------------------------- time

// Milliseconds from PerfCounter, wrapping at 2^32 like a tick count. Any thread.
uint32_t ReplayTickCount();

// The time label "%d.%03d" of elapsed milliseconds: 5 -> "0.005",
// 61234 -> "61.234".
void ReplayTimeText(uint32_t elapsedMs, char* out, size_t size);

// ---------------------------------------------------------------- output reader

// State carried between reads so that "Start Transmission" is found also
// when a read ends inside it.
struct ReplayMarkerScan {
    char tail[32];  // the last bytes of the previous chunk, fewer than the text's length
    size_t tailLength;
};

// Looks for "Start Transmission" in the chunk (bytes, not text: NULs allowed)
// and in the text spanning the previous chunk's end. Returns 1 when found.
int ReplayScanChunk(ReplayMarkerScan* scan, const char* chunk, size_t length);

// The last non-blank line of a text that arrives in chunks: lines end at LF
// or CR, blanks around them are trimmed, a line longer than 255 bytes keeps
// its first 255, NUL bytes are dropped.
struct ReplayLastLine {
    char line[kReplayMessageSize];     // the last finished non-blank line
    char current[kReplayMessageSize];  // the line being read
    size_t currentLength;
};

// Takes one chunk of output.
void ReplayLastLineFeed(ReplayLastLine* scan, const char* chunk, size_t length);

// At end of output: the last non-blank line, an unfinished one included
// ("" when there was none).
const char* ReplayLastLineEnd(ReplayLastLine* scan);

// The reader thread's body: reads the tool's output (descriptor `output`, up
// to 1024 bytes at a time) until end of file or a read error, and sets
// record->startTick = ReplayTickCount() at each "Start Transmission". As it
// ends it sets record->announced and record->lastLine. Reader thread.
void ReplayOutputReader(ReplayRecord* record, int output);

// ---------------------------------------------------------------- steps

// Start: the checks in order, each with its message on failure:
//   the tool missing in the program folder  "tarvo file is not found."
//   no interface selected (selection < 0)   "Select Interface."
//   pcapPath empty or not an existing file  "pcap file is not found."
// then startTick = now, the tool started with ReplayArgv, and its reader.
// Returns 1 when the dialog goes to Running, 0 with the text to show in err
// (also "tarvo could not be started: REASON." when the tool cannot be run,
// and nothing is left running), or 0 with err empty when a tool is still
// attached. Dialog thread.
int ReplayStart(ReplayRecord* record, int selection, const char* pcapPath, char* err);

// Timer tick results.
constexpr int kReplayTickIdle = 0;    // no tool
constexpr int kReplayTickTime = 1;    // the tool runs; label holds the elapsed time
constexpr int kReplayTickEnded = 2;   // the tool ended by itself and was released; go Idle
constexpr int kReplayTickFailed = 3;  // the same, but it failed: show err, go Idle

// The 50 ms timer: no tool -> Idle; the tool ended -> ReplayEndTool, then
// Ended when it had announced the transmission and exited with status 0,
// else Failed with err = its last line of output (or, when it printed none,
// how it ended); the label is untouched then. Otherwise label =
// ReplayTimeText(now - startTick), Time. err is written only for Failed.
// Dialog thread.
int ReplayTick(ReplayRecord* record, char* label, size_t size, char* err);

// Stop and Exit: kills the tool (with every process of its group), joins the
// reader, then releases the child's descriptors. Returns the release result
// (1 also when no tool ran). Dialog thread.
int ReplayEndTool(ReplayRecord* record);
int ReplayStop(ReplayRecord* record);
int ReplayExit(ReplayRecord* record);

// Non-zero when the tool has ended by itself. Does not reap it, so its
// process group stays addressable until ReplayEndTool. Dialog thread.
int ReplayToolEnded(const ReplayRecord* record);
