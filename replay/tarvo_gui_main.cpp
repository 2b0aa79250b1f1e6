// SPDX-License-Identifier: GPL-2.0-or-later
// tarvo_gui_main.cpp - entry of the replay front end: one modal dialog.
// Takes no command-line arguments. The program has no debug log: the log is
// never switched on, so the child console writes no lines.
#include <QApplication>

#include "replay/replay.h"
#include "replay/replaydlg_qt.h"
#include "shell/debuglog.h"

int main(int argc, char** argv) {
    DebugLogInit();
    QApplication app(argc, argv);
    ReplayRecord* record = ReplayMain();
    {
        ReplayDialog dialog(record);
        if (dialog.Open()) dialog.exec();
    }
    ReplayExit(record);  // no tool or reader outlives the dialog
    // 1 however the dialog was closed: the program's status says that its
    // dialog ran, not how a replay went.
    return 1;
}
