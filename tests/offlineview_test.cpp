// SPDX-License-Identifier: GPL-2.0-or-later
// Zoom levels, centring and scroll positions of the offline window's time
// axis, without a window.
#include "offline/offlineview.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kSecond = 1000000;

TEST(OfflineViewFit, TenSecondsInThousandPixelsGivesLevelThirteenCentred) {
    OfflineView v;
    OfflineViewInit(&v, 50000, 1000);
    OfflineViewFitFile(&v, 10 * kSecond, 1000);
    EXPECT_EQ(v.zoomLevel, 13);
    EXPECT_EQ(v.microsPerPixel, 20000);
    // 500 columns of data, 250 empty columns on either side.
    EXPECT_EQ(v.viewEndTime, 15 * kSecond);
    EXPECT_EQ(OfflineViewCentreTime(&v, 1000), 5 * kSecond);
    EXPECT_EQ(v.scrollMin, -500);
    EXPECT_EQ(v.scrollMax, 501 + 500);
    EXPECT_EQ(v.scrollPage, 1000);
    EXPECT_EQ(v.scrollPos, -250);
}

TEST(OfflineViewFit, ZeroDurationGivesLevelZeroAndLongFilesTheCoarsestLevel) {
    OfflineView v;
    OfflineViewInit(&v, 50000, 640);
    OfflineViewFitFile(&v, 0, 640);
    EXPECT_EQ(v.zoomLevel, 0);
    EXPECT_EQ(v.microsPerPixel, 1);
    EXPECT_EQ(OfflineViewCentreTime(&v, 640), 0);

    // Ten years in 100 columns exceed an hour per column: level 30.
    OfflineViewFitFile(&v, 10LL * 365 * 24 * 3600 * kSecond, 100);
    EXPECT_EQ(v.zoomLevel, 30);
    EXPECT_EQ(v.microsPerPixel, 3600000000LL);
}

TEST(OfflineViewWheel, LimitsAtBothEndsAndKeepsTheCentre) {
    OfflineView v;
    OfflineViewInit(&v, 50000, 800);
    OfflineViewFitFile(&v, 10 * kSecond, 800);
    int64_t centre = OfflineViewCentreTime(&v, 800);
    OfflineViewWheel(&v, -120, 10 * kSecond, 800);  // towards the user: zoom in
    EXPECT_EQ(v.zoomLevel, 12);
    EXPECT_EQ(OfflineViewCentreTime(&v, 800), centre);
    OfflineViewWheel(&v, 119, 10 * kSecond, 800);  // less than a notch: no change
    EXPECT_EQ(v.zoomLevel, 12);

    for (int i = 0; i < 40; i++) OfflineViewWheel(&v, 120, 10 * kSecond, 800);
    EXPECT_EQ(v.zoomLevel, 30);
    OfflineViewWheel(&v, 120, 10 * kSecond, 800);
    EXPECT_EQ(v.zoomLevel, 30);
    EXPECT_EQ(OfflineViewCentreTime(&v, 800), centre);
    OfflineViewWheel(&v, -120 * 100, 10 * kSecond, 800);
    EXPECT_EQ(v.zoomLevel, 0);
    OfflineViewWheel(&v, -120, 10 * kSecond, 800);
    EXPECT_EQ(v.zoomLevel, 0);
    EXPECT_EQ(OfflineViewCentreTime(&v, 800), centre);
    // The bar stands where the centre time is.
    EXPECT_EQ(v.scrollPos, OfflineViewPositionFor(&v, centre, 800));
}

TEST(OfflineViewResize, KeepsTheCentreTime) {
    OfflineView v;
    OfflineViewInit(&v, 50000, 1000);
    OfflineViewFitFile(&v, 10 * kSecond, 1000);
    OfflineViewWheel(&v, -2 * 120, 10 * kSecond, 1000);
    OfflineViewScroll(&v, ScrollPageRight, 0);
    int64_t centre = OfflineViewCentreTime(&v, 1000);
    OfflineViewResize(&v, 10 * kSecond, 601);
    EXPECT_EQ(v.scrollPage, 601);
    EXPECT_EQ(OfflineViewCentreTime(&v, 601), centre);
    OfflineViewResize(&v, 10 * kSecond, 1400);
    EXPECT_EQ(OfflineViewCentreTime(&v, 1400), centre);
}

