// SPDX-License-Identifier: GPL-2.0-or-later
// captureblock.h - the capture block of the settings: what the capture
// thread receives as a whole. Settings holds it (shell/settings.h); the
// settings table names its keys.
#pragma once

#include <cstdint>

#include "capture/interfaceinfo.h"

// What the capture thread receives as a whole: the chosen interface, then the
// capture options. Field order is fixed.
struct CaptureBlock {
    InterfaceInfo iface;       // "nic_name" is iface.name; the rest is filled at start
    int32_t promiscuousMode;   // "promiscuous_mode", default 1
    int32_t enableLimitBytes;  // "enable_limit_bytes", default 0
    int32_t limitBytes;        // "limit_bytes", default 128
    int32_t timeout;           // "timeout", read time-out in ms, default 10
    char captureFilter[256];   // "capture_filter", default ""
};
