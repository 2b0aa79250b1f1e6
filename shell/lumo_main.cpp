// SPDX-License-Identifier: GPL-2.0-or-later
// lumo_main.cpp - the live grapher's program entry. The program takes no
// arguments; files can be dropped onto its window.
#include <QApplication>

#include "shell/debuglog.h"
#include "shell/lumoapp_qt.h"

int main(int argc, char** argv) {
    DebugLogInit();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lumo"));
    return LumoRun();
}
