// SPDX-License-Identifier: GPL-2.0-or-later
// livewnd.cpp - start-up, restarts and teardown of the live pipeline.
#include "shell/livewnd.h"

#include <cstring>

#include "capture/capture.h"
#include "filterset/dfilter.h"
#include "pipeline/packetring.h"
#include "pipeline/rawsharkmngr.h"
#include "platform/text.h"
#include "shell/debuglog.h"

constexpr int kInterfaceMax = 16;

// The window's interface table.
struct LiveWndState {
    InterfaceInfo interfaces[kInterfaceMax];
    int interfaceCount;
};
static LiveWndState LiveWnd;

const InterfaceInfo* LiveWndInterfaces(int* count) {
    *count = LiveWnd.interfaceCount;
    return LiveWnd.interfaces;
}

int LiveWndInitCounters(const Settings* settings, char* err) {
    PacketRingSetInterval(settings->samplingInterval);
    if (!TotalCounterInit(static_cast<uint32_t>(settings->binCount))) {
        ErrorSet(err, "malloc() error");
        return 0;
    }
    return 1;
}

static int StartRawshark(const MainWndView* view, const Settings* settings) {
    return RawsharkMngrListEdit(&settings->rawshark, settings->capture.iface.linkType, view->filters.count,
                                view->filters.entries, settings->binCount);
}

int LiveWndStartPipeline(MainWndView* view, Settings* settings, int* startupLoaded, char* err) {
    *startupLoaded = MainWndLoadStartupFilterSet(view, settings, kStartupFilterSetFile);

    memset(LiveWnd.interfaces, 0, sizeof LiveWnd.interfaces);
    int n = CaptureGetInterfaceList(kInterfaceMax, LiveWnd.interfaces);
    if (n == -1) {
        LiveWnd.interfaceCount = 0;
        ErrorSet(err, "pcap_findalldevs() error");
        return 0;
    }
    if (n <= 0) {
        LiveWnd.interfaceCount = 0;
        ErrorSet(err, "Network Interface is not found.");
        return 0;
    }
    if (n > kInterfaceMax) n = kInterfaceMax;
    LiveWnd.interfaceCount = n;

    int chosen = 0;
    for (int i = 0; i < n; ++i) {
        if (strcmp(LiveWnd.interfaces[i].name, settings->capture.iface.name) == 0) {
            chosen = i;
            break;
        }
    }
    settings->capture.iface = LiveWnd.interfaces[chosen];

    MainWndViewReset(view);

    if (!StartRawshark(view, settings)) {
        RawsharkMngrListClear();
        TotalCounterFree();
        ErrorSet(err, "RawsharkMngrListEdit() error");
        return 0;
    }
    CapturePacketHandlerControl(1);
    if (!CaptureStartThread(&settings->capture)) {
        RawsharkMngrListClear();
        TotalCounterFree();
        ErrorSet(err, "CaptureStartThread() error");
        return 0;
    }
    return 1;
}

int LiveWndFilterRestart(MainWndView* view, const Settings* settings, char* err) {
    CapturePacketHandlerControl(0);
    RawsharkMngrListClear();
    PacketRingReset();
    if (!StartRawshark(view, settings)) {
        ErrorSet(err, "RawsharkMngrListEdit() error");
        return 0;
    }
    CapturePacketHandlerControl(1);
    return 1;
}

int LiveWndFullRestart(MainWndView* view, const Settings* settings, char* err) {
    MainWndViewReset(view);
    CaptureStopThread();
    RawsharkMngrListClear();
    PacketRingReset();
    PacketRingSetInterval(settings->samplingInterval);
    if (!StartRawshark(view, settings)) {
        ErrorSet(err, "RawsharkMngrListEdit() error");
        return 0;
    }
    if (!CaptureStartThread(&settings->capture)) {
        ErrorSet(err, "CaptureStartThread() error");
        return 0;
    }
    return 1;
}

void LiveWndTeardown() {
    CapturePacketHandlerControl(0);
    CaptureStopThread();
    RawsharkMngrListClear();  // no packet can reach the manager any more
    TotalCounterFree();
    DfilterStopChildProcess();
    CaptureFileStop();  // an open dump file is closed properly
}
