// SPDX-License-Identifier: GPL-2.0-or-later
// packetsummary.h - the sums of the sorted packet store over bins of 10^k
// microseconds (k = 0..8), so that a frame over a wide window adds a few
// bin sums per column instead of folding every item.
//
// A level keeps only its busy bins (at least kSummaryBinItems items each),
// with the range of items they cover: a window is folded from the busy bins
// in it plus the few items of its quiet bins. Levels are kept from the
// coarsest down while the summary's memory stays within
// kSummaryBytesPerItem per stored item; a zoom finer than the finest kept
// level folds its items. Every fold gives exactly what folding every item
// gives: a bin lies whole in a column, since 10^k divides every column
// width that uses it.
//
// Built once per reading run, after the verdicts are in and the store is
// sorted; a summary of an older store (reset, sorted again, more items) is
// never used. UI thread, or the thread that owns the store at that moment.
#pragma once

#include <cstdint>

constexpr int kSummaryLevels = 9;        // bins of 1 us .. 100 s
constexpr int kSummaryBinItems = 32;     // a bin with fewer items is folded item by item
constexpr int kSummaryBytesPerItem = 4;  // memory the summary may take per stored item
constexpr int kSummaryRowsMax = 17;      // all traffic and 16 filters

// Where a fold adds its sums: per column, newest first (n values each).
// Row 0 of bytes and packets is all traffic, row 1 + i filter i; rows
// beyond `rows` and null pointers are not written.
struct SummaryFoldOut {
    int32_t rows;  // 1 + the filters folded
    uint64_t* bytes[kSummaryRowsMax];
    uint64_t* packets[kSummaryRowsMax];
};

// Builds the summary of the store as it stands for `filters` filters (the
// store sorted by time). Returns 1, or 0 when it cannot be built (memory, or
// the store not in time order): folds then walk the items.
int PacketSummaryBuild(int filters);

// Frees the summary.
void PacketSummaryReset();

// Adds to out the bytes and packets of the n columns of width w (>= 1)
// ending with the one holding T: through the summary where it serves, item
// by item elsewhere. The store must be in time order (otherwise every item
// is visited).
void PacketSummaryFold(int64_t T, int64_t w, int n, const SummaryFoldOut* out);

// Bytes the summary holds, and the width of its finest level (0: none).
int64_t PacketSummaryBytes();
int64_t PacketSummaryFinestWidth();
