// SPDX-License-Identifier: GPL-2.0-or-later
// lumoapp_qt.h - the live grapher's program entry after the QApplication
// exists: settings, the main window, the event loop, and the settings saved
// on the way out. shell/lumo_main.cpp calls it; tests call it in-process.
// UI thread.
#pragma once

class LumoWindow;

// Loads the settings, creates and shows the main window, runs the event loop
// and saves the settings after a normal end. Returns the loop's exit code
// (0), or 0 without saving anything when the window could not be created.
// SIGINT and SIGTERM close the window as Exit does.
int LumoRun();

// The window of the running LumoRun, or nullptr outside it.
LumoWindow* LumoMainWindow();
