// SPDX-License-Identifier: GPL-2.0-or-later
// surfacefile_qt.cpp - PNG files of the graph.
#include "graph/surfacefile_qt.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

int SurfacePixelsSavePng(const uint32_t* pixels, int width, int height, const char* path, char* error, size_t size) {
    if (!pixels || width <= 0 || height <= 0) {
        snprintf(error, size, "there is no picture to save");
        return 0;
    }
    const QImage image(reinterpret_cast<const uchar*>(pixels), width, height, static_cast<qsizetype>(width) * 4,
                       QImage::Format_RGB32);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        snprintf(error, size, "cannot encode the picture as PNG");
        return 0;
    }
    errno = 0;
    if (!FileWriteAtomic(path, bytes.constData(), static_cast<size_t>(bytes.size()))) {
        snprintf(error, size, "cannot write %s%s%s", path, errno ? ": " : "", errno ? strerror(errno) : "");
        return 0;
    }
    return 1;
}

int SurfaceSavePng(const DrawSurface* surface, const char* path, char* error, size_t size) {
    return SurfacePixelsSavePng(surface->pixels, surface->width, surface->height, path, error, size);
}
