// SPDX-License-Identifier: GPL-2.0-or-later
// drawsurface.cpp - the pixel buffer of the graph, its fill and its two line
// routines.
#include "graph/drawsurface.h"

#include <cstdlib>
#include <cstring>

#include "shell/debuglog.h"

// Where writes outside the buffer go; its content means nothing.
static uint32_t ScratchWord;
static const DrawText* DefaultText;

void DrawSurfaceSetDefaultText(const DrawText* text) { DefaultText = text; }

int DrawSurfaceCreate(DrawSurface* surface, int width, int height) {
    if (!surface) return 0;
    memset(surface, 0, sizeof *surface);
    if (width <= 0 || height <= 0) return 0;
    size_t words = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (words / static_cast<size_t>(height) != static_cast<size_t>(width) || words > SIZE_MAX / sizeof(uint32_t)) {
        return 0;
    }
    uint32_t* pixels = static_cast<uint32_t*>(calloc(words, sizeof(uint32_t)));
    if (!pixels) {
        DEBUG_LOG("DrawSurfaceCreate() err,calloc() failed,width=%d,height=%d", width, height);
        return 0;
    }
    surface->width = width;
    surface->height = height;
    surface->pixels = pixels;
    surface->text = DefaultText;
    return 1;
}

void DrawSurfaceRelease(DrawSurface* surface) {
    if (!surface) return;
    free(surface->pixels);
    memset(surface, 0, sizeof *surface);
}

uint32_t& DrawSurfacePixelAt(DrawSurface* surface, int x, int y) {
    if (x < 0 || x >= surface->width || y < 0 || y >= surface->height) return ScratchWord;
    return surface->pixels[static_cast<size_t>(y) * static_cast<size_t>(surface->width) + x];
}

void DrawSurfaceFill(DrawSurface* surface, uint32_t color) {
    if (!surface->pixels) return;
    size_t n = static_cast<size_t>(surface->width) * static_cast<size_t>(surface->height);
    uint32_t* p = surface->pixels;
    for (size_t i = 0; i < n; ++i) p[i] = color;
}

// One column from row lo to row hi (lo <= hi, both inside), stepping a row
// at a time through memory.
static void VerticalRun(DrawSurface* surface, uint32_t color, int x, int lo, int hi) {
    size_t stride = static_cast<size_t>(surface->width);
    uint32_t* p = surface->pixels + static_cast<size_t>(lo) * stride + x;
    for (int y = lo; y <= hi; ++y, p += stride) *p = color;
}

static void HorizontalRun(DrawSurface* surface, uint32_t color, int y, int lo, int hi) {
    uint32_t* p = surface->pixels + static_cast<size_t>(y) * static_cast<size_t>(surface->width);
    for (int x = lo; x <= hi; ++x) p[x] = color;
}

static int64_t FloorDiv(__int128 a, __int128 b) {
    __int128 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return static_cast<int64_t>(q);
}

// Bresenham along the major axis a (the one with the larger delta), the
// minor axis b stepping when the error term turns non-negative. Only the
// steps whose major coordinate lies inside 0..limitA-1 can land in the
// buffer, so the walk starts at the first of them with the error term and
// minor coordinate it would have had there: a line from far outside costs
// no more than one across the buffer, and writes the same pixels.
static void BresenhamClipped(DrawSurface* surface, uint32_t color, int64_t a1, int64_t b1, int64_t da, int64_t db,
                             int sa, int sb, int limitA, int xMajor) {
    int64_t kLo = sa > 0 ? -a1 : a1 - (limitA - 1);
    int64_t kHi = sa > 0 ? (limitA - 1) - a1 : a1;
    if (kLo < 0) kLo = 0;
    if (kHi > da) kHi = da;
    if (kLo > kHi) return;
    // after k steps the minor axis has moved m times, where m keeps the error
    // term -da + 2*db*k - 2*da*m inside [-2*da, 0)
    __int128 twoDb = static_cast<__int128>(2) * db;
    __int128 twoDa = static_cast<__int128>(2) * da;
    int64_t m = FloorDiv(twoDb * kLo - da, twoDa) + 1;
    int64_t err = static_cast<int64_t>(-static_cast<__int128>(da) + twoDb * kLo - twoDa * m);
    int64_t a = a1 + sa * kLo;
    int64_t b = b1 + sb * m;
    for (int64_t k = kLo; k <= kHi; ++k) {
        int64_t x = xMajor ? a : b;
        int64_t y = xMajor ? b : a;
        if (x >= 0 && x < surface->width && y >= 0 && y < surface->height) {
            surface->pixels[static_cast<size_t>(y) * static_cast<size_t>(surface->width) + static_cast<size_t>(x)] =
                color;
        }
        a += sa;
        err += 2 * db;
        if (err >= 0) {
            b += sb;
            err -= 2 * da;
        }
    }
}

