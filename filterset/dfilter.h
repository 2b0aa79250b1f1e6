// SPDX-License-Identifier: GPL-2.0-or-later
// dfilter.h - the display-filter check: one long-lived checker process
// ("dravik", in the program folder) asked about one filter text at a time.
//
// Request: the filter text and a line feed, in one write. Answer: somewhere
// in the checker's output (standard output and error share one pipe), the
// verdict digit ("1" valid, "0" invalid) directly followed by ="TEXT". The
// reply is gathered in a 272-byte exchange buffer; a checker that fills it
// without answering, ends, or neither answers nor ends within
// kDfilterWaitMs is stopped for good, and every later check returns 0.
//
// All operations run on the UI thread, one at a time; the checker record is
// process-wide and owned by this module.
#pragma once

#include <sys/types.h>

// Longest filter text a check accepts (the dialogs' filter buffer less its NUL).
constexpr int kDfilterTextMax = 255;

// Longest wait for one answer, in milliseconds, before the checker counts as
// hung.
constexpr int kDfilterWaitMs = 2000;

// Starts the checker "dravik" from the program folder, with the arguments
// -p "libraryPath" when libraryPath is non-empty (nullptr allowed). No
// result: when it cannot start (missing, not executable), every check
// returns 0. A checker already running is stopped first. UI thread.
void DfilterStartChildProcess(const char* libraryPath);

// Stops the checker (kill, reap, close its pipes); harmless when none runs.
// UI thread.
void DfilterStopChildProcess();

// Asks the checker about filterText (at most kDfilterTextMax characters, no
// line break, already trimmed by the caller). Returns 1 with *verdict 1
// (valid) or 0 (invalid); returns 0 with *verdict untouched when there is no
// answer: no checker (at once, nothing logged), a text that breaks the rules
// above (at once, logged, the checker keeps running), or a failed exchange
// (logged; the checker is stopped). Blocks at most about kDfilterWaitMs.
// UI thread.
int DfilterDravik(const char* filterText, int* verdict);

// The running checker's process id, 0 when none runs. For tests.
pid_t DfilterCheckerProcess();
