// SPDX-License-Identifier: GPL-2.0-or-later
// offlinewindow_qt.cpp - lumo_offline's main window.
//
//   creation        OnCreate
//   commands        Open, ReloadCaptureFile
//   time axis       resize, wheel, scroll bar (offlineview.h does the sums)
//   drops, legend   redraw at once: there is no redraw timer here
#include "offline/offlinewindow_qt.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <QScrollBar>
#include <QVBoxLayout>

#include "filterset/dfilter.h"
#include "graph/graph.h"
#include "offline/offlineapp_qt.h"
#include "offline/offlinerows.h"
#include "offline/readingdlg_qt.h"
#include "pipeline/packetstore.h"
#include "pipeline/rawsharkmngr.h"
#include "platform/text.h"
#include "shell/debuglog.h"
#include "platform/filedialogs_qt.h"
#include "shell/mainwnd.h"
#include "platform/msgbox_qt.h"

const char* const kOfflineCaption = "Lumo_offline";

static const GraphWindowConfig kOfflineConfig = {
    "Lumo_offline",                // title and caption
    "lumo_offline",                // caption of the rawshark file dialog's box
    kStartupFilterSetOfflineFile,  // start-up filter set in the data folder
    1,                             // the Capture Options dialog's offline form
};

// The one job record of the process, handed to every reading run.
static CaptureFileJob OfflineJob;

OfflineWindow::OfflineWindow(Settings* settings, const char* initialFilterSet) : GraphWindow(kOfflineConfig, settings) {
    currentCaptureFile_[0] = '\0';
    TextCopy(initialFilterSet_, sizeof initialFilterSet_, initialFilterSet ? initialFilterSet : "");
    OfflineViewInit(&timeView_, settings->samplingInterval, 0);
    scrollBar_ = new QScrollBar(Qt::Horizontal, this);
    scrollBar_->setObjectName("offlineScrollBar");
    scrollBar_->setSingleStep(1);
    CentralLayout()->addWidget(scrollBar_);
    // Every request (arrows, page clicks, thumb, ends, keys) ends in a new
    // value; the view moves by the change the bar accepted.
    connect(scrollBar_, &QScrollBar::valueChanged, this, &OfflineWindow::OnScrollValue);
}

CaptureFileJob* OfflineWindow::Job() { return &OfflineJob; }

void OfflineWindow::SetCurrentCaptureFile(const char* path) {
    TextCopy(currentCaptureFile_, sizeof currentCaptureFile_, path ? path : "");
}

int OfflineWindow::ClientWidth() { return SurfaceWidget()->width(); }

int OfflineWindow::OnCreate() {
    Settings* settings = AppSettings();
    MainWndStartChecker(settings);
    setAcceptDrops(true);
    SetAlwaysOnTop(settings->topmost);
    if (MainWndLoadStartupFilterSet(View(), settings, Config().startupFilterSet)) {
        MarkStartupFilterSetLoaded();
    }
    if (initialFilterSet_[0]) LoadFilterSetFile(initialFilterSet_);
    MainWndViewReset(View());
    const int width = ClientWidth();
    OfflineViewInit(&timeView_, settings->samplingInterval, width);
    if (RecreateSurface(width, SurfaceWidget()->height())) RenderFrame();
    UpdateScrollBar();
    PacketStoreReset();
    return 1;
}

void OfflineWindow::BuildFileMenu(QMenu* file) {
    AddCommand(file, "Open(&O)", CmdOpenCaptureFile);
    file->addSeparator();
    GraphWindow::BuildFileMenu(file);
}

int OfflineWindow::OnCommand(int id) {
    switch (id) {
        case CmdOpenCaptureFile: OpenCaptureFile(); return 1;
        case CmdReloadCaptureFile: ReloadCaptureFile(); return 1;
        case CmdFitFile: FitFile(); return 1;
        default: return 0;
    }
}

void OfflineWindow::OpenCaptureFile() {
    if (reading_) {
        ShowBox("Reading capture file now", MsgIconInformation);
        return;
    }
    char path[kPathMax];
    path[0] = '\0';
    if (!SelectCaptureFile(this, path, sizeof path)) return;
    SetCurrentCaptureFile(path);
    SendCommand(CmdReloadCaptureFile);
}

void OfflineWindow::ReloadCaptureFile() {
    // The reading dialog is modal, but a queued command can still arrive
    // from its event loop; one run at a time.
    if (reading_) {
        ShowBox("Reading capture file now", MsgIconInformation);
        return;
    }
    reading_ = 1;
    MainWndView* view = View();
    CaptureFileJobInit(&OfflineJob, currentCaptureFile_, &AppSettings()->rawshark, view->filters.entries,
                       view->filters.count);
    DEBUG_LOG("ReloadCaptureFile() info,%s", currentCaptureFile_);
    // Start waits for the previous run's thread and empties the store.
    CaptureFileReadStart(&OfflineJob);
    RunReadingDialog(this, &OfflineJob, kOfflineCaption);
    // The dialog ends after the run; should its loop be cut short (the
    // application quitting), the graph still waits for the whole run.
    CaptureFileReadFinish(&OfflineJob);
    reading_ = 0;
    if (!SurfaceValid()) return;
    OfflineViewSetFirstTime(&timeView_, PacketStoreFirstTime());
    OfflineViewFitFile(&timeView_, PacketStoreLastTime(), Surface()->width);
    UpdateScrollBar();
    RedrawNow();
}