TEST(OfflineViewScroll, EndsShowFirstAndLastPacketAtTheCentre) {
    OfflineView v;
    const int w = 1000;
    OfflineViewInit(&v, 50000, w);
    OfflineViewFitFile(&v, 10 * kSecond, w);
    ASSERT_EQ(v.scrollShift, 0);
    EXPECT_EQ(OfflineViewScroll(&v, ScrollLeftEnd, 0), 1);
    EXPECT_EQ(v.scrollPos, v.scrollMin);
    EXPECT_EQ(OfflineViewCentreTime(&v, w), 0);
    EXPECT_EQ(OfflineViewScroll(&v, ScrollLineLeft, 0), 0);  // already at the left end

    EXPECT_EQ(OfflineViewScroll(&v, ScrollRightEnd, 0), 1);
    EXPECT_EQ(v.scrollPos, v.scrollMax - v.scrollPage + 1);
    int64_t centre = OfflineViewCentreTime(&v, w);
    EXPECT_GE(centre, 10 * kSecond);
    EXPECT_LE(centre, 10 * kSecond + 2 * v.microsPerPixel);
    EXPECT_EQ(OfflineViewScroll(&v, ScrollEndScroll, 0), 0);

    // Zoomed in, line and page steps move by one column and one page, and
    // the thumb puts the view's left edge at its position.
    OfflineViewWheel(&v, -3 * 120, 10 * kSecond, w);
    OfflineViewScroll(&v, ScrollLeftEnd, 0);
    int64_t end = v.viewEndTime;
    OfflineViewScroll(&v, ScrollLineRight, 0);
    EXPECT_EQ(v.viewEndTime, end + v.microsPerPixel);
    OfflineViewScroll(&v, ScrollPageRight, 0);
    EXPECT_EQ(v.viewEndTime, end + (1 + w) * v.microsPerPixel);
    OfflineViewScroll(&v, ScrollThumbTrack, 100);
    EXPECT_EQ(v.scrollPos, 100);
    EXPECT_EQ(OfflineViewCentreTime(&v, w) / v.microsPerPixel, 100 + w / 2);
}

// Fault: zooming in with the centre beyond the scrollable range left the
// view where it was while the bar clamped its position; the gap grew with
// every zoom until the bar's left end no longer showed the file's start.
TEST(OfflineViewWheel, ZoomNearTheEndKeepsBarAndViewTogether) {
    OfflineView v;
    const int w = 1000;
    OfflineViewInit(&v, 50000, w);
    OfflineViewFitFile(&v, 10 * kSecond, w);
    for (int round = 0; round < 5; round++) {
        OfflineViewScroll(&v, ScrollRightEnd, 0);
        OfflineViewWheel(&v, -3 * 120, 10 * kSecond, w);
        OfflineViewWheel(&v, 3 * 120, 10 * kSecond, w);
    }
    OfflineViewWheel(&v, -3 * 120, 10 * kSecond, w);
    OfflineViewScroll(&v, ScrollLeftEnd, 0);
    EXPECT_EQ(OfflineViewCentreTime(&v, w), 0);
}

TEST(OfflineViewScroll, ThreeDaysAtOneMicrosecondShiftsByEightBits) {
    OfflineView v;
    const int w = 1000;
    const int64_t threeDays = 3LL * 24 * 3600 * kSecond;
    OfflineViewInit(&v, 50000, w);
    OfflineViewFitFile(&v, threeDays, w);
    for (int i = 0; i < 40; i++) OfflineViewWheel(&v, -120, threeDays, w);
    ASSERT_EQ(v.zoomLevel, 0);
    EXPECT_EQ(v.scrollShift, 8);
    EXPECT_LE(v.n1, kScrollLimit);
    int64_t end = v.viewEndTime;
    OfflineViewScroll(&v, ScrollLineRight, 0);
    EXPECT_EQ(v.viewEndTime, end + 256);
}

// Fault: a thumb drag across a shifted range was shifted in 32 bits and
// overflowed, throwing the view far from where the thumb stood.
TEST(OfflineViewScroll, LongThumbDragOnShiftedRangeLandsUnderTheThumb) {
    OfflineView v;
    const int w = 1000;
    const int64_t threeDays = 3LL * 24 * 3600 * kSecond;
    OfflineViewInit(&v, 50000, w);
    OfflineViewFitFile(&v, threeDays, w);
    for (int i = 0; i < 40; i++) OfflineViewWheel(&v, -120, threeDays, w);
    OfflineViewScroll(&v, ScrollLeftEnd, 0);
    int64_t target = v.scrollMax - v.scrollPage + 1;
    OfflineViewScroll(&v, ScrollThumbTrack, target);
    EXPECT_EQ(v.scrollPos, target);
    // The centre is now near the end of the file, not wrapped around.
    EXPECT_GT(OfflineViewCentreTime(&v, w), threeDays - 1024LL * 256);
    EXPECT_LT(OfflineViewCentreTime(&v, w), threeDays + 1024LL * 256);
}

}  // namespace
