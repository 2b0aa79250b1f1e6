// SPDX-License-Identifier: GPL-2.0-or-later
// lumo_main.cpp - the live grapher's program entry. The window takes no
// arguments (files can be dropped onto it); "--headless" runs the grapher
// without a window or display (shell/headless.h).
#include <QApplication>
#include <cstdio>

#include "platform/error.h"
#include "shell/debuglog.h"
#include "shell/headless.h"
#include "shell/lumoapp_qt.h"

int main(int argc, char** argv) {
    DebugLogInit();
    if (HeadlessWanted(argc, argv)) {
        HeadlessArgs args;
        char err[kErrorLen];
        if (!HeadlessArgsParse(argc, argv, &args, err)) {
            fprintf(stderr, "lumo: %s\n", err);
            return 1;
        }
        return HeadlessRun(&args);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lumo"));
    return LumoRun();
}
