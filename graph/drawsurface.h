// SPDX-License-Identifier: GPL-2.0-or-later
// drawsurface.h - the off-screen picture of the graph: a top-down buffer of
// 32-bit 0x00RRGGBB pixels of exactly the window's client size; pixel (x, y)
// is word y * width + x. The renderer writes pixels and lines straight into
// it; text goes through a small interface that the Qt side fills, so the
// renderer knows nothing of windows and tests can record every label.
// UI thread only.
#pragma once

#include <cstdint>

struct DrawText;

struct DrawSurface {
    int32_t width;
    int32_t height;
    uint32_t* pixels;      // width * height words, top row first
    const DrawText* text;  // text drawing and measuring; may be null (then no text is drawn)
};

// How text reaches the surface: 12-pixel sans-serif, transparent background.
// The Qt side draws with QPainter on a QImage over the pixels; tests record.
// Pixels that Qt paints may come back with 0xff in the top byte (the RGB32
// convention); colour comparisons mask it off.
struct DrawText {
    void* context;
    // Draws text with its top-left corner at (x, y) in colour (0x00RRGGBB).
    void (*draw)(void* context, DrawSurface* surface, int x, int y, uint32_t color, const char* text);
    // Measures text: the width and height of its bounding box in pixels.
    void (*measure)(void* context, DrawSurface* surface, const char* text, int* width, int* height);
    // Optional (null allowed): called before the first and after the last
    // text of a frame, so a backend can keep one painter open for the frame.
    // Between them the renderer still writes pixels directly.
    void (*begin)(void* context, DrawSurface* surface);
    void (*end)(void* context, DrawSurface* surface);
};

// Builds the surface for width x height, every pixel 0 (the record is zeroed
// first; text is set from DrawSurfaceSetDefaultText). Returns 1, or 0 with
// nothing held (also for a zero or negative size or one whose byte count
// does not fit in memory).
int DrawSurfaceCreate(DrawSurface* surface, int width, int height);

// Gives back what DrawSurfaceCreate took; the record is zeroed. Harmless on
// a zeroed record.
void DrawSurfaceRelease(DrawSurface* surface);

// The text interface that every later DrawSurfaceCreate puts into its
// surface (the Qt side sets it once at start).
void DrawSurfaceSetDefaultText(const DrawText* text);

// The word of pixel (x, y), or a process-wide scratch word for coordinates
// outside the buffer (writes to it are lost).
uint32_t& DrawSurfacePixelAt(DrawSurface* surface, int x, int y);

// Sets every pixel to color.
void DrawSurfaceFill(DrawSurface* surface, uint32_t color);

// A line from (x1, y1) to (x2, y2), both ends written, clipped to the buffer:
// vertical and horizontal lines run between their ends, others follow
// Bresenham's steps. Any coordinates are allowed.
void DrawSurfaceLine(DrawSurface* surface, uint32_t color, int x1, int y1, int x2, int y2);

// The same line without clipping; both ends must lie inside the buffer.
void DrawSurfaceLineUnclipped(DrawSurface* surface, uint32_t color, int x1, int y1, int x2, int y2);
