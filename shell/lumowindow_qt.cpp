// SPDX-License-Identifier: GPL-2.0-or-later
// lumowindow_qt.cpp - the live grapher's main window.
#include "shell/lumowindow_qt.h"

#include <QAction>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "capture/capture.h"
#include "graph/graph.h"
#include "graph/surfacefile_qt.h"
#include "platform/platform.h"
#include "shell/debuglog.h"
#include "platform/filedialogs_qt.h"
#include "shell/liveexport.h"
#include "shell/liverows.h"
#include "pipeline/packetring.h"
#include "shell/livewnd.h"
#include "platform/msgbox_qt.h"

static const GraphWindowConfig kLumoWindowConfig = {"Lumo", "lumo", kStartupFilterSetFile, 0};

LumoWindow::LumoWindow(Settings* settings) : GraphWindow(kLumoWindowConfig, settings) {
    setObjectName("lumoWindow");
    redrawTimer_ = new QTimer(this);
    redrawTimer_->setObjectName("redrawTimer");
    connect(redrawTimer_, &QTimer::timeout, this, &LumoWindow::OnRedrawTimer);
    historyBar_ = new QScrollBar(Qt::Horizontal, this);
    historyBar_->setObjectName("historyScrollBar");
    historyBar_->hide();
    CentralLayout()->addWidget(historyBar_);
    connect(historyBar_, &QScrollBar::valueChanged, this, [this](int value) {
        if (updatingBar_ || !paused_) return;
        LiveHistoryScrollTo(&history_, value, HeldIntervals(), Surface()->width);
        RedrawNow();
    });
}

int64_t LumoWindow::HeldIntervals() {
    int64_t first = 0;
    if (!PacketRingFirstStamp(&first)) return 0;
    int64_t held = PacketRingBinAt(pausedNow_) + 1;
    int64_t bins = AppSettings() ? AppSettings()->binCount : 0;
    return held < bins ? held : bins;
}

void LumoWindow::UpdateHistoryBar() {
    updatingBar_ = 1;
    const int64_t held = HeldIntervals();
    const int width = Surface()->width;
    int64_t max = LiveHistoryMaxBack(&history_, held, width);
    historyBar_->setRange(0, static_cast<int>(max));
    historyBar_->setPageStep(width * history_.zoom);
    historyBar_->setSingleStep(history_.zoom);
    historyBar_->setValue(static_cast<int>(LiveHistoryScrollValue(&history_, held, width)));
    updatingBar_ = 0;
}

void LumoWindow::OnWheel(int delta, int, int) {
    if (!paused_) return;
    if (LiveHistoryWheel(&history_, delta, HeldIntervals(), Surface()->width)) {
        UpdateHistoryBar();
        RedrawNow();
    }
}

void LumoWindow::BuildExtraMenus(QMenuBar* bar) {
    QMenu* dump = bar->addMenu(QStringLiteral("Dump(&D)"));
    dump->setObjectName("dumpMenu");
    AddCommand(dump, "Start(&S)", CmdDumpStart);
    AddCommand(dump, "Stop(&X)", CmdDumpStop);
}

void LumoWindow::BuildEditMenuTail(QMenu* edit) {
    QAction* pause = AddCommand(edit, "&Pause", CmdPause);
    pause->setCheckable(true);
    pause->setShortcut(QKeySequence(Qt::Key_Space));
}

void LumoWindow::SetPaused(int on) {
    paused_ = on ? 1 : 0;
    LiveHistoryReset(&history_);
    if (paused_) {
        // the moment of the frame on screen, not of the click
        pausedNow_ = GraphLastFrame()->drawn ? frameNow_ : PerfCounter();
        UpdateHistoryBar();
    }
    historyBar_->setVisible(paused_ != 0);
    if (QAction* action = CommandAction(CmdPause)) action->setChecked(paused_ != 0);
    setWindowTitle(paused_ ? QStringLiteral("Lumo (paused)") : QString::fromUtf8(Config().title));
}

void LumoWindow::SetDumpMenuState(int dumping) {
    if (QAction* start = CommandAction(CmdDumpStart)) start->setEnabled(!dumping);
    if (QAction* stop = CommandAction(CmdDumpStop)) stop->setEnabled(dumping != 0);
}

int LumoWindow::OnCreate() {
    Settings* settings = AppSettings();
    char error[kErrorLen] = "";

    MainWndStartChecker(settings);
    SetDumpMenuState(0);
    if (!LiveWndInitCounters(settings, error)) {
        ShowBox(error, MsgIconError);
        return 0;
    }
    setAcceptDrops(true);
    SetAlwaysOnTop(settings->topmost);
    int startupLoaded = 0;
    if (!LiveWndStartPipeline(View(), settings, &startupLoaded, error)) {
        ShowBox(error, MsgIconError);
        return 0;
    }
    if (startupLoaded) MarkStartupFilterSetLoaded();
    redrawTimer_->start(settings->drawInterval);
    if (RecreateSurface(SurfaceWidget()->width(), SurfaceWidget()->height())) RenderFrame();
    return 1;
}

