// SPDX-License-Identifier: GPL-2.0-or-later
// offlineview.cpp - zoom table, scroll range and the view moves of the
// offline window.
#include "offline/offlineview.h"

#include <climits>

const int64_t ZoomTable[kZoomLevels] = {
    1,        2,         5,         10,        20,         50,         100,          200,
    500,      1000,      2000,      5000,      10000,      20000,      50000,        100000,
    200000,   500000,    1000000,   2000000,   5000000,    10000000,   20000000,     30000000,
    60000000, 120000000, 300000000, 600000000, 1200000000, 1800000000, 3600000000LL,
};

static int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

static int32_t ClampToInt32(int64_t v) {
    if (v < INT32_MIN) return INT32_MIN;
    if (v > INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(v);
}

void OfflineViewInit(OfflineView* view, int64_t samplingInterval, int width) {
    *view = OfflineView{};
    view->zoomLevel = 0;
    view->microsPerPixel = samplingInterval > 0 ? samplingInterval : 1;
    view->viewEndTime = 0;
    view->scrollMin = 0;
    view->scrollMax = 0;
    view->scrollPage = width;
    view->scrollPos = 0;
}

void OfflineViewSetFirstTime(OfflineView* view, int64_t firstTime) { view->firstTime = firstTime < 0 ? firstTime : 0; }

void OfflineViewComputeShift(OfflineView* view, int64_t totalDuration) {
    int64_t n1 = totalDuration / view->microsPerPixel - FloorDiv(view->firstTime, view->microsPerPixel) + 1;
    int32_t shift = 0;
    while (n1 > kScrollLimit) {
        n1 >>= 1;
        shift++;
    }
    view->n1 = n1;
    view->scrollShift = shift;
}

int64_t OfflineViewCentreTime(const OfflineView* view, int width) {
    return view->viewEndTime - (static_cast<int64_t>(width) * view->microsPerPixel) / 2;
}

int64_t OfflineViewPositionFor(const OfflineView* view, int64_t c, int width) {
    int64_t column = FloorDiv(c, view->microsPerPixel) - FloorDiv(view->firstTime, view->microsPerPixel);
    return (column - width / 2) >> view->scrollShift;
}

// The highest position the bar accepts; a range shorter than the page has
// only its minimum.
static int64_t HighestPosition(const OfflineView* view) {
    int64_t hi = static_cast<int64_t>(view->scrollMax) - view->scrollPage + 1;
    return hi < view->scrollMin ? view->scrollMin : hi;
}

int32_t OfflineViewSetRange(OfflineView* view, int width, int64_t position) {
    view->scrollMin = -(width / 2);
    view->scrollMax = ClampToInt32(view->n1 + width / 2);
    view->scrollPage = width;
    int64_t hi = HighestPosition(view);
    if (position < view->scrollMin) position = view->scrollMin;
    if (position > hi) position = hi;
    view->scrollPos = static_cast<int32_t>(position);
    return view->scrollPos;
}

int OfflineViewCanScroll(const OfflineView* view) { return HighestPosition(view) > view->scrollMin; }

void OfflineViewFitFile(OfflineView* view, int64_t totalDuration, int width) {
    const int64_t span = totalDuration - view->firstTime;
    int64_t perColumn = width > 0 ? span / width : span;
    int level = kZoomLevels - 1;
    for (int i = 0; i < kZoomLevels; i++) {
        if (ZoomTable[i] > perColumn) {
            level = i;
            break;
        }
    }
    view->zoomLevel = level;
    view->microsPerPixel = ZoomTable[level];
    OfflineViewComputeShift(view, totalDuration);
    int64_t columns = span / view->microsPerPixel;
    view->viewEndTime = totalDuration + ((width - columns) * view->microsPerPixel) / 2;
    int64_t min = -(width / 2);
    int64_t max = view->n1 + width / 2;
    // The span is never negative here (n1 >= 1), so the unsigned halving of
    // the classic bar code and a signed one agree.
    int64_t position = min + ((max - width - min) >> 1);
    OfflineViewSetRange(view, width, position);
}

int OfflineViewScroll(OfflineView* view, int request, int64_t trackPos) {
    int64_t old = view->scrollPos;
    int64_t next;
    switch (request) {
        case ScrollLineLeft: next = old - 1; break;
        case ScrollLineRight: next = old + 1; break;
        case ScrollPageLeft: next = old - view->scrollPage; break;
        case ScrollPageRight: next = old + view->scrollPage; break;
        case ScrollThumbPosition:
        case ScrollThumbTrack: next = trackPos; break;
        case ScrollLeftEnd: next = view->scrollMin; break;
        case ScrollRightEnd: next = view->scrollMax; break;
        default: return 0;
    }
    if (next == old) return 0;
    if (next < view->scrollMin) next = view->scrollMin;
    int64_t hi = HighestPosition(view);
    if (next > hi) next = hi;
    if (next == old) return 0;  // already at that end
    view->scrollPos = static_cast<int32_t>(next);
    // The step is widened to 64 bits before the shift: a thumb drag across a
    // shifted range moves by up to 2^31 positions, whose 32-bit shift would
    // overflow and throw the view far from the thumb.
    view->viewEndTime += ((next - old) << view->scrollShift) * view->microsPerPixel;
    return 1;
}

// Sets the range with the position of the kept centre. When the bar cannot
// take that position (the centre lies beyond an end of the scrollable
// range), the view moves with the bar: otherwise bar and view part, and every
// zoom or resize near an end widens the gap until the bar's ends no longer
// reach the file's ends.
static void SetRangeKeepingInSync(OfflineView* view, int width, int64_t position) {
    int64_t accepted = OfflineViewSetRange(view, width, position);
    if (accepted != position) {
        view->viewEndTime += ((accepted - position) << view->scrollShift) * view->microsPerPixel;
    }
}

// Zoom level `level` with time c in the middle of the window.
static void ZoomAround(OfflineView* view, int level, int64_t c, int64_t totalDuration, int width) {
    view->zoomLevel = level;
    view->microsPerPixel = ZoomTable[level];
    OfflineViewComputeShift(view, totalDuration);
    view->viewEndTime = c + (static_cast<int64_t>(width) * view->microsPerPixel) / 2;
    SetRangeKeepingInSync(view, width, OfflineViewPositionFor(view, c, width));
}

int OfflineViewWheel(OfflineView* view, int delta, int64_t totalDuration, int width) {
    int64_t c = OfflineViewCentreTime(view, width);
    int level = view->zoomLevel + delta / 120;
    if (level < 0) level = 0;
    if (level > kZoomLevels - 1) level = kZoomLevels - 1;
    ZoomAround(view, level, c, totalDuration, width);
    return 1;
}

void OfflineViewResize(OfflineView* view, int64_t totalDuration, int newWidth) {
    OfflineViewComputeShift(view, totalDuration);
    int64_t c = view->viewEndTime - (static_cast<int64_t>(view->scrollPage) * view->microsPerPixel) / 2;
    view->viewEndTime = c + (static_cast<int64_t>(newWidth) * view->microsPerPixel) / 2;
    SetRangeKeepingInSync(view, newWidth, OfflineViewPositionFor(view, c, newWidth));
}

int OfflineViewZoomTo(OfflineView* view, int64_t t0, int64_t t1, int64_t totalDuration, int width) {
    int64_t span = t1 - t0;
    int level = kZoomLevels - 1;
    for (int i = 0; i < kZoomLevels; i++) {
        if (ZoomTable[i] * width >= span) {
            level = i;
            break;
        }
    }
    ZoomAround(view, level, t0 + span / 2, totalDuration, width);
    return 1;
}
