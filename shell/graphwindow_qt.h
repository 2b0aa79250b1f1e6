// SPDX-License-Identifier: GPL-2.0-or-later
// graphwindow_qt.h - the main window both graphers derive from.
//
// GraphWindow owns what lumo and lumo_offline share: the applied filter set
// with the graph's display state (MainWndView), the drawing surface and the
// widget that shows it, the menu bar (each item with the same command id
// and text in both programs), the commands that are the same in both programs, the legend clicks,
// file drops, message boxes with the program's caption and icon, Always on
// Top, the window rectangle written into Settings on close, and the start-up
// filter set written at destruction. A program subclasses it and fills in
// the extension points below; all run on the UI thread.
//
// Life of a window:
//   CreateAndShow()   placement from Settings (MainWndPlacement), then
//                     OnCreate() (the program's creation steps); on success
//                     the window is shown, on failure OnCreateFailed() runs
//                     and nothing is shown or saved
//   commands          menu actions, SendCommand (now) and PostCommand
//                     (queued): the program's OnCommand() first, then the
//                     shared ones (105, 32771 to 32775)
//   close             OnClose(), rectangle into Settings, then destruction:
//                     start-up filter set saved (when the run loaded one),
//                     surface released, OnDestroy(), event loop told to exit
//                     with 0
//
// Extension points (protected virtuals):
//   OnCreate            required; creation steps, may refuse (show a box, return 0)
//   OnCreateFailed      cleanup after a refused creation (default nothing)
//   BuildFileMenu       fills "File(&F)" (default: "Export CSV...", "Export PNG...",
//                       "Exit(&X)"); offline adds "Open(&O)" first
//   BuildEditMenuTail   items after "Time of Day" in "Edit(&E)" (lumo: "Pause")
//   BuildExtraMenus     menus after "Edit(&E)" (lumo: "Dump(&D)")
//   OnCommand           program commands; return 1 when handled
//   Render              required; renders one frame into Surface()
//   OnSurfaceResize     the client area got a new size (default: new surface, Render)
//   OnWheel             wheel turned over the graph (default nothing)
//   OnLegendClick       after a left click changed the display state (default nothing;
//                       the live timer shows it, offline redraws at once)
//   OnDragAcross        the left button dragged across the graph (offline: zoom into it)
//   RunConfigurationDialog   command 32771's dialog (default: Capture Options of the
//                            program's form with ConfigurationInterfaces())
//   ConfigurationInterfaces  interface list for that dialog (default none)
//   OnConfigurationApplied   required; after the dialog returned 1 (lumo: full restart)
//   OnFilterSetApplied       required; after the applied set changed (lumo: filter restart)
//   OnDroppedFile       a file dropped on the window (default: ".fs" as Load filter set)
//   BeginExport         before an export's save dialog: refuse with a box text, or
//                       keep what is to be written (lumo: the frame on screen)
//   WriteExportCsv/Png  required; write the export to the chosen path
//   OnClose             first step of closing (lumo: stop the redraw timer)
//   OnDestroy           required; teardown after the start-up filter set and the surface
//
// Helpers for subclasses: RequireRawsharkPath (the filter commands'
// prerequisite), LoadFilterSetFile, MarkStartupFilterSetLoaded, RecreateSurface,
// RenderFrame, RedrawNow, CentralLayout (the surface is its first item; a
// scroll bar may be added below it), ShowBox, FramePixels, FrameView and
// FrameRows with DrawFrameRows.
//
// What a frame shows: Render fills the window's view and rows (lumo from
// its counters, lumo_offline from its packet store) and draws them with
// DrawFrameRows; the readout and the legend read the same rows.
//
// The readout: while the pointer is over the graph, every frame gets the
// readout drawn over it (graph/readout.h); the frame as rendered is kept
// aside meanwhile, so a pointer move redraws only the readout, and leaving
// the graph puts the frame back as it was.
#pragma once

#include <QMainWindow>
#include <QMap>
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/interfaceinfo.h"
#include "graph/drawsurface.h"
#include "graph/graphrows.h"
#include "platform/error.h"
#include "shell/mainwnd.h"
#include "shell/settings.h"

class QAction;
class QMenu;
class QMenuBar;
class QVBoxLayout;
class GraphWindow;

// What distinguishes the programs' windows.
struct GraphWindowConfig {
    const char* title;             // window title and message-box caption: "Lumo", "Lumo_offline"
    const char* fileCaption;       // caption of the rawshark file dialog's box: "lumo", "lumo_offline"
    const char* startupFilterSet;  // "startupfilterset.fs", "startupfilterset_offline.fs" (data folder)
    int offline;                   // 1: the Capture Options dialog's offline form
};

// The client area: shows the drawing surface and hands resizes, mouse
// presses, double-clicks and wheel turns to its window. It never erases:
// the surface covers it whole.
class GraphSurfaceWidget : public QWidget {
    Q_OBJECT
public:
    explicit GraphSurfaceWidget(GraphWindow* window);

protected:
    bool event(QEvent* event) override;  // tool tips of the legend rows
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    GraphWindow* window_;
};

class GraphWindow : public QMainWindow {
    Q_OBJECT
public:
    GraphWindow(const GraphWindowConfig& config, Settings* settings);
    ~GraphWindow() override;

    // Places the window, runs OnCreate and shows the window. Returns 1, or 0
    // when creation was refused (the window stays hidden, OnCreateFailed has
    // run).
    int CreateAndShow();

    // Runs command id now (a menu choice does the same).
    void SendCommand(int id);
    // Runs command id from the event loop, after the current handler.
    void PostCommand(int id);
    // The menu action of command id, or nullptr.
    QAction* CommandAction(int id) const;

