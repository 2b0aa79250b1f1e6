// SPDX-License-Identifier: GPL-2.0-or-later
// drawtext_qt.h - the Qt side of the graph's text: QPainter on a QImage
// (Format_RGB32) over the surface's pixels, 12-pixel sans-serif, drawn
// without a background box. Measuring gives what a text's line takes: its
// advance width and the font's line height.
#pragma once

#include "graph/drawsurface.h"

// The process-wide Qt text interface. Call after the QApplication exists;
// UI thread. Hand it to DrawSurfaceSetDefaultText before creating surfaces.
const DrawText* DrawTextQt();