void OfflineWindow::Render() {
    const MainWndView* view = View();
    OfflineViewOf(FrameView(), Surface()->width, timeView_.microsPerPixel, timeView_.viewEndTime);
    // The reader releases its processes at the end of each run; the legend
    // shows a refused filter's "rawshark:" line from what the run kept.
    OfflineRowsFill(FrameRows(), FrameView(), view->filters.entries, view->filters.count, view->filterVisible,
                    view->selectedFilter, OfflineJob.lastMessages);
    DrawFrameRows();
}

void OfflineWindow::UpdateScrollBar() {
    // The classic bar's numbers: positions run to max - page + 1; a bar
    // with nothing to scroll is shown disabled rather than hidden.
    int32_t hi = static_cast<int32_t>(
        std::max<int64_t>(timeView_.scrollMin, static_cast<int64_t>(timeView_.scrollMax) - timeView_.scrollPage + 1));
    updatingBar_ = 1;
    scrollBar_->setRange(timeView_.scrollMin, hi);
    scrollBar_->setPageStep(timeView_.scrollPage > 0 ? timeView_.scrollPage : 1);
    scrollBar_->setValue(timeView_.scrollPos);
    scrollBar_->setEnabled(OfflineViewCanScroll(&timeView_) != 0);
    updatingBar_ = 0;
}

void OfflineWindow::OnScrollValue(int value) {
    if (updatingBar_ || !SurfaceValid()) return;
    if (OfflineViewScroll(&timeView_, ScrollThumbTrack, value)) RedrawNow();
}

void OfflineWindow::OnSurfaceResize(int width, int height) {
    if (!RecreateSurface(width, height)) return;
    OfflineViewResize(&timeView_, PacketStoreLastTime(), width);
    UpdateScrollBar();
    RedrawNow();
}

void OfflineWindow::OnWheel(int delta, int, int) {
    if (!SurfaceValid()) return;
    OfflineViewWheel(&timeView_, delta, PacketStoreLastTime(), Surface()->width);
    UpdateScrollBar();
    RedrawNow();
}

void OfflineWindow::OnDragAcross(int x0, int x1) {
    if (!SurfaceValid() || PacketStoreCount() == 0) return;
    const GraphView* view = FrameView();
    // the columns' starts, and the end of the right one
    const int W = Surface()->width;
    int64_t t0 = GraphViewColumnStart(view, W - 1 - x0);
    int64_t t1 = GraphViewColumnStart(view, W - 1 - x1) + view->columnTime;
    OfflineViewZoomTo(&timeView_, t0, t1, PacketStoreLastTime(), W);
    UpdateScrollBar();
    RedrawNow();
}

void OfflineWindow::BuildEditMenuTail(QMenu* edit) {
    QAction* fit = AddCommand(edit, "&Whole File", CmdFitFile);
    fit->setShortcut(QKeySequence(Qt::Key_Home));
}

void OfflineWindow::FitFile() {
    if (!SurfaceValid()) return;
    OfflineViewSetFirstTime(&timeView_, PacketStoreFirstTime());
    OfflineViewFitFile(&timeView_, PacketStoreLastTime(), Surface()->width);
    UpdateScrollBar();
    RedrawNow();
}

// No timer redraws here, so a legend click shows at once.
void OfflineWindow::OnLegendClick() { RedrawNow(); }

void OfflineWindow::OnConfigurationApplied() { SendCommand(CmdReloadCaptureFile); }

void OfflineWindow::OnFilterSetApplied() { SendCommand(CmdReloadCaptureFile); }

void OfflineWindow::OnDroppedFile(const char* path) {
    switch (MainWndDropKind(path)) {
        case DropFilterSet:
            GraphWindow::OnDroppedFile(path);  // prerequisite, load, reload
            break;
        case DropCaptureFile:
            SetCurrentCaptureFile(path);
            SendCommand(CmdReloadCaptureFile);
            break;
        default: break;
    }
}

int OfflineWindow::BeginExport(int, int* icon, char* err) {
    *icon = MsgIconInformation;
    if (reading_) {
        ErrorSet(err, "Reading capture file now");
        return 0;
    }
    if (!currentCaptureFile_[0]) {
        ErrorSet(err, "Open a capture file first.");
        return 0;
    }
    // What the command line would refuse for this file is refused here too.
    const MainWndView* view = View();
    const int onePass = AppSettings()->rawshark.onePass && RawsharkMngrJudgeAvailable();
    if (!OfflineExportCheckRun(&OfflineJob, view->filters.entries, view->filters.count, onePass, err)) {
        *icon = MsgIconError;
        return 0;
    }
    return 1;
}

void OfflineWindow::FillExport(OfflineExport* ex) {
    ex->settings = *AppSettings();
    const MainWndView* view = View();
    memcpy(ex->entries, view->filters.entries, sizeof ex->entries);
    ex->count = view->filters.count;
    ex->maxRows = kExportMaxRows;
}

int OfflineWindow::WriteExportCsv(const char* path, char* err) {
    std::unique_ptr<OfflineExport> ex(new OfflineExport{});
    FillExport(ex.get());
    return OfflineExportCsvFile(ex.get(), path, ex->settings.samplingInterval, err);
}

int OfflineWindow::WriteExportPng(const char* path, char* err) {
    std::unique_ptr<OfflineExport> ex(new OfflineExport{});
    FillExport(ex.get());
    int ok = OfflineExportSavePng(ex.get(), path, kExportDefaultWidth, kExportDefaultHeight, err);
    // The picture's frame replaced what the window's frame left for the
    // readout and the legend's tips.
    RedrawNow();
    return ok;
}

void OfflineWindow::OnDestroy() {
    // Each run releases its processes itself; only its thread may be left.
    CaptureFileReadFinish(&OfflineJob);
    DfilterStopChildProcess();
}
