// SPDX-License-Identifier: GPL-2.0-or-later
// mainwnd.h - the main window's plain logic that both graphers share: the
// applied filter set with the graph's display state, the legend hit tests
// and toggles, the double-click decision, the rawshark-path prerequisite of
// the filter commands, the classification of dropped files, the window
// placement rule, the checker's library path and the filter set commands.
// The Qt window (graphwindow_qt.h) calls these; nothing here knows Qt.
// UI thread.
#pragma once

#include <cstddef>

#include "filterset/filterset.h"
#include "graph/graph.h"
#include "shell/settings.h"

// Command ids of the menus (and of commands a window sends itself).
enum MainWndCommand {
    CmdExit = 105,
    CmdConfiguration = 32771,
    CmdEditFilterSet = 32772,
    CmdLoadFilterSet = 32773,
    CmdSaveFilterSet = 32774,
    CmdAlwaysOnTop = 32775,
    CmdDumpStart = 32776,  // lumo
    CmdDumpStop = 32777,
    CmdOpenCaptureFile = 32779,    // lumo_offline
    CmdExportCsv = 32780,          // File "Export CSV..."
    CmdExportPng = 32781,          // File "Export PNG..."
    CmdTimeOfDay = 32782,          // Edit "Time of Day"
    CmdPause = 32783,              // Edit "Pause" (lumo)
    CmdReloadCaptureFile = 32784,  // lumo_offline: read the current file again (sent by the window itself)
    CmdLogScale = 32785,           // Edit "Log Scale"
    CmdMovingAverage = 32786,      // Edit "Moving Average": 32786 none, then one id per length of kMovingAverages
    CmdFitFile = 32793,            // lumo_offline: View the whole file again (Home)
};

// The lengths the Moving Average menu offers, in intervals (0: none); the
// command of choice k is CmdMovingAverage + k.
constexpr int kMovingAverages[] = {0, 5, 10, 20, 50, 100};
constexpr int kMovingAverageChoices = sizeof kMovingAverages / sizeof kMovingAverages[0];

// Where the legend's toggle strip and its cells lie: x in [4, 20), cell i at
// y in [16 i, 16 i + 16).
constexpr int kLegendToggleLeft = 4;
constexpr int kLegendToggleRight = 20;
constexpr int kLegendCellHeight = 16;

// The filters and the display state the window keeps for the renderer.
struct MainWndView {
    FilterSet filters;                     // the applied set
    int filterVisible[FilterSetMax];       // 1: the filter's trace is drawn
    int selectedFilter;                    // highlighted filter, -1 none
    LegendRect legendRects[FilterSetMax];  // written by the renderer, read by the hit tests
};

// Empty set (count 0, default entries), everything visible, nothing selected.
void MainWndViewInit(MainWndView* view);

// Every filter visible and nothing selected: done whenever the list is rebuilt.
void MainWndViewReset(MainWndView* view);

// A left click at client (x, y): clears the selection, then for each filter
// (only when x >= 4) selects it when the point lies in its legend rectangle
// (left edge not tested, a later match wins) and flips its visibility when
// the point lies in its toggle cell.
void MainWndLeftButtonDown(MainWndView* view, int x, int y);

// 1 when (x, y) hits a legend rectangle or a toggle cell of some filter (the
// same tests as a click). A double-click elsewhere opens the filter set editor.
int MainWndLegendHit(const MainWndView* view, int x, int y);

// The tool tip for (x, y): on the notice under the legend (packets the
// capture missed) its explanation; on a filter's legend row (its rectangle or its
// toggle cell, the tests of a click) or on the "all" row of a frame that drew
// all traffic, writes GraphLegendTip of that row into out and returns 1;
// elsewhere returns 0.
int MainWndLegendTip(const MainWndView* view, int x, int y, char* out, size_t size);

// The rawshark-path prerequisite of the filter commands and of a dropped
// ".fs": 1 when the path is non-empty and names an existing file.
int MainWndRawsharkPathUsable(const Settings* settings);

// What a dropped file is, by the text from its last '.' (without regard to
// case): a filter set (".fs"), a capture file (".pcap", ".pcapng", ".cap",
// the other formats Wireshark's file library reads, and ".gz"), or something
// else (also a name without '.').
enum MainWndDropKind { DropOther = 0, DropFilterSet = 1, DropCaptureFile = 2 };
int MainWndDropKind(const char* path);

// The window's first placement from settings: returns 1 with the saved
// rectangle when both sizes exceed 10 and it overlaps one of the monitors;
// else 0 with width 320, height 240 (the position is left to the system).
int MainWndPlacement(const Settings* settings, const MonitorRect* monitors, int monitorCount, int* x, int* y,
                     int* width, int* height);

// The display-filter library beside rawshark, handed to the checker: when
// the rawshark path is non-empty and holds a '/', everything after its last
// '/' becomes kWiresharkLibraryName. Returns 1 with out filled, else 0
// (then no checker is started).
extern const char* const kWiresharkLibraryName;
int MainWndLibraryPath(const char* rawsharkPath, char* out, size_t size);

// The first step of both windows' creation: starts the display-filter
// checker with the library beside rawshark when the rawshark path names a
// folder (MainWndLibraryPath), else none. UI thread.
void MainWndStartChecker(const Settings* settings);

// Loads the filter set file at path as the applied set: display state reset,
// entries reset, count = what the file holds (0 when unreadable). Returns
// the count.
int MainWndLoadFilterSet(MainWndView* view, const char* path);

// Writes the applied set to path. Returns 1, or 0 when it cannot be written.
int MainWndSaveFilterSet(const MainWndView* view, const char* path);

// The start-up filter set (fileName, "startupfilterset.fs" or
// "startupfilterset_offline.fs", in the data folder): the set becomes empty,
// then, only when the rawshark path is non-empty, the file is loaded.
// Returns 1 when the file was loaded (the run now owns the file and rewrites
// it at exit), 0 when loading was skipped.
int MainWndLoadStartupFilterSet(MainWndView* view, const Settings* settings, const char* fileName);

// Writes the applied set to the start-up filter set fileName in the data
// folder. Returns 1, or 0 when it cannot be written.
int MainWndSaveStartupFilterSet(const MainWndView* view, const char* fileName);
