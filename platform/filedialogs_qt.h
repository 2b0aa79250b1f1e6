// SPDX-License-Identifier: GPL-2.0-or-later
// filedialogs_qt.h - the file dialogs of both graphers. Each fills the
// caller's path buffer (size bytes, normally kPathMax) with the chosen
// file's full path and returns 1, or returns 0 when the user cancelled (or
// the path does not fit). No overwrite prompt on the save dialogs, no default
// extension. Initial and remembered folders follow filedialogs.h. UI thread.
//
//   SelectRawsharkExe      "Select rawshark file", all files; repeats until
//                          the user cancels or picks a file named rawshark
//   SelectFilterSetToLoad  "Load Filter Set", "Filter Set(*.fs)"
//   SelectFilterSetToSave  "Save Filter Set", "Filter Set(*.fs)"
//   SelectDumpFile         "Dump network traffic", "Wireshark/tcpdump(*.pcap)"
//   SelectCaptureFile      "Open Capture File": every capture file Wireshark
//                          opens (selected), "Wireshark/tcpdump(*.pcap)",
//                          then pcap and pcapng with their gzip forms,
//                          snoop, ERF, gzip and all files (lumo_offline)
//   SelectExportCsvFile    "Export CSV", "CSV(*.csv)", adds ".csv"
//   SelectExportPngFile    "Export PNG", "PNG image(*.png)", adds ".png"
// The two export dialogs, unlike the others, ask before replacing a file.
#pragma once

#include <cstddef>

class QWidget;

// path must hold a NUL-terminated text (normally empty); a path in it makes
// the dialog start in its folder. errorCaption is the caption of the box
// shown for a file of another name: "lumo" or "lumo_offline".
int SelectRawsharkExe(QWidget* owner, char* path, size_t size, const char* errorCaption);
int SelectFilterSetToLoad(QWidget* owner, char* path, size_t size);
int SelectFilterSetToSave(QWidget* owner, char* path, size_t size);
int SelectDumpFile(QWidget* owner, char* path, size_t size);
int SelectCaptureFile(QWidget* owner, char* path, size_t size);
int SelectExportCsvFile(QWidget* owner, char* path, size_t size);
int SelectExportPngFile(QWidget* owner, char* path, size_t size);

// The texts of the rawshark dialog: its title, which is also the text of the
// box shown for a wrong file.
extern const char* const kSelectRawsharkTitle;
