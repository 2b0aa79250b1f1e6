// SPDX-License-Identifier: GPL-2.0-or-later
// graphwindow_qt.cpp - the shared main window of both graphers.
//
//   GraphSurfaceWidget   paint, resize, mouse, wheel
//   GraphWindow          creation, menus, shared commands, drops, close
#include "shell/graphwindow_qt.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QToolTip>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstring>

#include "filterset/captureoptsdlg_qt.h"
#include "filterset/filtersetdlg_qt.h"
#include "graph/drawtext_qt.h"
#include "graph/graph.h"
#include "graph/readout.h"
#include "platform/platform.h"
#include "shell/debuglog.h"
#include "platform/filedialogs_qt.h"
#include "platform/msgbox_qt.h"

// ---------------------------------------------------------------- surface widget

GraphSurfaceWidget::GraphSurfaceWidget(GraphWindow* window) : QWidget(window), window_(window) {
    setObjectName("graphSurface");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);  // the readout follows the pointer without a button held
    setMinimumSize(1, 1);
}

bool GraphSurfaceWidget::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = window_->LegendTipAt(help->pos().x(), help->pos().y());
        if (tip.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), tip, this);
        }
        return true;
    }
    return QWidget::event(event);
}

void GraphSurfaceWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    window_->HandlePointer(p.x(), p.y());
}

void GraphSurfaceWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    window_->HandleLeftButtonUp(p.x(), p.y());
}

void GraphSurfaceWidget::leaveEvent(QEvent*) { window_->HandlePointer(-1, -1); }

void GraphSurfaceWidget::paintEvent(QPaintEvent*) {
    if (!window_->SurfaceValid()) return;
    DrawSurface* surface = window_->Surface();
    const QImage image(reinterpret_cast<const uchar*>(surface->pixels), surface->width, surface->height,
                       surface->width * 4, QImage::Format_RGB32);
    QPainter painter(this);
    painter.drawImage(0, 0, image);
}

void GraphSurfaceWidget::resizeEvent(QResizeEvent*) { window_->HandleResize(width(), height()); }

void GraphSurfaceWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    window_->HandleLeftButtonDown(p.x(), p.y());
}

void GraphSurfaceWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    window_->HandleLeftDoubleClick(p.x(), p.y());
}

void GraphSurfaceWidget::wheelEvent(QWheelEvent* event) {
    const QPoint p = event->position().toPoint();
    window_->HandleWheel(event->angleDelta().y(), p.x(), p.y());
    event->accept();
}

// ---------------------------------------------------------------- window

GraphWindow::GraphWindow(const GraphWindowConfig& config, Settings* settings)
    : QMainWindow(nullptr), config_(config), settings_(settings) {
    setObjectName("graphWindow");
    setWindowTitle(QString::fromUtf8(config_.title));
    setWindowIcon(ProgramIcon());
    memset(&surface_, 0, sizeof surface_);
    MainWndViewInit(&view_);
    // Every surface made from now on draws its text through Qt.
    DrawSurfaceSetDefaultText(DrawTextQt());

    auto* central = new QWidget(this);
    central->setObjectName("centralArea");
    centralLayout_ = new QVBoxLayout(central);
    centralLayout_->setContentsMargins(0, 0, 0, 0);
    centralLayout_->setSpacing(0);
    surfaceWidget_ = new GraphSurfaceWidget(this);
    centralLayout_->addWidget(surfaceWidget_, 1);
    setCentralWidget(central);
}

GraphWindow::~GraphWindow() {
    if (surfaceValid_) DrawSurfaceRelease(&surface_);
    surfaceValid_ = 0;
    GraphRowsFree(&frameRows_);
}

QAction* GraphWindow::AddCommand(QMenu* menu, const char* text, int id) {
    QAction* action = menu->addAction(QString::fromUtf8(text));
    action->setObjectName(QStringLiteral("command%1").arg(id));
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { SendCommand(id); });
    actions_.insert(id, action);
    return action;
}

void GraphWindow::BuildFileMenu(QMenu* file) {
    AddCommand(file, "Export &CSV...", CmdExportCsv);
    AddCommand(file, "Export &PNG...", CmdExportPng);
    file->addSeparator();
    AddCommand(file, "Exit(&X)", CmdExit);
}

