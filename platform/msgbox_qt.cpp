// SPDX-License-Identifier: GPL-2.0-or-later
// msgbox_qt.cpp - message boxes and the window icon.
#include "platform/msgbox_qt.h"

#include <QIcon>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>

void ShowMessageBox(QWidget* owner, const char* text, const char* caption, int icon) {
    QMessageBox box(owner);
    box.setObjectName("messageBox");
    box.setWindowTitle(QString::fromUtf8(caption));
    box.setText(QString::fromUtf8(text));
    switch (icon) {
        case MsgIconError: box.setIcon(QMessageBox::Critical); break;
        case MsgIconWarning: box.setIcon(QMessageBox::Warning); break;
        case MsgIconInformation: box.setIcon(QMessageBox::Information); break;
        default: box.setIcon(QMessageBox::NoIcon); break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowIcon(ProgramIcon());
    box.exec();
}

static QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::black);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    painter.setPen(QPen(QColor(0x00, 0x00, 0xa0), s));
    for (int k = 1; k < 4; ++k) painter.drawLine(QPointF(0, 8 * k * s), QPointF(size, 8 * k * s));
    // two traces, the first two default filter colours
    const QPointF green[] = {{2 * s, 26 * s}, {8 * s, 20 * s},  {14 * s, 23 * s},
                             {20 * s, 9 * s}, {26 * s, 14 * s}, {30 * s, 6 * s}};
    const QPointF red[] = {{2 * s, 29 * s},  {9 * s, 27 * s},  {15 * s, 28 * s},
                           {21 * s, 21 * s}, {27 * s, 25 * s}, {30 * s, 20 * s}};
    painter.setPen(QPen(QColor(0x00, 0xff, 0x00), 2 * s));
    painter.drawPolyline(green, 6);
    painter.setPen(QPen(QColor(0xff, 0x00, 0x00), 2 * s));
    painter.drawPolyline(red, 6);
    return pixmap;
}

const QIcon& ProgramIcon() {
    // Made on first use (a QGuiApplication exists by then) and kept for the
    // life of the process, so that it is never destroyed after the application.
    static QIcon* icon = nullptr;
    if (!icon) {
        icon = new QIcon;
        icon->addPixmap(DrawIcon(16));
        icon->addPixmap(DrawIcon(32));
        icon->addPixmap(DrawIcon(64));
    }
    return *icon;
}
