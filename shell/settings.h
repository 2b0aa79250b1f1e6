// SPDX-License-Identifier: GPL-2.0-or-later
// settings.h - the one settings record of a grapher and its ini file.
//
// lumo keeps "lumo.ini" (section "Lumo"), lumo_offline keeps
// "lumo_offline.ini" (section "Lumo_offline", a subset of the keys), both in
// the data folder. Every key, default and conversion sits in one table in
// settings.cpp.
#pragma once

#include <cstdint>

#include "capture/captureblock.h"
#include "graph/graphstyle.h"
#include "pipeline/rawsharkblock.h"
#include "platform/platform.h"

struct Settings {
    int32_t binCount;          // no key; 65536, set by SettingsLoad
    int32_t topmost;           // "topmost", 0
    uint32_t backColor;        // "back_color", 0x000000
    uint32_t lineColor;        // "line_color", 0x0000a0
    uint32_t charColor;        // "char_color", 0xa0a0ff
    int64_t samplingInterval;  // "sampling_interval", microseconds, 50000
    int32_t drawInterval;      // "draw_interval", ms, 20 (lumo only)
    int32_t positionX;         // "position_x", 0
    int32_t positionY;         // "position_y", 0
    int32_t sizeX;             // "size_x", 0
    int32_t sizeY;             // "size_y", 0
    CaptureBlock capture;      // lumo only
    RawsharkBlock rawshark;
    int32_t timeOfDay;      // "time_of_day", 0; 1: the time axis shows local clock time
    int32_t logScale;       // "log_scale", 0; 1: traces on a logarithmic axis
    int32_t movingAverage;  // "moving_average", 0; N > 1: each trace the mean of its last N intervals
};

// Which program's file, section and keys.
enum SettingsProgram { SettingsLumo = 0, SettingsLumoOffline = 1 };

// Full path of the program's ini file in the data folder. Returns 1, or 0
// when it does not fit.
int SettingsFilePath(SettingsProgram program, char* out, size_t size);

// Fills the record from the file (defaults for what is missing), sets
// DebugLogEnabled from "debug_mode" and runs the rawshark search. Always
// returns 1. UI thread, before any window exists.
int SettingsLoad(Settings* settings, SettingsProgram program);

// Writes every key of the program in the order of the key table in
// settings.cpp (the data folder is created when missing). Write failures are
// ignored; always returns 1.
int SettingsSave(const Settings* settings, SettingsProgram program);

// A monitor rectangle: left, top inclusive; right, bottom exclusive.
struct MonitorRect {
    int32_t left, top, right, bottom;
};

// Non-zero when the rectangle (x, y, width, height) overlaps at least one of
// the count monitors.
int IsRectOnAnyMonitor(int x, int y, int width, int height, const MonitorRect* monitors, int count);

// How the renderer draws, from the settings: colours and the "time_of_day"
// switch. Any thread.
GraphStyle SettingsGraphStyle(const Settings* settings);
