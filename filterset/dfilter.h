// dfilter.h - the display-filter check: one long-lived checker process
// ("dravik", in the program folder) asked about one filter text at a time.
//
// Request: the filter text and a line feed. Answer: somewhere in the
// checker's output, the verdict digit ("1" valid, "0" invalid) followed by
// ="TEXT". All three operations run on the UI thread, one at a time.
#pragma once

// Starts the checker from the program folder, with " -p \"libraryPath\"" when
// libraryPath is non-empty. No result: when it cannot start, every check
// returns 0.
void DfilterStartChildProcess(const char* libraryPath);

// Stops the checker; harmless when none runs.
void DfilterStopChildProcess();

// Asks the checker about filterText (non-empty, at most 255 characters, no
// line break). Returns 1 with *verdict 1 (valid) or 0 (invalid), or 0 when
// there is no answer (no checker, a failed exchange, or none within 2 s;
// the checker is then stopped).
int DfilterDravik(const char* filterText, int* verdict);