void GraphWindow::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("menuBar");
    QMenu* file = bar->addMenu(QStringLiteral("File(&F)"));
    file->setObjectName("fileMenu");
    BuildFileMenu(file);
    QMenu* edit = bar->addMenu(QStringLiteral("Edit(&E)"));
    edit->setObjectName("editMenu");
    AddCommand(edit, "Configuration(&C)", CmdConfiguration);
    edit->addSeparator();
    AddCommand(edit, "Always on Top(&A)", CmdAlwaysOnTop)->setCheckable(true);
    edit->addSeparator();
    AddCommand(edit, "Edit filter set(&E)", CmdEditFilterSet);
    AddCommand(edit, "Load filter set(&L)", CmdLoadFilterSet);
    AddCommand(edit, "Save filter set(&S)", CmdSaveFilterSet);
    edit->addSeparator();
    QAction* clock = AddCommand(edit, "&Time of Day", CmdTimeOfDay);
    clock->setCheckable(true);
    clock->setChecked(settings_->timeOfDay != 0);
    QAction* log = AddCommand(edit, "&Log Scale", CmdLogScale);
    log->setCheckable(true);
    log->setChecked(settings_->logScale != 0);
    QMenu* average = edit->addMenu(QStringLiteral("&Moving Average"));
    average->setObjectName("movingAverageMenu");
    auto* choices = new QActionGroup(average);
    for (int k = 0; k < kMovingAverageChoices; ++k) {
        char text[48];
        if (kMovingAverages[k] == 0) {
            snprintf(text, sizeof text, "&None");
        } else {
            snprintf(text, sizeof text, "%d intervals", kMovingAverages[k]);
        }
        QAction* choice = AddCommand(average, text, CmdMovingAverage + k);
        choice->setCheckable(true);
        choice->setActionGroup(choices);
        choice->setChecked(kMovingAverages[k] == (settings_->movingAverage > 1 ? settings_->movingAverage : 0));
    }
    BuildEditMenuTail(edit);
    BuildExtraMenus(bar);
}

int GraphWindow::CreateAndShow() {
    BuildMenus();

    QList<MonitorRect> monitors;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        monitors.append({g.left(), g.top(), g.left() + g.width(), g.top() + g.height()});
    }
    int x, y, width, height;
    // The saved size is the window's own (the frame added by the window
    // manager is not part of it), so a window reopens exactly as it closed.
    if (MainWndPlacement(settings_, monitors.constData(), static_cast<int>(monitors.size()), &x, &y, &width, &height)) {
        move(x, y);
    }
    resize(width, height);
    if (QLayout* top = layout()) top->activate();

    if (!OnCreate()) {
        OnCreateFailed();
        if (surfaceValid_) DrawSurfaceRelease(&surface_);
        surfaceValid_ = 0;
        destroyed_ = 1;  // nothing of this run is saved
        return 0;
    }
    created_ = 1;
    show();
    return 1;
}

void GraphWindow::ShowBox(const char* text, int icon) { ShowMessageBox(this, text, config_.title, icon); }

QAction* GraphWindow::CommandAction(int id) const { return actions_.value(id, nullptr); }

void GraphWindow::SetAlwaysOnTop(int on) {
    if (QAction* action = CommandAction(CmdAlwaysOnTop)) action->setChecked(on != 0);
    const bool wasVisible = isVisible();
    const QPoint position = pos();
    setWindowFlag(Qt::WindowStaysOnTopHint, on != 0);
    // Changing a window flag hides a shown window; show it again where it was.
    if (wasVisible) {
        move(position);
        show();
    }
}

void GraphWindow::PostCommand(int id) {
    QMetaObject::invokeMethod(
        this, [this, id] { SendCommand(id); }, Qt::QueuedConnection);
}

void GraphWindow::SendCommand(int id) {
    if (destroyed_) return;
    if (OnCommand(id)) return;
    RunSharedCommand(id);
}

int GraphWindow::RequireRawsharkPath() {
    if (MainWndRawsharkPathUsable(settings_)) return 1;
    settings_->rawshark.rawsharkPath[0] = '\0';
    ShowBox("Set rawshark file path.", MsgIconInformation);
    PostCommand(CmdConfiguration);
    return 0;
}

void GraphWindow::LoadFilterSetFile(const char* path) {
    MainWndLoadFilterSet(&view_, path);
    MarkStartupFilterSetLoaded();
}

int GraphWindow::RunConfigurationDialog() {
    int count = 0;
    const InterfaceInfo* list = ConfigurationInterfaces(&count);
    // The dialog edits its own blocks of the settings; they come back only
    // after an accepted OK.
    CaptureOptsSettings edited;
    edited.capture = settings_->capture;
    edited.rawshark = settings_->rawshark;
    edited.samplingInterval = settings_->samplingInterval;
    if (RunCaptureOptionsDialog(this, &edited, list, count, config_.offline, config_.title, config_.fileCaption) != 1) {
        return 0;
    }
    settings_->capture = edited.capture;
    settings_->rawshark = edited.rawshark;
    settings_->samplingInterval = edited.samplingInterval;
    return 1;
}

