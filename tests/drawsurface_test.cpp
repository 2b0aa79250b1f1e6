// SPDX-License-Identifier: GPL-2.0-or-later
// drawsurface_test.cpp - the pixel buffer and its line routines.
#include "graph/drawsurface.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <utility>

namespace {

using Points = std::set<std::pair<int, int>>;

struct Surface {
    DrawSurface s{};
    Surface(int w, int h) { EXPECT_EQ(DrawSurfaceCreate(&s, w, h), 1); }
    ~Surface() { DrawSurfaceRelease(&s); }
    Points Lit(uint32_t color) const {
        Points p;
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x)
                if (s.pixels[y * s.width + x] == color) p.insert({x, y});
        return p;
    }
};

// The line as drawn step by step through the clipping pixel access, the
// way the routine is specified; the fast routine must light the same pixels.
void ReferenceLine(DrawSurface* s, uint32_t c, int x1, int y1, int x2, int y2) {
    int sx = x2 > x1 ? 1 : -1, sy = y2 > y1 ? 1 : -1;
    int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1), x = x1, y = y1;
    if (dx >= dy) {
        for (int i = 0, err = -dx; i <= dx; ++i) {
            DrawSurfacePixelAt(s, x, y) = c;
            x += sx;
            if ((err += 2 * dy) >= 0) y += sy, err -= 2 * dx;
        }
    } else {
        for (int i = 0, err = -dy; i <= dy; ++i) {
            DrawSurfacePixelAt(s, x, y) = c;
            y += sy;
            if ((err += 2 * dx) >= 0) x += sx, err -= 2 * dy;
        }
    }
}

TEST(DrawSurface, CreateIsTopDownAndRejectsEmptySizes) {
    DrawSurface s;
    EXPECT_EQ(DrawSurfaceCreate(&s, 0, 10), 0);
    EXPECT_EQ(s.pixels, nullptr);
    EXPECT_EQ(DrawSurfaceCreate(&s, 10, -1), 0);
    Surface t(4, 3);
    EXPECT_EQ(t.s.pixels[0], 0u);
    DrawSurfacePixelAt(&t.s, 0, 0) = 0x123456;  // top-left on screen is the first word
    DrawSurfacePixelAt(&t.s, 3, 2) = 0x654321;  // bottom-right the last
    EXPECT_EQ(t.s.pixels[0], 0x123456u);
    EXPECT_EQ(t.s.pixels[11], 0x654321u);
    uint32_t* scratch = &DrawSurfacePixelAt(&t.s, 4, 0);
    EXPECT_TRUE(scratch < t.s.pixels || scratch >= t.s.pixels + 12);
    EXPECT_EQ(&DrawSurfacePixelAt(&t.s, -1, 1), scratch);
    EXPECT_EQ(&DrawSurfacePixelAt(&t.s, 1, 3), scratch);
    DrawSurfaceRelease(&t.s);
    EXPECT_EQ(t.s.pixels, nullptr);
    DrawSurfaceRelease(&t.s);  // a second release is harmless
}

TEST(DrawSurface, OneByOneSurfaceTakesOnlyItsPixel) {
    Surface t(1, 1);
    DrawSurfaceFill(&t.s, 5);
    EXPECT_EQ(t.s.pixels[0], 5u);
    DrawSurfaceLine(&t.s, 9, -5, -5, 10, 10);
    EXPECT_EQ(t.s.pixels[0], 9u);
    DrawSurfaceLine(&t.s, 3, -5, 0, 10, 0);
    DrawSurfaceLine(&t.s, 4, 0, 7, 0, -7);
    EXPECT_EQ(t.s.pixels[0], 4u);
}

TEST(DrawSurface, ClippedStraightLinesStayInside) {
    Surface t(6, 8);
    DrawSurfaceLine(&t.s, 1, 2, -3, 2, 8 + 3);
    Points column;
    for (int y = 0; y < 8; ++y) column.insert({2, y});
    EXPECT_EQ(t.Lit(1), column);
    DrawSurfaceLine(&t.s, 2, 4, 5, -2, 5);
    Points swapped = t.Lit(2);
    DrawSurfaceFill(&t.s, 0);
    DrawSurfaceLine(&t.s, 2, -2, 5, 4, 5);
    EXPECT_EQ(t.Lit(2), swapped);
    EXPECT_EQ(swapped, (Points{{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}}));
    DrawSurfaceLine(&t.s, 3, 6, 0, 6, 7);  // a column just off the right edge
    DrawSurfaceLine(&t.s, 3, 0, -1, 5, -1);
    EXPECT_TRUE(t.Lit(3).empty());
}

TEST(DrawSurface, BresenhamExamplesInBothRoutines) {
    for (int clipped = 0; clipped < 2; ++clipped) {
        Surface t(5, 5);
        auto line = clipped ? DrawSurfaceLine : DrawSurfaceLineUnclipped;
        line(&t.s, 1, 0, 0, 3, 1);
        EXPECT_EQ(t.Lit(1), (Points{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
        line(&t.s, 2, 0, 0, 1, 3);
        EXPECT_EQ(t.Lit(2), (Points{{0, 0}, {0, 1}, {1, 2}, {1, 3}}));
        line(&t.s, 3, 4, 0, 4, 4);
        line(&t.s, 3, 0, 4, 3, 4);
        EXPECT_EQ(t.Lit(3).size(), 9u);
    }
}

// Lines that start or end outside: the clipped walk starts at the first
// step inside and must light exactly what the full walk would.
TEST(DrawSurface, ClippedDiagonalsMatchTheFullWalk) {
    Surface got(37, 23), want(37, 23);
    srand(7);
    for (int i = 0; i < 4000; ++i) {
        int c[4];
        for (int& v : c) v = rand() % 181 - 70;
        DrawSurfaceFill(&got.s, 0);
        DrawSurfaceFill(&want.s, 0);
        DrawSurfaceLine(&got.s, 1, c[0], c[1], c[2], c[3]);
        ReferenceLine(&want.s, 1, c[0], c[1], c[2], c[3]);
        ASSERT_EQ(got.Lit(1), want.Lit(1)) << c[0] << "," << c[1] << " " << c[2] << "," << c[3];
    }
    // far-away ends cost no more than the buffer: one pixel per column here
    DrawSurfaceFill(&got.s, 0);
    DrawSurfaceLine(&got.s, 1, -2000000000, 5, 2000000000, 6);
    Points lit = got.Lit(1);
    EXPECT_EQ(lit.size(), 37u);
    for (auto [x, y] : lit) EXPECT_TRUE(y == 5 || y == 6) << x;
}

}  // namespace