    // A message box with the program's caption.
    void ShowBox(const char* text, int icon);

    // Checks or clears "Always on Top(&A)" (Edit menu, position 2) and puts
    // the window into or out of the stays-on-top band without moving it.
    void SetAlwaysOnTop(int on);

    const GraphWindowConfig& Config() const { return config_; }
    Settings* AppSettings() { return settings_; }
    MainWndView* View() { return &view_; }
    DrawSurface* Surface() { return &surface_; }
    int SurfaceValid() const { return surfaceValid_; }
    GraphSurfaceWidget* SurfaceWidget() { return surfaceWidget_; }

    // Renders a frame and paints it at once (when a surface exists).
    void RedrawNow();

    // Input from the surface widget.
    void HandleResize(int width, int height);
    void HandleLeftButtonDown(int x, int y);
    void HandleLeftButtonUp(int x, int y);
    void HandleLeftDoubleClick(int x, int y);
    void HandleWheel(int delta, int x, int y);
    // The pointer moved to (x, y) over the graph, or left it ((-1, -1)).
    void HandlePointer(int x, int y);
    // The tool tip of the legend row under (x, y); empty when there is none.
    QString LegendTipAt(int x, int y) const;

    // The last frame without the readout (the surface itself when none is
    // drawn): width x height pixels, or null when no surface exists.
    const uint32_t* FramePixels() const;

    // The view and rows of the last frame, as Render filled them.
    const GraphView* FrameView() const { return &frameView_; }
    const GraphRows* FrameRows() const { return &frameRows_; }

protected:
    // ---- extension points (see the header comment)
    virtual int OnCreate() = 0;
    virtual void OnCreateFailed() {}
    virtual void BuildFileMenu(QMenu* file);
    virtual void BuildEditMenuTail(QMenu* edit) { (void)edit; }
    virtual void BuildExtraMenus(QMenuBar* bar) { (void)bar; }
    virtual int OnCommand(int id) {
        (void)id;
        return 0;
    }
    virtual void Render() = 0;
    virtual void OnSurfaceResize(int width, int height);
    virtual void OnWheel(int delta, int x, int y) {
        (void)delta;
        (void)x;
        (void)y;
    }
    virtual void OnLegendClick() {}
    // The left button was dragged across the graph from column x0 to x1
    // (x0 < x1; not from the legend). Default nothing.
    virtual void OnDragAcross(int x0, int x1) {
        (void)x0;
        (void)x1;
    }
    virtual int RunConfigurationDialog();
    virtual const InterfaceInfo* ConfigurationInterfaces(int* count) {
        *count = 0;
        return nullptr;
    }
    virtual void OnConfigurationApplied() = 0;
    virtual void OnFilterSetApplied() = 0;
    virtual void OnDroppedFile(const char* path);
    // csv 1: "Export CSV...", 0: "Export PNG...". Return 0 to refuse, with
    // its icon and the box's text in err (nothing shown when it is empty).
    virtual int BeginExport(int csv, int* icon, char* err) {
        (void)csv;
        (void)icon;
        (void)err;
        return 1;
    }
    // Return 1 when path holds the whole export, else 0 with the reason in err.
    virtual int WriteExportCsv(const char* path, char* err) = 0;
    virtual int WriteExportPng(const char* path, char* err) = 0;
    virtual void OnClose() {}
    virtual void OnDestroy() = 0;

    // ---- helpers
    // The filter commands' prerequisite: returns 1 when the rawshark path is
    // usable; otherwise clears it in Settings, shows "Set rawshark file
    // path." (information) and posts Configuration, then returns 0.
    int RequireRawsharkPath();
    // Loads path as the applied set (display state reset) and marks the
    // start-up filter set as owned; the caller applies it.
    void LoadFilterSetFile(const char* path);
    // From now on the start-up filter set is rewritten at destruction.
    void MarkStartupFilterSetLoaded() { startupFilterSetLoaded_ = 1; }
    // Releases the surface if one exists and creates one of width x height;
    // returns SurfaceValid().
    int RecreateSurface(int width, int height);
    // Renders a frame (the program's Render), then the readout over it when
    // the pointer is over the graph. Does not paint.
    void RenderFrame();
    // Registers an action with a command id into menu.
    QAction* AddCommand(QMenu* menu, const char* text, int id);
    QVBoxLayout* CentralLayout() { return centralLayout_; }
    // The records Render fills, and the frame drawn from them into the
    // surface with the window's legend rectangles.
    GraphView* FrameView() { return &frameView_; }
    GraphRows* FrameRows() { return &frameRows_; }
    void DrawFrameRows();

    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildMenus();
    void RunSharedCommand(int id);
    void RunExport(int csv);
    void DrawReadoutOverFrame();
    void Destroy();

    GraphWindowConfig config_;
    Settings* settings_;
    MainWndView view_;
    DrawSurface surface_;
    int surfaceValid_ = 0;
    int startupFilterSetLoaded_ = 0;
    int created_ = 0;    // OnCreate succeeded: input and resizes are handled
    int destroyed_ = 0;  // closed (or creation refused): nothing runs any more
    GraphSurfaceWidget* surfaceWidget_;
    QVBoxLayout* centralLayout_;
    QMap<int, QAction*> actions_;
    int pointerX_ = -1;  // over the graph, or -1
    int dragFrom_ = -1;  // column the left button went down on (not the legend), or -1
    int pointerY_ = -1;
    std::vector<uint32_t> frame_;  // the frame under the readout, while one is drawn
    int frameKept_ = 0;            // 1: frame_ holds the surface's frame
    GraphView frameView_{};        // what the last frame showed
    GraphRows frameRows_{};
};
