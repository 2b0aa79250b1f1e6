// SPDX-License-Identifier: GPL-2.0-or-later
// offlineapp_qt.h - lumo_offline's entry after the argument check: the
// window mode (settings, main window, event loop, settings saved on a normal
// exit) and the export mode's picture writer. lumo_offline_main.cpp calls
// them; tests call them in-process. UI thread.
#pragma once

#include <cstddef>

#include "offline/export.h"

class OfflineWindow;

// Window mode: loads the settings, creates and shows the window (with
// args->filterSet loaded and args->capture read when given), runs the event
// loop and saves the settings after it. A QApplication must exist. Returns
// the loop's exit code (0).
int LumoOfflineRun(const OfflineArgs* args);

// The window of the running LumoOfflineRun, or nullptr outside it.
OfflineWindow* LumoOfflineMainWindow();

// Export mode's picture: the fitted graph of the whole file with the Qt
// text backend, saved as PNG. A QGuiApplication must exist.
int OfflineExportSavePng(const OfflineExport* ex, const char* path, int width, int height, char* err);
