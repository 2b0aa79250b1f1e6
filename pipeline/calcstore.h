// SPDX-License-Identifier: GPL-2.0-or-later
// calcstore.h - lumo_offline's field values: for each filter with a
// calculation, the sums of its field's occurrences in every packet that
// matched and held the field, with the packet's time. Filters without a
// calculation keep nothing here, so a set without one costs what it cost.
//
// The capture-file reader thread adds; after the run the values are sorted
// by time and folded into columns as the packet store's items are. Reset
// and sort only while no thread adds.
#pragma once

#include <cstdint>

#include "platform/calc.h"

// Forgets every value and kind.
void CalcStoreReset();

// The kind of filter f's field (CalcKind), as its judge named it.
void CalcStoreSetKind(int f, int kind);
int CalcStoreKind(int f);

// Adds the sums of one packet of filter f at time (microseconds since the
// first packet, as its item). Returns 1, or 0 when memory ran out.
int CalcStoreAdd(int f, int64_t time, const CalcCell* cell);

// Puts each filter's values in time order (equal times keep their order).
void CalcStoreSort();

// Adds to out[0..n) filter f's sums in the n columns of width w ending with
// the one holding T, newest first (the values in time order).
void CalcStoreFold(int f, int64_t T, int64_t w, int n, CalcCell* out);

// Values kept, of every filter, and the bytes they take.
int64_t CalcStoreCount();
int64_t CalcStoreBytes();
