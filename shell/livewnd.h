// SPDX-License-Identifier: GPL-2.0-or-later
// livewnd.h - the live grapher's pipeline as its main window drives it: the
// start-up steps of window creation, the two restarts after a change, and
// the teardown at destruction, each in its fixed order. The Qt window
// (lumowindow_qt.h) adds the menu, timer, surface and message boxes around
// these calls; each call that can fail returns 0 with the text of the box to
// show in err (kErrorLen bytes; caption "Lumo", error icon). UI thread.
//
// Order rule: packets stop flowing (handler switch off, or the capture thread
// stopped) before the rawshark processes are released and the counters
// reset, and flow again only after the new processes run.
#pragma once

#include "capture/interfaceinfo.h"
#include "platform/error.h"
#include "shell/mainwnd.h"
#include "shell/settings.h"

// The interfaces listed at window creation (at most 16), for the Capture
// Options dialog, which does not list them again.
const InterfaceInfo* LiveWndInterfaces(int* count);

// Creation steps 3 and 4: sampling interval into the packet ring, then the
// total counter's bins. Returns 1, or 0 with err "malloc() error".
int LiveWndInitCounters(const Settings* settings, char* err);

// Creation steps 7 to 13: start-up filter set, interface list and choice
// (its fields copied into settings), display state reset, rawshark processes,
// packet handler on, capture thread. Returns 1, or 0 with err one of
// "pcap_findalldevs() error", "Network Interface is not found.",
// "RawsharkMngrListEdit() error", "CaptureStartThread() error" (the
// processes and the counter are released on the last two).
// *startupLoaded tells whether the start-up filter set was loaded.
int LiveWndStartPipeline(MainWndView* view, Settings* settings, int* startupLoaded, char* err);

// The filter restart after the applied set changed: handler off, processes
// released, ring reset, processes for the set started, handler on. Returns 1,
// or 0 with err "RawsharkMngrListEdit() error" (handler stays off; the
// caller closes the window).
int LiveWndFilterRestart(MainWndView* view, const Settings* settings, char* err);

// The full restart after Configuration: display state reset, capture thread
// stopped, processes released, ring reset with the (new) sampling interval,
// processes started, capture thread started. The handler switch is left as
// it was. Returns 1, or 0 with err "RawsharkMngrListEdit() error" or
// "CaptureStartThread() error" (the caller closes the window).
int LiveWndFullRestart(MainWndView* view, const Settings* settings, char* err);

// Destruction steps 3 to 9 (after the start-up filter set is saved and the
// surface released): handler off, capture thread stopped, processes
// released, total counter freed, checker stopped, dump file closed. Also the
// cleanup of a failed creation; harmless for what never started.
void LiveWndTeardown();
