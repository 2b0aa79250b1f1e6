// SPDX-License-Identifier: GPL-2.0-or-later
// lumowindow_qt.h - the live grapher's main window: the shared GraphWindow
// plus the live pipeline (livewnd.h), the redraw timer, the "Dump(&D)" menu
// with Start and Stop, and the restarts after a change. UI thread.
//
// Creation runs, in order: checker, Dump menu state, packet ring interval and
// total counter, drops accepted, Always on Top, start-up filter set,
// interface list and choice, rawshark processes, packet handler, capture
// thread, redraw timer (Settings draw_interval), surface and first frame.
// Any failure shows its box (caption "Lumo", error icon) and refuses
// creation.
//
// Pause (Edit, Space) holds the graph at the moment shown: frames keep being
// drawn at that moment's "now" (so the readout works on a peak) while
// capture, counting and any dump go on; the title reads "Lumo (paused)".
// While paused a scroll bar and the wheel move back through everything the
// counters still hold and zoom out (intervals folded per column); Pause
// again returns to the present.
// A restart of the pipeline ends the pause (the counters start anew). The
// exports write what is on screen: the frame as a PNG, its intervals as CSV
// (shell/liveexport.h).
#pragma once

#include <vector>

#include "shell/graphwindow_qt.h"
#include "shell/livehistory.h"

class QScrollBar;
class QTimer;

class LumoWindow : public GraphWindow {
    Q_OBJECT
public:
    explicit LumoWindow(Settings* settings);

    // 1 while a dump file is being written.
    int Dumping() const { return dumping_; }

    // The redraw timer (timer 1 of the window).
    QTimer* RedrawTimer() { return redrawTimer_; }

    // "Start(&S)" greyed and "Stop(&X)" enabled while dumping, else the reverse.
    void SetDumpMenuState(int dumping);

    // 1 while the graph is paused.
    int Paused() const { return paused_; }
    // Holds the graph at the frame on screen (on) or lets it show the
    // present again; checks "Pause" and sets the title.
    void SetPaused(int on);

    // The PerfCounter reading the last frame showed.
    int64_t FrameNow() const { return frameNow_; }

    // The paused graph's look back (offset and zoom), and its scroll bar
    // (shown only while paused).
    const LiveHistory* History() const { return &history_; }
    QScrollBar* HistoryBar() { return historyBar_; }

protected:
    int OnCreate() override;
    void OnCreateFailed() override;
    void BuildEditMenuTail(QMenu* edit) override;
    void BuildExtraMenus(QMenuBar* bar) override;
    int OnCommand(int id) override;
    void Render() override;
    const InterfaceInfo* ConfigurationInterfaces(int* count) override;
    void OnConfigurationApplied() override;
    void OnFilterSetApplied() override;
    int BeginExport(int csv, int* icon, char* err) override;
    int WriteExportCsv(const char* path, char* err) override;
    int WriteExportPng(const char* path, char* err) override;
    void OnClose() override;
    void OnWheel(int delta, int x, int y) override;
    void OnDestroy() override;

private:
    void OnRedrawTimer();
    // Intervals the counters hold up to the paused moment.
    int64_t HeldIntervals();
    void UpdateHistoryBar();
    void DumpStart();
    void DumpStop();
    int ReportFailedDump();

    QTimer* redrawTimer_;
    int dumping_ = 0;
    int paused_ = 0;
    int64_t pausedNow_ = 0;  // the PerfCounter reading the paused graph shows
    int64_t frameNow_ = 0;   // the reading the last frame showed
    LiveHistory history_{1, 0};
    QScrollBar* historyBar_ = nullptr;
    int updatingBar_ = 0;
    // What an export writes, kept when the user chose it: the frame's view
    // and rows, and its pixels.
    GraphView exportView_{};
    GraphRows exportRows_{};
    std::vector<uint32_t> exportPixels_;
    int exportWidth_ = 0;
    int exportHeight_ = 0;
};
