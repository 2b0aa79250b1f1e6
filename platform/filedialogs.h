// SPDX-License-Identifier: GPL-2.0-or-later
// filedialogs.h - the rules behind the file dialogs that need no window:
// the remembered folders and the rawshark file-name check. The dialogs
// themselves are in filedialogs_qt.h. UI thread.
//
// Each kind of file has one remembered folder for the run (loading and
// saving filter sets share one): it starts as the data folder, where the
// start-up filter set and the settings live, and after every successful
// choice becomes the chosen file's folder. Nothing is stored between runs.
#pragma once

#include <cstddef>

enum FileDialogFolderKind {
    FolderFilterSet = 0,    // Load Filter Set, Save Filter Set
    FolderDump = 1,         // Dump network traffic
    FolderCaptureFile = 2,  // Open Capture File (lumo_offline)
    FolderExport = 3,       // Export CSV, Export PNG (both programs share one)
    FolderKindCount = 4
};

// The initial folder of a dialog of this kind; an empty remembered folder is
// first set to the data folder.
const char* FileDialogInitialFolder(int kind);

// After a successful choice: the folder becomes the chosen path up to its last
// '/' (a path without one empties it, so the next dialog starts in the data
// folder again).
void FileDialogRemember(int kind, const char* chosenPath);

// Empties every remembered folder (tests, to start as a new run).
void FileDialogForgetAll();

// The folder where the rawshark dialog starts: the folder of the configured
// path when it has one, else the folder programs are installed in.
void FileDialogRawsharkFolder(const char* configuredPath, char* out, size_t size);

// The file name the rawshark dialog insists on ("rawshark"; "rawshark.exe" on
// Windows).
extern const char* const kRawsharkFileName;

// 1 when the base name of path (after its last '/') is kRawsharkFileName,
// compared without regard to case.
int FileDialogIsRawshark(const char* path);