void GraphWindow::RunSharedCommand(int id) {
    char path[kPathMax];
    switch (id) {
        case CmdExit: close(); break;
        case CmdConfiguration:
            if (RunConfigurationDialog() == 1) {
                MainWndViewReset(&view_);
                OnConfigurationApplied();
            }
            break;
        case CmdEditFilterSet:
            if (!RequireRawsharkPath()) break;
            if (RunFilterSetConfigDialog(this, &view_.filters, config_.title) == 1) {
                MarkStartupFilterSetLoaded();
                MainWndViewReset(&view_);
                OnFilterSetApplied();
            }
            break;
        case CmdLoadFilterSet:
            if (!RequireRawsharkPath()) break;
            path[0] = '\0';
            if (SelectFilterSetToLoad(this, path, sizeof path)) {
                LoadFilterSetFile(path);
                OnFilterSetApplied();
            }
            break;
        case CmdSaveFilterSet:
            if (!RequireRawsharkPath()) break;
            path[0] = '\0';
            if (SelectFilterSetToSave(this, path, sizeof path)) MainWndSaveFilterSet(&view_, path);
            break;
        case CmdAlwaysOnTop:
            settings_->topmost = settings_->topmost ? 0 : 1;
            SetAlwaysOnTop(settings_->topmost);
            break;
        case CmdTimeOfDay:
            settings_->timeOfDay = settings_->timeOfDay ? 0 : 1;
            if (QAction* action = CommandAction(CmdTimeOfDay)) action->setChecked(settings_->timeOfDay != 0);
            RedrawNow();
            break;
        case CmdLogScale:
            settings_->logScale = settings_->logScale ? 0 : 1;
            if (QAction* action = CommandAction(CmdLogScale)) action->setChecked(settings_->logScale != 0);
            RedrawNow();
            break;
        case CmdExportCsv:
        case CmdExportPng: RunExport(id == CmdExportCsv); break;
        default:
            if (id >= CmdMovingAverage && id < CmdMovingAverage + kMovingAverageChoices) {
                settings_->movingAverage = kMovingAverages[id - CmdMovingAverage];
                if (QAction* action = CommandAction(id)) action->setChecked(true);
                RedrawNow();
            }
            break;  // no other handler: nothing happens
    }
}

// The dialog comes only after the program agreed, so that a user is never
// asked for a file that then cannot be written; a write that fails says why
// and leaves no file reported as saved.
void GraphWindow::RunExport(int csv) {
    char error[kErrorLen] = "";
    int icon = MsgIconError;
    if (!BeginExport(csv, &icon, error)) {
        if (error[0]) ShowBox(error, icon);
        return;
    }
    char path[kPathMax];
    path[0] = '\0';
    const int chosen =
        csv ? SelectExportCsvFile(this, path, sizeof path) : SelectExportPngFile(this, path, sizeof path);
    if (!chosen) return;
    const int ok = csv ? WriteExportCsv(path, error) : WriteExportPng(path, error);
    if (!ok) {
        DEBUG_LOG("Export() err,%s", error);
        ShowBox(error[0] ? error : "The export could not be written.", MsgIconError);
    }
}

void GraphWindow::OnDroppedFile(const char* path) {
    if (MainWndDropKind(path) != DropFilterSet) return;
    if (!RequireRawsharkPath()) return;
    LoadFilterSetFile(path);
    OnFilterSetApplied();
}

int GraphWindow::RecreateSurface(int width, int height) {
    if (surfaceValid_) DrawSurfaceRelease(&surface_);
    frameKept_ = 0;
    surfaceValid_ = DrawSurfaceCreate(&surface_, width, height) ? 1 : 0;
    return surfaceValid_;
}

// A minimised window (size 0) keeps no surface: ticks and paints draw nothing
// until a new size brings a new one. The next tick shows the new picture.
void GraphWindow::OnSurfaceResize(int width, int height) {
    if (RecreateSurface(width, height)) RenderFrame();
}

void GraphWindow::RenderFrame() {
    if (!surfaceValid_) return;
    Render();
    frameKept_ = 0;
    DrawReadoutOverFrame();
}

