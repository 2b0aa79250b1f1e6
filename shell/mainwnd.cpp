// SPDX-License-Identifier: GPL-2.0-or-later
// mainwnd.cpp - the shared main-window logic of both graphers.
#include "shell/mainwnd.h"

#include <cstring>

#include "filterset/dfilter.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "shell/debuglog.h"

const char* const kWiresharkLibraryName = "libwireshark.so";

void MainWndViewInit(MainWndView* view) {
    memset(view, 0, sizeof *view);
    ResetFilterEntries(view->filters.entries, FilterSetMax);
    view->filters.count = 0;
    MainWndViewReset(view);
}

void MainWndViewReset(MainWndView* view) {
    for (int i = 0; i < FilterSetMax; ++i) view->filterVisible[i] = 1;
    view->selectedFilter = -1;
}

static int InLegendRect(const LegendRect* r, int x, int y) { return x <= r->right && r->top <= y && y <= r->bottom; }

static int InToggleCell(int i, int x, int y) {
    return x < kLegendToggleRight && kLegendCellHeight * i <= y && y < kLegendCellHeight * i + kLegendCellHeight;
}

static int FilterCount(const MainWndView* view) {
    int n = view->filters.count;
    return n < 0 ? 0 : (n > FilterSetMax ? FilterSetMax : n);
}

void MainWndLeftButtonDown(MainWndView* view, int x, int y) {
    view->selectedFilter = -1;
    if (x < kLegendToggleLeft) return;
    int n = FilterCount(view);
    for (int i = 0; i < n; ++i) {
        if (InLegendRect(&view->legendRects[i], x, y)) view->selectedFilter = i;
        if (InToggleCell(i, x, y)) view->filterVisible[i] = view->filterVisible[i] ? 0 : 1;
    }
}

int MainWndLegendHit(const MainWndView* view, int x, int y) {
    if (x < kLegendToggleLeft) return 0;
    int n = FilterCount(view);
    for (int i = 0; i < n; ++i) {
        if (InLegendRect(&view->legendRects[i], x, y) || InToggleCell(i, x, y)) return 1;
    }
    return 0;
}

int MainWndLegendTip(const MainWndView* view, int x, int y, char* out, size_t size) {
    if (x < kLegendToggleLeft) return 0;
    const GraphFrame* frame = GraphLastFrame();
    if (frame->drawn && frame->hasNotice && InLegendRect(&frame->noticeRect, x, y)) {
        snprintf(out, size, "%s", frame->noticeTip);
        return 1;
    }
    if (frame->drawn && frame->allTraffic) {
        if (InLegendRect(&frame->allRect, x, y) || InToggleCell(0, x, y)) return GraphLegendTip(0, out, size);
        return 0;
    }
    int n = FilterCount(view);
    int row = -1;
    for (int i = 0; i < n; ++i) {
        if (InLegendRect(&view->legendRects[i], x, y) || InToggleCell(i, x, y)) row = i;  // a later match wins
    }
    return row >= 0 ? GraphLegendTip(row, out, size) : 0;
}

int MainWndRawsharkPathUsable(const Settings* settings) {
    const char* path = settings->rawshark.rawsharkPath;
    return path[0] != '\0' && FileExists(path);
}

int MainWndDropKind(const char* path) {
    if (HasExtension(path, ".fs")) return DropFilterSet;
    // the capture files Wireshark's file library reads, and their gzip forms
    static const char* const kCapture[] = {".pcap", ".pcapng", ".cap", ".ntar", ".dmp", ".snoop", ".erf",
                                           ".scap", ".trc",    ".5vw", ".enc",  ".pkt", ".gz"};
    for (const char* extension : kCapture) {
        if (HasExtension(path, extension)) return DropCaptureFile;
    }
    return DropOther;
}

int MainWndPlacement(const Settings* settings, const MonitorRect* monitors, int monitorCount, int* x, int* y,
                     int* width, int* height) {
    if (settings->sizeX > 10 && settings->sizeY > 10 &&
        IsRectOnAnyMonitor(settings->positionX, settings->positionY, settings->sizeX, settings->sizeY, monitors,
                           monitorCount)) {
        *x = settings->positionX;
        *y = settings->positionY;
        *width = settings->sizeX;
        *height = settings->sizeY;
        return 1;
    }
    *x = 0;
    *y = 0;
    *width = 320;
    *height = 240;
    return 0;
}

void MainWndStartChecker(const Settings* settings) {
    char library[kPathMax];
    if (MainWndLibraryPath(settings->rawshark.rawsharkPath, library, sizeof library)) {
        DfilterStartChildProcess(library);
    }
}

int MainWndLibraryPath(const char* rawsharkPath, char* out, size_t size) {
    if (!rawsharkPath[0]) return 0;
    const char* slash = strrchr(rawsharkPath, '/');
    if (!slash) return 0;
    size_t folder = static_cast<size_t>(slash - rawsharkPath) + 1;
    if (folder + strlen(kWiresharkLibraryName) + 1 > size) return 0;
    memcpy(out, rawsharkPath, folder);
    out[folder] = '\0';
    TextAppend(out, size, kWiresharkLibraryName);
    return 1;
}

int MainWndLoadFilterSet(MainWndView* view, const char* path) {
    MainWndViewReset(view);
    ResetFilterEntries(view->filters.entries, FilterSetMax);
    view->filters.count = FilterSetLoadFilterSet(path, view->filters.entries, FilterSetMax);
    return view->filters.count;
}

int MainWndSaveFilterSet(const MainWndView* view, const char* path) {
    return FilterSetSaveFilterSet(path, view->filters.entries, view->filters.count);
}

int MainWndLoadStartupFilterSet(MainWndView* view, const Settings* settings, const char* fileName) {
    view->filters.count = 0;
    ResetFilterEntries(view->filters.entries, FilterSetMax);
    if (!settings->rawshark.rawsharkPath[0]) return 0;
    char path[kPathMax];
    if (!DataFilePath(fileName, path, sizeof path)) return 0;
    view->filters.count = FilterSetLoadFilterSet(path, view->filters.entries, FilterSetMax);
    return 1;
}

int MainWndSaveStartupFilterSet(const MainWndView* view, const char* fileName) {
    char path[kPathMax];
    if (!DataFilePath(fileName, path, sizeof path)) return 0;
    DataFolderCreate();
    return MainWndSaveFilterSet(view, path);
}