void DrawSurfaceLine(DrawSurface* surface, uint32_t color, int x1, int y1, int x2, int y2) {
    if (!surface->pixels) return;
    int w = surface->width;
    int h = surface->height;
    if (x1 == x2 && y1 == y2) {
        DrawSurfacePixelAt(surface, x1, y1) = color;
        return;
    }
    if (x1 == x2) {
        if (x1 < 0 || x1 >= w) return;  // the whole column is off the buffer
        int lo = y1 < y2 ? y1 : y2;
        int hi = y1 < y2 ? y2 : y1;
        if (lo < 0) lo = 0;
        if (hi > h - 1) hi = h - 1;
        if (lo <= hi) VerticalRun(surface, color, x1, lo, hi);
        return;
    }
    if (y1 == y2) {
        if (y1 < 0 || y1 >= h) return;
        int lo = x1 < x2 ? x1 : x2;
        int hi = x1 < x2 ? x2 : x1;
        if (lo < 0) lo = 0;
        if (hi > w - 1) hi = w - 1;
        if (lo <= hi) HorizontalRun(surface, color, y1, lo, hi);
        return;
    }
    int sx = x2 > x1 ? 1 : -1;
    int sy = y2 > y1 ? 1 : -1;
    int64_t dx = static_cast<int64_t>(x2) - x1;
    int64_t dy = static_cast<int64_t>(y2) - y1;
    if (dx < 0) dx = -dx;
    if (dy < 0) dy = -dy;
    if (dx >= dy) {
        BresenhamClipped(surface, color, x1, y1, dx, dy, sx, sy, w, 1);
    } else {
        BresenhamClipped(surface, color, y1, x1, dy, dx, sy, sx, h, 0);
    }
}

void DrawSurfaceLineUnclipped(DrawSurface* surface, uint32_t color, int x1, int y1, int x2, int y2) {
    if (x1 == x2) {
        VerticalRun(surface, color, x1, y1 < y2 ? y1 : y2, y1 < y2 ? y2 : y1);
        return;
    }
    if (y1 == y2) {
        HorizontalRun(surface, color, y1, x1 < x2 ? x1 : x2, x1 < x2 ? x2 : x1);
        return;
    }
    size_t stride = static_cast<size_t>(surface->width);
    int sx = x2 > x1 ? 1 : -1;
    int sy = y2 > y1 ? 1 : -1;
    int dx = x2 > x1 ? x2 - x1 : x1 - x2;
    int dy = y2 > y1 ? y2 - y1 : y1 - y2;
    int x = x1;
    int y = y1;
    if (dx >= dy) {
        int err = -dx;
        for (int i = 0; i <= dx; ++i) {
            surface->pixels[static_cast<size_t>(y) * stride + x] = color;
            x += sx;
            err += 2 * dy;
            if (err >= 0) {
                y += sy;
                err -= 2 * dx;
            }
        }
    } else {
        int err = -dy;
        for (int i = 0; i <= dy; ++i) {
            surface->pixels[static_cast<size_t>(y) * stride + x] = color;
            y += sy;
            err += 2 * dx;
            if (err >= 0) {
                x += sx;
                err -= 2 * dy;
            }
        }
    }
}
