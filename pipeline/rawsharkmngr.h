// SPDX-License-Identifier: GPL-2.0-or-later
// rawsharkmngr.h - the processes that judge the filters of the current set.
//
// For every filter entry the manager keeps a RawsharkEntry, in filter order.
// Who judges depends on the mode of the rawshark block:
//   one pass (onePass 1)   one lumo_judge for every non-empty filter, with
//                          one reader thread that hands verdict i of each
//                          line to the entry of the i-th non-empty filter
//   per filter (onePass 0) one rawshark per non-empty filter, each read by
//                          the entry's own reader thread
// When lumo_judge is missing from the program folder the list is built per
// filter (and the log says so). In both modes an empty filter text starts
// nothing and matches every packet, and every packet is written once to
// each judging process.
//
// One implementation serves both programs; only what a verdict does differs:
//   live (lumo)            advance the entry's SampleCounter over the ring
//   offline (lumo_offline) mark the packet at the entry's cursor in the
//                          packet store, then advance the cursor
//
// No judging process can hold up the packet source: a write waits at most
// kRawsharkStallMs for room in a pipe; a process that has taken nothing for
// that long is killed, and each entry it served says so in its LastMessage.
//
// The command lines are built by pipeline/rawsharkcommand.h and the output
// lines parsed by pipeline/rawsharklines.h; the entries and the reader are
// the manager's own (pipeline/rawsharkmngr_internal.h, for the manager and
// its tests).
//
// Owner's duty: stop packets flowing (handler switch off or capture thread
// stopped; in lumo_offline the reader thread is the only caller) before
// RawsharkMngrListClear or a new RawsharkMngrListEdit.
#pragma once

#include <cstdint>

#include "filterset/filterset.h"
#include "platform/calc.h"
#include "pipeline/rawsharkblock.h"
#include "pipeline/rawsharkcommand.h"
#include "pipeline/record.h"

constexpr int kRawsharkMessageSize = 256;  // LastMessage, NUL included
constexpr int kRawsharkStallMs = 2000;     // longest wait for room in a judging process's pipe

// ---------------------------------------------------------------- building
// UI thread in lumo; the capture-file reader thread in lumo_offline.

// Releases the current list, then builds one entry per filter (empty ones
// included, so entry i belongs to filter i) for the live program: in one
// pass a lumo_judge and its reader thread for all non-empty filters, else a
// rawshark and a reader thread per non-empty filter; a SampleCounter of
// binCount bins (a power of two) per entry. Returns only when every reader
// thread runs.
// Returns 1 (also for count <= 0, with an empty list), or 0 with the list
// empty and nothing left running (also for more than FilterSetMax filters).
int RawsharkMngrListEdit(const RawsharkBlock* rawshark, int linkType, int count, const FilterEntry* entries,
                         int binCount);

// The same for lumo_offline: verdicts mark the packet store.
int RawsharkMngrListEditOffline(const RawsharkBlock* rawshark, int linkType, int count, const FilterEntry* entries);

// Kills every process, waits for every reader thread to report its end and
// joins it, then closes the pipes and frees the counters. Harmless on an
// empty list.
void RawsharkMngrListClear();

// ---------------------------------------------------------------- packets
// The packet source's thread, once per packet, after the packet is stored.

// Writes header and incl_len bytes to every running process (partial writes
// completed; a failure is logged and that entry skipped for this packet); an
// empty filter counts (live) or marks (offline) the packet at once.
void RawsharkMngrWritePacket(const PacketRecordHeader* header, const uint8_t* data);

// Offline, after the last packet: closes the input of every process, which
// then judges what it holds and ends; its reader ends after the last line.
void RawsharkMngrEndInput();

// ---------------------------------------------------------------- reading
// Any thread that does not build or clear the list at the same time (the
// list's owner, or the UI while the offline reader waits); allocate nothing.

// Number of entries (filters of the current set, empty ones included).
int RawsharkMngrCount();

// If entry n exists: copies its last "rawshark:" line into message (256
// bytes), fills out with `bins` per-bin byte (or packet) counts newest first
// (SampleCounterRead at now) and returns 1; else returns 0 and writes nothing.
int RawsharkMngrReadBytes(int n, int64_t now, uint64_t* out, int bins, char* message);
int RawsharkMngrReadPackets(int n, int64_t now, uint64_t* out, int bins, char* message);

// Live: the sums of entry n's calculation per bin, newest first (empty for
// a filter without one). Returns 1, or 0 when there is no entry n. Any
// thread that does not build or clear the list.
int RawsharkMngrReadCalc(int n, int64_t now, CalcCell* out, int bins);

// The kind of entry n's calculation field as its judge named it
// (CalcKindNone until it did, or when there is no entry n). Any thread.
int RawsharkMngrCalcKind(int n);

// Live: entry n's matched packets and wire bytes since its counter started
// (they only grow until the next list). Returns 1, or 0 when there is no
// entry n. Any thread.
int RawsharkMngrTotals(int n, uint64_t* packets, uint64_t* bytes);

// 1 while every judging process of the list runs (its reader has not seen
// it end), also for a list without one. Any thread.
int RawsharkMngrJudgesRunning();

// Live: 1 when every entry still judging has judged every packet of bin
// `bin` and before: it judged a packet of a later bin, or all `stored`
// packets of the ring (an entry whose process ended decides nothing more).
// Any thread.
int RawsharkMngrDecidedThrough(int64_t bin, uint64_t stored);

// Offline: 1 when every entry has decided packetCount packets or its reader
// has ended (a dead rawshark decides nothing more), or the list is empty;
// else 0.
int RawsharkMngrAllDone(int64_t packetCount);

// Offline: packets entry n has decided so far (its cursor), or -1 when there
// is no entry n. Any thread.
int64_t RawsharkMngrDecided(int n);

// Offline, after RawsharkMngrEndInput: 1 when the reader of every process
// has ended (so every verdict and message has arrived), else 0.
int RawsharkMngrAllEnded();

// Copies entry index's last "rawshark:" line into dest (256 bytes); an empty
// text when there is no such entry. Returns 1 when the entry exists.
int RawsharkMngrLastMessage(int index, char* dest);

// 1 when lumo_judge lies in the program folder, so that a one-pass block
// gets a one-pass list. Any thread.
int RawsharkMngrJudgeAvailable();

// Offline, one pass: the command of a lumo_judge from the program folder
// that reads the capture file itself and judges the non-empty filters of
// entries[0..count) (pipeline/rawsharkcommand.h); the capture-file reader
// starts it and reads its lines. Returns 1, or 0 when it does not fit. Any
// thread.
int RawsharkMngrFileJudgeCommand(const RawsharkBlock* rawshark, const char* capturePath, int count,
                                 const FilterEntry* entries, RawsharkCommand* command);
