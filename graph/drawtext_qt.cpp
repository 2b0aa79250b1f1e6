// SPDX-License-Identifier: GPL-2.0-or-later
// drawtext_qt.cpp - text of the graph through QPainter.
//
// Between begin and end of a frame one painter stays open on an image over
// the surface's pixels; a text drawn outside a frame opens its own. The
// image only borrows the pixels, so the renderer's direct writes and the
// painter's see the same memory.
#include "graph/drawtext_qt.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>

namespace {

struct QtText {
    QFont font;
    QFontMetrics metrics;
    int ascent;
    QImage image;          // over the surface of the open frame
    QPainter painter;      // active only between begin and end
    DrawSurface* surface;  // the surface the painter is open on, or null
};

QFont LabelFont() {
    QFont font(QStringLiteral("sans-serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(12);
    font.setWeight(QFont::Normal);
    return font;
}

QtText* State() {
    static QtText* state = [] {
        QFont font = LabelFont();
        QtText* s = new QtText{font, QFontMetrics(font), 0, QImage(), QPainter(), nullptr};
        s->ascent = s->metrics.ascent();
        return s;
    }();
    return state;
}

QImage ImageOf(DrawSurface* surface) {
    return QImage(reinterpret_cast<uchar*>(surface->pixels), surface->width, surface->height,
                  static_cast<qsizetype>(surface->width) * 4, QImage::Format_RGB32);
}

void Paint(QPainter* painter, int x, int y, uint32_t color, const char* text, int ascent) {
    painter->setPen(QColor::fromRgb(color & 0xffffff));
    painter->drawText(x, y + ascent, QString::fromUtf8(text));
}

void Begin(void* context, DrawSurface* surface) {
    QtText* s = static_cast<QtText*>(context);
    if (s->surface || !surface->pixels) return;
    s->image = ImageOf(surface);
    if (!s->painter.begin(&s->image)) return;
    s->painter.setFont(s->font);
    s->painter.setBackgroundMode(Qt::TransparentMode);
    s->surface = surface;
}

void End(void* context, DrawSurface* surface) {
    QtText* s = static_cast<QtText*>(context);
    if (s->surface != surface) return;
    s->painter.end();
    s->image = QImage();
    s->surface = nullptr;
}

void Draw(void* context, DrawSurface* surface, int x, int y, uint32_t color, const char* text) {
    QtText* s = static_cast<QtText*>(context);
    if (!surface->pixels || !text || !text[0]) return;
    if (s->surface == surface) {
        Paint(&s->painter, x, y, color, text, s->ascent);
        return;
    }
    QImage image = ImageOf(surface);
    QPainter painter;
    if (!painter.begin(&image)) return;
    painter.setFont(s->font);
    painter.setBackgroundMode(Qt::TransparentMode);
    Paint(&painter, x, y, color, text, s->ascent);
    painter.end();
}

void Measure(void* context, DrawSurface*, const char* text, int* width, int* height) {
    QtText* s = static_cast<QtText*>(context);
    *width = text ? s->metrics.horizontalAdvance(QString::fromUtf8(text)) : 0;
    *height = s->metrics.height();
}

}  // namespace

const DrawText* DrawTextQt() {
    static const DrawText text = {State(), &Draw, &Measure, &Begin, &End};
    return &text;
}
