// lumowindow_qt.cpp - the live grapher's main window.
#include "shell/lumowindow_qt.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include "capture/capture.h"
#include "graph/graph.h"
#include "shell/debuglog.h"
#include "shell/filedialogs_qt.h"
#include "shell/livewnd.h"
#include "shell/msgbox_qt.h"

static const GraphWindowConfig kLumoWindowConfig = {"Lumo", "lumo", "startupfilterset.fs", 0};

LumoWindow::LumoWindow(Settings* settings) : GraphWindow(kLumoWindowConfig, settings) {
    setObjectName("lumoWindow");
    redrawTimer_ = new QTimer(this);
    redrawTimer_->setObjectName("redrawTimer");
    connect(redrawTimer_, &QTimer::timeout, this, &LumoWindow::OnRedrawTimer);
}

void LumoWindow::BuildExtraMenus(QMenuBar* bar) {
    QMenu* dump = bar->addMenu(QStringLiteral("Dump(&D)"));
    dump->setObjectName("dumpMenu");
    AddCommand(dump, "Start(&S)", CmdDumpStart);
    AddCommand(dump, "Stop(&X)", CmdDumpStop);
}

void LumoWindow::SetDumpMenuState(int dumping) {
    if (QAction* start = CommandAction(CmdDumpStart)) start->setEnabled(!dumping);
    if (QAction* stop = CommandAction(CmdDumpStop)) stop->setEnabled(dumping != 0);
}

int LumoWindow::OnCreate() {
    Settings* settings = AppSettings();
    const char* error = nullptr;

    LiveWndStartChecker(settings);
    SetDumpMenuState(0);
    if (!LiveWndInitCounters(settings, &error)) {
        ShowBox(error, MsgIconError);
        return 0;
    }
    setAcceptDrops(true);
    SetAlwaysOnTop(settings->topmost);
    int startupLoaded = 0;
    if (!LiveWndStartPipeline(View(), settings, &startupLoaded, &error)) {
        ShowBox(error, MsgIconError);
        return 0;
    }
    if (startupLoaded) MarkStartupFilterSetLoaded();
    redrawTimer_->start(settings->drawInterval);
    if (RecreateSurface(SurfaceWidget()->width(), SurfaceWidget()->height())) Render();
    return 1;
}

// The window never showed: release what creation took, save nothing.
void LumoWindow::OnCreateFailed() { LiveWndTeardown(); }

void LumoWindow::Render() {
    MainWndView* view = View();
    GraphDraw(Surface(), AppSettings(), view->filters.entries, view->filters.count,
              view->selectedFilter, view->legendRects, view->filterVisible);
}

const InterfaceInfo* LumoWindow::ConfigurationInterfaces(int* count) { return LiveWndInterfaces(count); }

void LumoWindow::OnConfigurationApplied() {
    const char* error = nullptr;
    if (!LiveWndFullRestart(View(), AppSettings(), &error)) {
        ShowBox(error, MsgIconError);
        close();
        return;
    }
    redrawTimer_->start(AppSettings()->drawInterval);
}

void LumoWindow::OnFilterSetApplied() {
    const char* error = nullptr;
    if (!LiveWndFilterRestart(View(), AppSettings(), &error)) {
        ShowBox(error, MsgIconError);
        close();
    }
}

int LumoWindow::OnCommand(int id) {
    switch (id) {
        case CmdDumpStart: DumpStart(); return 1;
        case CmdDumpStop: DumpStop(); return 1;
        default: return 0;
    }
}

void LumoWindow::DumpStart() {
    char path[kPathMax];
    path[0] = '\0';
    if (!SelectDumpFile(this, path, sizeof path)) return;
    char error[260];
    error[0] = '\0';
    if (CaptureFileStart(path, error, &AppSettings()->capture) == 1) {
        dumping_ = 1;
        SetDumpMenuState(1);
    } else {
        ShowBox(error, MsgIconError);
    }
}

// A dump whose last records could not be written when it was closed is
// reported too: the file is shorter than the user expects.
void LumoWindow::DumpStop() {
    const int wasDumping = dumping_;
    CaptureFileStop();
    dumping_ = 0;
    SetDumpMenuState(0);
    char reason[260];
    reason[0] = '\0';
    if (wasDumping && CaptureFileFailed(reason, sizeof reason)) {
        DebugLog("%s(%d),CaptureFileFailed() err,%s", __FILE__, __LINE__, reason);
        ShowBox(reason[0] ? reason : "fwrite() error", MsgIconError);
    }
}

void LumoWindow::OnRedrawTimer() {
    // A dump that ended by itself (a record could not be written) is shown
    // once and the menu goes back to not dumping; the state is cleared before
    // the box, whose own event loop keeps this timer running.
    if (dumping_) {
        char reason[260];
        reason[0] = '\0';
        if (CaptureFileFailed(reason, sizeof reason)) {
            CaptureFileStop();
            dumping_ = 0;
            SetDumpMenuState(0);
            DebugLog("%s(%d),CaptureFileFailed() err,%s", __FILE__, __LINE__, reason);
            ShowBox(reason[0] ? reason : "fwrite() error", MsgIconError);
        }
    }
    RedrawNow();
}

void LumoWindow::OnClose() { redrawTimer_->stop(); }

void LumoWindow::OnDestroy() { LiveWndTeardown(); }
