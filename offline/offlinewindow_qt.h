// SPDX-License-Identifier: GPL-2.0-or-later
// offlinewindow_qt.h - lumo_offline's main window: the shared GraphWindow
// with a horizontal scroll bar under the graph, wheel zoom, the "Open(&O)"
// command, the reading of a capture file (ReloadCaptureFile with its modal
// reading dialog), and drops of filter sets and capture files. The time-axis
// rules are offlineview.h's; this class binds them to the widgets. UI thread.
//
// Creation runs, in order: checker, drops accepted, Always on Top, start-up
// filter set "startupfilterset_offline.fs" (when a rawshark path is set),
// display state, one column per sampling interval, surface and scroll bar
// (range 0..0), first frame, packet store emptied. It cannot fail.
//
// File > Export CSV... and Export PNG... write for the loaded file exactly
// what the command line's --export-csv and --export-png write (the
// sampling interval's rows; the whole file fitted into 1280x480), with the
// window's filter set and settings.
//
// Object names for tests: graphWindow, graphSurface, offlineScrollBar,
// command<ID> actions, readingDialog (readingLabel, readingProgress).
#pragma once

#include "offline/capfilereader.h"
#include "offline/export.h"
#include "offline/offlineview.h"
#include "platform/platform.h"
#include "shell/graphwindow_qt.h"

class QScrollBar;

// Caption of every box of lumo_offline.
extern const char* const kOfflineCaption;

class OfflineWindow : public GraphWindow {
    Q_OBJECT
public:
    // initialFilterSet: a ".fs" loaded after the start-up set (may be null);
    // the capture file is given with SetCurrentCaptureFile.
    OfflineWindow(Settings* settings, const char* initialFilterSet);

    // The file shown; "" until one is opened.
    const char* CurrentCaptureFile() const { return currentCaptureFile_; }
    void SetCurrentCaptureFile(const char* path);

    // The time axis and the scroll bar's numbers.
    const OfflineView* TimeView() const { return &timeView_; }
    QScrollBar* ScrollBar() { return scrollBar_; }

    // The job of the reading runs (one record for the process).
    CaptureFileJob* Job();

    // 1 while a reading run is under way (its dialog is open).
    int Reading() const { return reading_; }

protected:
    int OnCreate() override;
    void BuildFileMenu(QMenu* file) override;
    int OnCommand(int id) override;
    void Render() override;
    void OnSurfaceResize(int width, int height) override;
    void OnWheel(int delta, int x, int y) override;
    void OnLegendClick() override;
    void OnDragAcross(int x0, int x1) override;
    void BuildEditMenuTail(QMenu* edit) override;
    void OnConfigurationApplied() override;
    void OnFilterSetApplied() override;
    void OnDroppedFile(const char* path) override;
    int BeginExport(int csv, int* icon, char* err) override;
    int WriteExportCsv(const char* path, char* err) override;
    int WriteExportPng(const char* path, char* err) override;
    void OnDestroy() override;

private:
    void ReloadCaptureFile();
    void FitFile();
    void OpenCaptureFile();
    void UpdateScrollBar();
    void OnScrollValue(int value);
    int ClientWidth();
    // The export record of what the command line would read: the window's
    // settings and filters (the packets are in the store).
    void FillExport(OfflineExport* ex);

    OfflineView timeView_;
    char currentCaptureFile_[kPathMax];
    char initialFilterSet_[kPathMax];
    QScrollBar* scrollBar_;
    int reading_ = 0;
    int updatingBar_ = 0;
};
