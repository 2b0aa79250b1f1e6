// rawsharkmngr.h - one rawshark process per filter of the current set.
//
// For every filter entry the manager keeps a RawsharkEntry, in filter order;
// an entry with a non-empty filter text runs one rawshark that reads pcap
// records on its stdin and prints one verdict line per packet, read by the
// entry's own reader thread. An empty filter text starts nothing and matches
// every packet.
//
// One implementation serves both programs; only what a verdict does differs:
//   live (lumo)            advance the entry's SampleCounter over the ring
//   offline (lumo_offline) mark the packet at the entry's cursor in the
//                          packet store, then advance the cursor
//
// Owner's duty: stop packets flowing (handler switch off or capture thread
// stopped; in lumo_offline the reader thread is the only caller) before
// RawsharkMngrListClear or a new RawsharkMngrListEdit.
#pragma once

#include <atomic>
#include <cstdint>

#include "filterset/filterset.h"
#include "pipeline/childconsole.h"
#include "pipeline/packetring.h"
#include "pipeline/record.h"
#include "shell/settings.h"

enum RawsharkMngrMode { RawsharkMngrLive = 0, RawsharkMngrOffline = 1 };

// Entry states.
enum { ReaderNotStarted = 0, ReaderRunning = 1, ReaderEnded = 2 };

struct RawsharkEntry;  // defined in rawsharkmngr.cpp; threads hold pointers, entries never move

// ---------------------------------------------------------------- building
// UI thread in lumo; the capture-file reader thread in lumo_offline.

// Releases the current list, then builds one entry per filter (empty ones
// included, so entry i belongs to filter i) for the live program: a rawshark
// and a reader thread per non-empty filter, a SampleCounter of binCount bins
// per entry. Returns only when every reader thread runs. Returns 1 (also for
// count <= 0, with an empty list), or 0 with the list empty and nothing left
// running.
int RawsharkMngrListEdit(const RawsharkBlock* rawshark, int linkType, int count,
                         const FilterEntry* entries, int binCount);

// The same for lumo_offline: verdicts mark the packet store.
int RawsharkMngrListEditOffline(const RawsharkBlock* rawshark, int linkType, int count,
                                const FilterEntry* entries);

// Kills every process, waits for every reader thread to end, frees every
// entry. Harmless on an empty list.
void RawsharkMngrListClear();

// ---------------------------------------------------------------- packets
// The packet source's thread, once per packet, after the packet is stored.

// Writes header and incl_len bytes to every running process; an empty filter
// counts (live) or marks (offline) the packet at once.
void RawsharkMngrWritePacket(const PacketRecordHeader* header, const uint8_t* data);

// ---------------------------------------------------------------- reading
// Any thread; allocate nothing.

// Number of entries (filters of the current set, empty ones included).
int RawsharkMngrCount();

// If entry n exists: copies its last "rawshark:" line into message (256
// bytes), fills out with `bins` per-bin byte (or packet) counts newest first
// (SampleCounterRead at now) and returns 1; else returns 0 and writes nothing.
int RawsharkMngrReadBytes(int n, int64_t now, uint64_t* out, int bins, char* message);
int RawsharkMngrReadPackets(int n, int64_t now, uint64_t* out, int bins, char* message);

// Offline: 1 when every entry's cursor equals packetCount (or the list is
// empty), else 0.
int RawsharkMngrAllDone(int64_t packetCount);

// Copies entry index's last "rawshark:" line into dest (256 bytes); an empty
// text when there is no such entry. Returns 1 when the entry exists.
int RawsharkMngrLastMessage(int index, char* dest);

// ---------------------------------------------------------------- pieces
// Exposed for tests.

// Builds the designed command line of one entry into out (size bytes) and
// its argument vector into argv/argStore (at most maxArgs pointers, the last
// nullptr): the rawshark path, "-d", "encap:N", "-l", "-r", "-", "-n",
// ["-N", letters], ["-R", filter], then "-o" "pref" per preference line.
// Returns the number of arguments, or 0 when they do not fit.
int RawsharkMngrBuildCommand(const RawsharkBlock* rawshark, int linkType, const char* filterText,
                             char* out, int size, const char** argv, int maxArgs,
                             char* argStore, int argStoreSize);

// Appends " -o \"pref\" " for each usable line of the "preferences" file in
// the data folder to the command line (and to the argument list in the same
// way). Returns the number of options appended.
int RawsharkMngrAppendPreferences(char* commandLine, int size, const char** argv, int* argc,
                                  int maxArgs, char* argStore, int* storeUsed, int argStoreSize);

// Parses the complete lines of buffer[0..length) for entry: verdict lines
// advance the entry (counter or cursor), "rawshark:" lines replace its last
// message. Returns the bytes consumed (complete lines only).
int RawsharkMngrParseLines(const char* buffer, int length, RawsharkEntry* entry);
