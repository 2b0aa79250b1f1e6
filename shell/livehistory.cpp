// SPDX-License-Identifier: GPL-2.0-or-later
// livehistory.cpp - the paused graph's offset and zoom.
#include "shell/livehistory.h"

#include "platform/platform.h"

namespace {

// The zoom steps, 1-2-5 as lumo_offline's.
int64_t NextZoom(int64_t z, int up) {
    int64_t base = 1;
    while (base * 10 <= z) base *= 10;
    int64_t digit = z / base;  // 1, 2 or 5
    if (up) return digit == 1 ? 2 * base : digit == 2 ? 5 * base : 10 * base;
    if (z <= 1) return 1;
    return digit == 1 ? base / 2 : digit == 2 ? base : 2 * base;
}

}  // namespace

void LiveHistoryReset(LiveHistory* history) {
    history->zoom = 1;
    history->offset = 0;
}

int64_t LiveHistoryMaxBack(const LiveHistory* history, int64_t held, int width) {
    int64_t back = held - static_cast<int64_t>(width) * history->zoom;
    return back > 0 ? back : 0;
}

void LiveHistoryScrollTo(LiveHistory* history, int64_t value, int64_t held, int width) {
    int64_t max = LiveHistoryMaxBack(history, held, width);
    if (value < 0) value = 0;
    if (value > max) value = max;
    history->offset = max - value;
}

int64_t LiveHistoryScrollValue(const LiveHistory* history, int64_t held, int width) {
    int64_t max = LiveHistoryMaxBack(history, held, width);
    int64_t value = max - history->offset;
    return value < 0 ? 0 : value;
}

int LiveHistoryWheel(LiveHistory* history, int delta, int64_t held, int width) {
    int steps = delta / 120;
    if (steps == 0) return 0;
    const int64_t centre = history->offset + static_cast<int64_t>(width) * history->zoom / 2;
    int64_t z = history->zoom;
    for (int s = 0; s < (steps > 0 ? steps : -steps); ++s) {
        // no further out than the whole of what is held in one view
        if (steps > 0 && z * width >= held) break;
        z = NextZoom(z, steps > 0);
    }
    if (z == history->zoom) return 0;
    history->zoom = static_cast<int32_t>(z);
    int64_t offset = centre - static_cast<int64_t>(width) * z / 2;
    int64_t max = LiveHistoryMaxBack(history, held, width);
    history->offset = offset < 0 ? 0 : offset > max ? max : offset;
    return 1;
}

int64_t LiveHistoryNow(const LiveHistory* history, int64_t pausedNow, int64_t interval) {
    // a whole number of intervals back: the bins stay those the counters keep
    __int128 back = static_cast<__int128>(history->offset) * interval * PerfFrequency() / 1000000;
    return pausedNow - static_cast<int64_t>(back);
}
