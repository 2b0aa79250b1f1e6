// SPDX-License-Identifier: GPL-2.0-or-later
// graphstyle.h - how the renderer draws a frame, apart from what it shows:
// the colours and the axis's clock. The windows fill it from their settings
// (SettingsGraphStyle); the renderer knows nothing of the settings.
#pragma once

#include <cstdint>

struct GraphStyle {
    uint32_t backColor;     // background, 0x00RRGGBB
    uint32_t lineColor;     // grid rows and labelled columns
    uint32_t charColor;     // axis labels and the readout's frame
    uint32_t warnColor;     // the legend's notice of packets the capture missed
    int32_t timeOfDay;      // 1: axis labels name clock times, 0: time since the first packet
    int32_t logScale;       // 1: values on a logarithmic axis (zero and no value on the bottom row)
    int32_t movingAverage;  // N > 1: every trace drawn as the mean of its last N intervals
};
