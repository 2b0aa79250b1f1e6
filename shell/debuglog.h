// SPDX-License-Identifier: GPL-2.0-or-later
// debuglog.h - the optional plain-text trace of both graphers.
//
// Every call passes the source file and line first and begins its format with
// "%s(%d),", then the operation with parentheses, "info" or "err", then
// detail:
//     DEBUG_LOG("CaptureStartThread() info");
// Each line lands in "debuglog.txt" in the current directory, prefixed with
// the local time "%02d:%02d:%02d.%03d,". The file is opened and closed per
// line, so it survives a crash and may be deleted while the program runs.
#pragma once

#include <atomic>
#include <cstdint>

// Non-zero while logging is on. Set once by SettingsLoad from "debug_mode"
// before any window exists; nothing else changes it.
extern std::atomic<int32_t> DebugLogEnabled;

// The very first call of each program entry. The lock needs no run-time
// set-up (it is constant-initialised, so a line logged even before this call
// is safe); the call marks where a program's start-up begins.
void DebugLogInit();

// printf-style trace line. Costs one flag test when logging is off. Any
// thread; lines of different threads never interleave. A message longer than
// the 4096-byte line buffer is cut.
void DebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// DebugLog with the calling file and line as the "%s(%d)," prefix.
#define DEBUG_LOG(format, ...) DebugLog("%s(%d)," format, __FILE__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
