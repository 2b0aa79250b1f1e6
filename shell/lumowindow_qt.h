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
#pragma once

#include "shell/graphwindow_qt.h"

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

protected:
    int OnCreate() override;
    void OnCreateFailed() override;
    void BuildExtraMenus(QMenuBar* bar) override;
    int OnCommand(int id) override;
    void Render() override;
    const InterfaceInfo* ConfigurationInterfaces(int* count) override;
    void OnConfigurationApplied() override;
    void OnFilterSetApplied() override;
    void OnClose() override;
    void OnDestroy() override;

private:
    void OnRedrawTimer();
    void DumpStart();
    void DumpStop();

    QTimer* redrawTimer_;
    int dumping_ = 0;
};