// The window never showed: release what creation took, save nothing.
void LumoWindow::OnCreateFailed() { LiveWndTeardown(); }

void LumoWindow::Render() {
    const MainWndView* view = View();
    const Settings* settings = AppSettings();
    const int64_t now = paused_ ? LiveHistoryNow(&history_, pausedNow_, settings->samplingInterval) : PerfCounter();
    const int zoom = paused_ ? history_.zoom : 1;
    LiveViewAt(FrameView(), now, settings->samplingInterval * zoom, Surface()->width);
    LiveRowsFillFolded(FrameRows(), FrameView(), now, settings->binCount, zoom, view->filters.entries,
                       view->filters.count, view->filterVisible, view->selectedFilter);
    DrawFrameRows();
    frameNow_ = now;
}

const InterfaceInfo* LumoWindow::ConfigurationInterfaces(int* count) { return LiveWndInterfaces(count); }

void LumoWindow::OnConfigurationApplied() {
    SetPaused(0);
    char error[kErrorLen] = "";
    if (!LiveWndFullRestart(View(), AppSettings(), error)) {
        ShowBox(error, MsgIconError);
        close();
        return;
    }
    redrawTimer_->start(AppSettings()->drawInterval);
}

void LumoWindow::OnFilterSetApplied() {
    SetPaused(0);
    char error[kErrorLen] = "";
    if (!LiveWndFilterRestart(View(), AppSettings(), error)) {
        ShowBox(error, MsgIconError);
        close();
    }
}

int LumoWindow::OnCommand(int id) {
    switch (id) {
        case CmdDumpStart: DumpStart(); return 1;
        case CmdDumpStop: DumpStop(); return 1;
        case CmdPause: SetPaused(!paused_); return 1;
        default: return 0;
    }
}

void LumoWindow::DumpStart() {
    char path[kPathMax];
    path[0] = '\0';
    if (!SelectDumpFile(this, path, sizeof path)) return;
    char error[kErrorLen] = "";
    if (CaptureFileStart(path, &AppSettings()->capture, error) == 1) {
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
    if (wasDumping) ReportFailedDump();
}

// Shows why the dump failed (its reason, else "fwrite() error") when it did.
// Returns 1 when it did.
int LumoWindow::ReportFailedDump() {
    char reason[kErrorLen] = "";
    if (!CaptureFileFailed(reason)) return 0;
    DEBUG_LOG("CaptureFileFailed() err,%s", reason);
    ShowBox(reason[0] ? reason : "fwrite() error", MsgIconError);
    return 1;
}

void LumoWindow::OnRedrawTimer() {
    // A dump that ended by itself (a record could not be written) is shown
    // once and the menu goes back to not dumping; the state is cleared before
    // the box, whose own event loop keeps this timer running.
    if (dumping_ && CaptureFileFailed(nullptr)) {
        CaptureFileStop();
        dumping_ = 0;
        SetDumpMenuState(0);
        ReportFailedDump();
    }
    RedrawNow();
}

// What is on screen when the user asks: the graph goes on moving while the
// save dialog is open.
int LumoWindow::BeginExport(int csv, int* icon, char* err) {
    const uint32_t* pixels = FramePixels();
    if (!GraphLastFrame()->drawn || !pixels) {
        ErrorSet(err, "The graph shows nothing to export.");
        *icon = MsgIconInformation;
        return 0;
    }
    exportPixels_.clear();
    if (csv) {
        exportView_ = *FrameView();
        if (!GraphRowsCopy(&exportRows_, FrameRows())) {
            ErrorSet(err, "out of memory");
            *icon = MsgIconError;
            return 0;
        }
    }
    if (!csv) {
        exportWidth_ = Surface()->width;
        exportHeight_ = Surface()->height;
        exportPixels_.assign(pixels, pixels + static_cast<size_t>(exportWidth_) * exportHeight_);
    }
    return 1;
}

int LumoWindow::WriteExportCsv(const char* path, char* err) {
    AtomicFile file;
    char reason[kErrorLen];
    FILE* out = FileAtomicOpen(&file, path, reason);
    if (!out) {
        ErrorSet(err, "cannot create %s: %s", path, reason);
        return 0;
    }
    int ok = LiveExportWriteCsv(out, &exportView_, &exportRows_, err);
    if (!FileAtomicClose(&file, ok, reason) && ok) {
        ErrorSet(err, "cannot write %s: %s", path, reason);
        ok = 0;
    }
    return ok;
}

int LumoWindow::WriteExportPng(const char* path, char* err) {
    int ok = SurfacePixelsSavePng(exportPixels_.data(), exportWidth_, exportHeight_, path, err);
    exportPixels_.clear();
    return ok;
}

void LumoWindow::OnClose() { redrawTimer_->stop(); }

void LumoWindow::OnDestroy() {
    GraphRowsFree(&exportRows_);
    LiveWndTeardown();
}
