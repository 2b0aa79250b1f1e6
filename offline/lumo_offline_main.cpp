// SPDX-License-Identifier: GPL-2.0-or-later
// lumo_offline_main.cpp - program entry of lumo_offline: the command line
// decides between the window and the export mode (no window, no display).
#include <QApplication>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "offline/export.h"
#include "offline/offlineapp_qt.h"
#include "shell/debuglog.h"

// The export speaks only through its exit code and its own lines on stderr;
// Qt's notes about the session (no runtime folder, no screen) are dropped.
static void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        fprintf(stderr, "lumo_offline: %s\n", text.toLocal8Bit().constData());
    }
}

int main(int argc, char** argv) {
    DebugLogInit();
    static OfflineArgs args;
    char error[kErrorLen];
    if (!OfflineArgsParse(argc, argv, &args, error)) {
        fprintf(stderr, "lumo_offline: %s\n(lumo_offline --help lists the options)\n", error);
        return 1;
    }
    if (args.help) {
        fputs(OfflineUsageText(), stdout);
        return 0;
    }
    if (args.version) {
        printf("lumo_offline %s\n", LUMO_VERSION_TEXT);
        return 0;
    }
    if (OfflineArgsExporting(&args)) {
        if (!args.pngPath[0]) return OfflineExportRun(&args, nullptr);
        // The picture needs fonts, not a screen: draw off-screen unless the
        // user chose a platform.
        if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        qInstallMessageHandler(QuietQtMessages);
        int qtArgc = 1;
        QGuiApplication app(qtArgc, argv);
        return OfflineExportRun(&args, OfflineExportSavePng);
    }
    QApplication app(argc, argv);
    return LumoOfflineRun(&args);
}
