// SPDX-License-Identifier: GPL-2.0-or-later
// packetstore.h - the offline packet store: every packet of a capture file as
// a 16-byte PacketItem (time since the first packet, wire length, one match
// bit per filter), in chunks of 65536 items held in an indexable table, and
// the folding of a time window into columns for the graph.
//
// During a reading run the items are in file order (item k is the file's
// record k), so verdicts find their packet by number: the capture-file
// reader thread alone adds items; each rawshark reader thread marks only its
// own bit, on any item, with an atomic OR. Once every verdict is in, the
// run sorts the items by time (PacketStoreSortByTime), so that a window of
// time is one range of items. Reset only while no thread can add or mark.
//
// Times are microseconds since the file's first packet: a packet stamped
// earlier has a negative time. A time's bin of width w is its floor
// division by w, so bins stay aligned at the first packet on both sides.
#pragma once

#include <atomic>
#include <cstdint>

struct PacketItem {
    int64_t time;                     // microseconds since the first packet of the file (negative: earlier)
    uint32_t length;                  // wire length (orig_len), all 32 bits
    std::atomic<uint16_t> matchBits;  // bit i: filter i matched; 0 when stored
    uint16_t spare;
};
static_assert(sizeof(PacketItem) == 16, "a stored packet costs 16 bytes");

constexpr int64_t kPacketStoreChunkItems = 65536;

// Appends an item. Returns 1, or 0 when a new chunk cannot be allocated (the
// store is unchanged). Reader thread, before the packet goes to rawshark.
int PacketStoreAdd(int64_t time, uint32_t length);

// Sets bit i of item k's match bits (atomic OR). k is an item already stored.
void PacketStoreMark(int64_t k, int i);

// Item k, or nullptr when k < 0 or k >= count. O(1).
const PacketItem* PacketStoreItem(int64_t k);

// Items stored.
int64_t PacketStoreCount();

// Latest and earliest time of the items; 0 when empty.
int64_t PacketStoreLastTime();
int64_t PacketStoreFirstTime();

// 1 when the items are in time order (always after PacketStoreSortByTime).
int PacketStoreInTimeOrder();

// Puts the items in time order, keeping file order among equal times.
// Needs memory for the items out of order only; old chunks are freed as
// they are passed. Returns 1, or 0 when memory ran out (the items are then
// left as they were). Only while no thread adds or marks.
int PacketStoreSortByTime();

// The bin of a time in bins of width w (w >= 1): its floor division.
inline int64_t PacketStoreBinOf(int64_t time, int64_t w) {
    int64_t q = time / w;
    return (time % w != 0 && time < 0) ? q - 1 : q;
}

// The capture time of time 0 (the file's first packet), microseconds since
// 1970 UTC, for clock times; 0 until the reader sets it. Reader thread sets
// it before the first item; any thread reads it.
void PacketStoreSetBaseTime(int64_t epochMicros);
int64_t PacketStoreBaseTime();

// Frees every chunk; count, first, last and base time become 0.
void PacketStoreReset();

// A number that changes whenever the items change other than by a mark
// (reset, sort): what is derived from the items (the summary) is valid
// while it stays the same and the count too. Any thread.
uint64_t PacketStoreGeneration();

// Finds the items in the n bins of width w that end with the bin holding T;
// the items must be in time order. Returns 1 with first and last, or 0 with
// first 0 and last -1.
int PacketStoreFindRange(int64_t T, int64_t w, int n, int64_t* first, int64_t* last);

// Folds items first..last into the n bins ending with the bin of T, newest
// first (element j is bin PacketStoreBinOf(T, w) - j): wire bytes and
// packets of the items whose bit `filter` is set, or of every item when
// filter is -1. Each non-null output gets n values; items outside the window
// are skipped.
void PacketStoreAccumulate(int filter, int64_t T, int64_t w, int n, int64_t first, int64_t last, uint64_t* bytes,
                           uint64_t* packets);
