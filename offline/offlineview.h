// SPDX-License-Identifier: GPL-2.0-or-later
// offlineview.h - the time axis of the offline window: which stretch of the
// capture file the graph shows, at which zoom, and where the horizontal
// scroll bar stands.
//
// The record holds the view state and the scroll bar's own numbers (range,
// page, position) as a classic scroll bar keeps them: positions run from
// scrollMin to scrollMax - scrollPage + 1. The window copies them into its
// widget after each operation and hands requests back here, so every rule
// of scrolling and zooming runs without a window.
//
// Times are int64 microseconds since the first packet; a file may hold
// packets stamped before it (negative times), and the scroll range then
// reaches back to the earliest (firstTime). Columns stay aligned at time 0.
// W is the client width in pixels. UI thread only.
#pragma once

#include <cstdint>

constexpr int kZoomLevels = 31;

// Microseconds per pixel column of each zoom level, one microsecond to one
// hour: 1, 2, 5, 10, ... 1800000000, 3600000000.
extern const int64_t ZoomTable[kZoomLevels];

// Scroll positions are shifted right until the scroll range stays below this.
constexpr int64_t kScrollLimit = 2000000000;

struct OfflineView {
    int32_t zoomLevel;       // index into ZoomTable, 0..30
    int64_t microsPerPixel;  // duration of one column
    int64_t viewEndTime;     // time at the right edge of the graph
    int32_t scrollShift;     // bits by which scroll positions are shifted right
    int64_t n1;              // columns of the file + 1, after the shift
    int32_t scrollMin;       // scroll bar range, page and position
    int32_t scrollMax;
    int32_t scrollPage;
    int32_t scrollPos;
    int64_t firstTime;  // the file's earliest time: 0, or before 0 (OfflineViewSetFirstTime)
};

// Scroll bar requests, as the window's scroll bar reports them.
enum OfflineScrollRequest {
    ScrollLineLeft = 0,
    ScrollLineRight,
    ScrollPageLeft,
    ScrollPageRight,
    ScrollThumbPosition,
    ScrollThumbTrack,
    ScrollLeftEnd,
    ScrollRightEnd,
    ScrollEndScroll,  // changes nothing
};

// The state at window creation: level 0, one column per sampling interval,
// right edge at 0, scroll range 0..0 with page W and position 0.
void OfflineViewInit(OfflineView* view, int64_t samplingInterval, int width);

// The file's earliest time (0 unless a packet is stamped before the first
// one); the scroll range starts at its column. Set before the operations
// below; OfflineViewInit makes it 0.
void OfflineViewSetFirstTime(OfflineView* view, int64_t firstTime);

// Sets scrollShift and n1 for a file from firstTime to totalDuration (its
// latest time) at the current column width.
void OfflineViewComputeShift(OfflineView* view, int64_t totalDuration);

// The time at the centre of the graph: viewEndTime - (W * microsPerPixel) / 2.
int64_t OfflineViewCentreTime(const OfflineView* view, int width);

// The scroll position whose view is centred on time c: the left edge of the
// view in (shifted) columns counted from the column of firstTime,
// ((c / microsPerPixel - firstTime / microsPerPixel) - W / 2) >> scrollShift,
// the divisions rounding down.
int64_t OfflineViewPositionFor(const OfflineView* view, int64_t c, int width);

// Sets range -(W/2) .. n1 + W/2, page W and the position, which the bar
// limits to scrollMin .. scrollMax - scrollPage + 1 (scrollMin when nothing
// can scroll). Returns the position accepted.
int32_t OfflineViewSetRange(OfflineView* view, int width, int64_t position);

// 1 when the bar can scroll at all (else the window shows it disabled).
int OfflineViewCanScroll(const OfflineView* view);

// After a file was read: the finest level whose column width exceeds
// (totalDuration - firstTime) / W (30 when none does), the file centred in
// the window and the position in the middle of the range.
void OfflineViewFitFile(OfflineView* view, int64_t totalDuration, int width);

// A scroll bar request; trackPos is the thumb position of the two thumb
// requests. Moves viewEndTime by the accepted change of position. Returns 1
// when the view moved (the window redraws), 0 when nothing changed.
int OfflineViewScroll(OfflineView* view, int request, int64_t trackPos);

// Wheel turned by delta (120 per notch, positive away from the user: zoom
// out). The time at the centre stays where it was. Returns 1 (the window
// redraws), also when the level is already at its limit.
int OfflineViewWheel(OfflineView* view, int delta, int64_t totalDuration, int width);

// The client width changed from the last page set to newWidth; the centre
// time stays where it was.
void OfflineViewResize(OfflineView* view, int64_t totalDuration, int newWidth);

// Zooms into the time from t0 to t1 (t0 < t1): the finest level whose
// width shows all of it, centred on it. Returns 1.
int OfflineViewZoomTo(OfflineView* view, int64_t t0, int64_t t1, int64_t totalDuration, int width);
