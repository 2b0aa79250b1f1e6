// SPDX-License-Identifier: GPL-2.0-or-later
// headless.h - lumo without a window: the live grapher's capture and
// judging, its rows written as CSV one finished interval at a time, and its
// counters served to Prometheus.
//
//   lumo --headless [--interface NAME] [--filter-set FILE.fs]
//                   [--interval MICROSECONDS] [--capture-filter TEXT]
//                   [--csv FILE|-] [--metrics [ADDRESS:]PORT]
//                   [--duration SECONDS]
//
// What is not given comes from lumo.ini and the start-up filter set;
// nothing is saved. Every start-up fault (bad option, unknown interface, no
// right to capture, a filter set that is missing or empty, a capture filter
// that does not compile, a port in use) is one line on standard error and
// exit 1 before anything is captured or written. SIGINT and SIGTERM end it
// cleanly: the last finished interval written, every child gone, exit 0.
// Main thread only.
#pragma once

#include <cstdint>

#include "platform/error.h"
#include "platform/platform.h"

struct HeadlessArgs {
    int help;
    char iface[256];           // --interface, "" when not given
    char filterSet[kPathMax];  // --filter-set
    int64_t interval;          // --interval, 0 when not given
    int captureFilterGiven;
    char captureFilter[256];   // --capture-filter
    char csvPath[kPathMax];    // --csv, "-" for standard output
    char metricsAddress[128];  // --metrics address, "" for 127.0.0.1
    int metricsPort;           // 0: no metrics
    int64_t duration;          // --duration seconds, 0: until a signal
};

// 1 when argv asks for the headless program (an argument "--headless").
int HeadlessWanted(int argc, char** argv);

// Parses argv[1..argc-1] ("--headless" among them). Returns 1, or 0 with a
// one-line reason in err.
int HeadlessArgsParse(int argc, char** argv, HeadlessArgs* args, char* err);

// The --help text.
const char* HeadlessUsageText();

// Runs the headless program to its end. Returns the exit code: 0 after a
// signal or the duration, 1 on a start-up fault (its line on stderr).
int HeadlessRun(const HeadlessArgs* args);
