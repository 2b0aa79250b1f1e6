// SPDX-License-Identifier: GPL-2.0-or-later
// readout.h - the value readout under the pointer: a dotted vertical line
// through the column under it and a small box beside it that names the
// column's interval (its start as the axis counts it and as local clock
// time) and, one line per visible filter in its colour, the value in the
// filter's unit. Drawn into the surface after a frame, from the view and
// rows that frame was drawn from, so the numbers are exactly those the
// traces plot; a later frame at another "now" moves the data under a still
// pointer and the readout follows it. UI thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filterset/filterset.h"
#include "graph/drawsurface.h"
#include "graph/graphrows.h"
#include "graph/graphstyle.h"

// Longest filter text a readout line shows; longer ones end in "...".
constexpr int kReadoutNameMax = 40;

// Draws the readout of the frame drawn from view and rows for the pointer
// at (x, y) in surface coordinates: nothing (returns 0) when the pointer
// lies outside the surface or the view and rows do not cover its width;
// else the line and the box, kept inside the surface, and returns 1.
int GraphDrawReadout(DrawSurface* surface, const GraphStyle* style, const GraphView* view, const GraphRows* rows, int x,
                     int y);

// The column start as the axis counts it, microseconds since the first
// packet: S.sss s, M:SS.sss or H:MM:SS.sss, negative before the first packet,
// with six decimals when the column duration is not whole milliseconds.
// out holds at least 40 bytes.
void GraphReadoutElapsedText(int64_t start, int64_t interval, char* out, size_t size);

// A value of the unit with its word: exact for bytes and packets
// ("1520 bytes"), three significant digits with K, M, G, T, P or E for the
// rates ("1.52M bps").
void GraphReadoutValueText(int64_t value, int32_t unit, char* out, size_t size);
