// SPDX-License-Identifier: GPL-2.0-or-later
// surfacefile_qt.cpp - PNG files of the graph.
#include "graph/surfacefile_qt.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

int SurfacePixelsSavePng(const uint32_t* pixels, int width, int height, const char* path, char* err) {
    if (!pixels || width <= 0 || height <= 0) {
        ErrorSet(err, "there is no picture to save");
        return 0;
    }
    const QImage image(reinterpret_cast<const uchar*>(pixels), width, height, static_cast<qsizetype>(width) * 4,
                       QImage::Format_RGB32);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        ErrorSet(err, "cannot encode the picture as PNG");
        return 0;
    }
    char reason[kErrorLen];
    if (!FileWriteAtomic(path, bytes.constData(), static_cast<size_t>(bytes.size()), reason)) {
        ErrorSet(err, "cannot write %s%s%s", path, reason[0] ? ": " : "", reason);
        return 0;
    }
    return 1;
}

int SurfaceSavePng(const DrawSurface* surface, const char* path, char* err) {
    return SurfacePixelsSavePng(surface->pixels, surface->width, surface->height, path, err);
}
