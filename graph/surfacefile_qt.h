// SPDX-License-Identifier: GPL-2.0-or-later
// surfacefile_qt.h - a drawing surface as a picture file: encoded as PNG
// through QImage and written whole or not at all. Needs a QGuiApplication;
// UI thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "graph/drawsurface.h"
#include "platform/error.h"

// Writes width x height pixels (0x00RRGGBB, top row first) as a PNG to path,
// replacing it whole (written beside it, then renamed). Returns 1, or 0 with
// a reason in err; a failed write leaves no new file.
int SurfacePixelsSavePng(const uint32_t* pixels, int width, int height, const char* path, char* err);

// The same for a surface.
int SurfaceSavePng(const DrawSurface* surface, const char* path, char* err);
