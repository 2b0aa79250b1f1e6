// SPDX-License-Identifier: GPL-2.0-or-later
// debuglog.cpp - the debug log: one lock, one shared line buffer, one
// append per line to "debuglog.txt" in the current directory.
#include "shell/debuglog.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <sys/time.h>

std::atomic<int32_t> DebugLogEnabled{0};

// The lock is a plain mutex that needs no run-time initialisation, so a line
// logged before DebugLogInit (a static constructor elsewhere) is still safe.
static std::mutex DebugLogLock;
static char DebugLogLine[4096];

void DebugLogInit() {
    // Nothing to create: the lock is constant-initialised. The call stays the
    // entry's first, where a program's start-up begins.
}

void DebugLog(const char* format, ...) {
    if (DebugLogEnabled.load(std::memory_order_relaxed) == 0) return;

    std::lock_guard<std::mutex> hold(DebugLogLock);
    va_list args;
    va_start(args, format);
    vsnprintf(DebugLogLine, sizeof DebugLogLine, format, args);
    va_end(args);

    timeval now;
    gettimeofday(&now, nullptr);
    tm local;
    time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);

    FILE* file = fopen("debuglog.txt", "a");
    if (!file) return;  // the line is lost; nothing is reported
    fprintf(file, "%02d:%02d:%02d.%03d,%s\n", local.tm_hour, local.tm_min, local.tm_sec,
            static_cast<int>(now.tv_usec / 1000), DebugLogLine);
    fclose(file);
}
