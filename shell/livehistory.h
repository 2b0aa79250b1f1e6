// SPDX-License-Identifier: GPL-2.0-or-later
// livehistory.h - the paused live graph's look back: how far back from the
// paused moment the right edge stands (in intervals) and how many
// intervals each column folds, within what the counters still hold. The
// window binds its scroll bar and the wheel to these; the rows are filled
// at LiveHistoryNow with LiveRowsFillFolded. UI thread.
#pragma once

#include <cstdint>

struct LiveHistory {
    int32_t zoom;    // intervals per column: 1, 2, 5, 10, 20, 50, ...
    int64_t offset;  // intervals between the paused moment and the right edge
};

// The present: no offset, one interval per column.
void LiveHistoryReset(LiveHistory* history);

// The largest offset that keeps a full graph of held intervals (the counters
// hold `held` intervals up to the paused one) in view: held - width * zoom,
// at least 0. The scroll bar runs from 0 (the oldest) to this (the present).
int64_t LiveHistoryMaxBack(const LiveHistory* history, int64_t held, int width);

// The scroll bar at `value` (0 .. LiveHistoryMaxBack): the offset it means.
void LiveHistoryScrollTo(LiveHistory* history, int64_t value, int64_t held, int width);

// The scroll bar's value for the current offset.
int64_t LiveHistoryScrollValue(const LiveHistory* history, int64_t held, int width);

// A wheel turn (120 per notch, away from the user: more intervals per
// column), the interval at the centre kept; the zoom stops where the whole
// of held fits the width. Returns 1 when the view changed.
int LiveHistoryWheel(LiveHistory* history, int delta, int64_t held, int width);

// The performance-counter reading the view's right edge stands at:
// pausedNow less offset intervals (interval in microseconds).
int64_t LiveHistoryNow(const LiveHistory* history, int64_t pausedNow, int64_t interval);