// The surface holds a clean frame, or frame_ does (frameKept_): the readout
// is drawn over a clean copy each time, so an old readout never lingers.
void GraphWindow::DrawReadoutOverFrame() {
    const size_t words = static_cast<size_t>(surface_.width) * static_cast<size_t>(surface_.height);
    if (frameKept_) {
        memcpy(surface_.pixels, frame_.data(), words * sizeof(uint32_t));
        frameKept_ = 0;
    }
    if (pointerX_ < 0 || pointerX_ >= surface_.width || pointerY_ < 0 || pointerY_ >= surface_.height) return;
    // over a legend row its tool tip speaks; a box there would hide the legend
    char tip[kLegendLabelSize];
    if (MainWndLegendTip(&view_, pointerX_, pointerY_, tip, sizeof tip)) return;
    frame_.assign(surface_.pixels, surface_.pixels + words);
    frameKept_ = 1;
    const GraphStyle style = SettingsGraphStyle(settings_);
    GraphDrawReadout(&surface_, &style, &frameView_, &frameRows_, pointerX_, pointerY_);
}

void GraphWindow::DrawFrameRows() {
    const GraphStyle style = SettingsGraphStyle(settings_);
    GraphDraw(&surface_, &style, &frameView_, &frameRows_, view_.legendRects);
}

const uint32_t* GraphWindow::FramePixels() const {
    if (!surfaceValid_) return nullptr;
    return frameKept_ ? frame_.data() : surface_.pixels;
}

void GraphWindow::RedrawNow() {
    if (!surfaceValid_) return;
    RenderFrame();
    surfaceWidget_->repaint();
}

void GraphWindow::HandlePointer(int x, int y) {
    if (!created_ || destroyed_) return;
    if (x < 0 || y < 0) x = y = -1;
    if (x == pointerX_ && y == pointerY_) return;
    pointerX_ = x;
    pointerY_ = y;
    if (!surfaceValid_) return;
    DrawReadoutOverFrame();
    surfaceWidget_->update();
}

QString GraphWindow::LegendTipAt(int x, int y) const {
    char tip[kLegendLabelSize];
    if (!created_ || destroyed_ || !MainWndLegendTip(&view_, x, y, tip, sizeof tip)) return QString();
    return QString::fromUtf8(tip);
}

// Sizes before creation are left to OnCreate, which makes the first surface
// once the pipeline the renderer reads exists.
void GraphWindow::HandleResize(int width, int height) {
    if (!created_ || destroyed_) return;
    OnSurfaceResize(width, height);
}

void GraphWindow::HandleLeftButtonDown(int x, int y) {
    if (!created_ || destroyed_) return;
    // a press left of the legend's rows is a legend click; elsewhere it may
    // start a drag across the graph
    dragFrom_ = MainWndLegendHit(&view_, x, y) ? -1 : x;
    MainWndLeftButtonDown(&view_, x, y);
    OnLegendClick();
}

void GraphWindow::HandleLeftButtonUp(int x, int) {
    if (!created_ || destroyed_) return;
    const int from = dragFrom_;
    dragFrom_ = -1;
    // a few pixels are a click, not a drag
    if (from >= 0 && (x - from > 4 || from - x > 4)) OnDragAcross(from < x ? from : x, from < x ? x : from);
}

void GraphWindow::HandleLeftDoubleClick(int x, int y) {
    if (!created_ || destroyed_) return;
    if (MainWndLegendHit(&view_, x, y)) return;
    SendCommand(CmdEditFilterSet);
}

void GraphWindow::HandleWheel(int delta, int x, int y) {
    if (!created_ || destroyed_) return;
    OnWheel(delta, x, y);
}

void GraphWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

// Only the first file counts; the drop is finished before it is handled, so
// that a box it shows does not hold the dragging program.
void GraphWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return;
    const QByteArray path = urls.first().toLocalFile().toUtf8();
    if (path.size() >= kPathMax) return;
    QMetaObject::invokeMethod(
        this,
        [this, path] {
            if (!destroyed_) OnDroppedFile(path.constData());
        },
        Qt::QueuedConnection);
}

void GraphWindow::closeEvent(QCloseEvent* event) {
    if (destroyed_) {
        event->accept();
        return;
    }
    OnClose();
    settings_->positionX = x();
    settings_->positionY = y();
    settings_->sizeX = width();
    settings_->sizeY = height();
    event->accept();
    Destroy();
}

void GraphWindow::Destroy() {
    if (destroyed_) return;
    destroyed_ = 1;
    // A run that never loaded a filter set (no rawshark path at start, nothing
    // loaded since) leaves the stored start-up set as it is instead of
    // replacing it by an empty one.
    if (startupFilterSetLoaded_) MainWndSaveStartupFilterSet(&view_, config_.startupFilterSet);
    if (surfaceValid_) DrawSurfaceRelease(&surface_);
    surfaceValid_ = 0;
    OnDestroy();
    QCoreApplication::exit(0);
}
