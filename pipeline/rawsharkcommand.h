// SPDX-License-Identifier: GPL-2.0-or-later
// rawsharkcommand.h - the command lines of the judging processes: one
// rawshark per filter, or one lumo_judge for every filter, each with the
// options of the "preferences" file in the data folder.
//
// A command is built twice over: as the text the log shows, with the filter
// in double quotes, and as the argument vector that is actually started (no
// shell in between, so a filter's quotes, blanks and '$' reach the process
// unchanged). Pure text work apart from reading the preferences file; any
// thread, one command record per caller.
#pragma once

#include "filterset/filterset.h"
#include "pipeline/rawsharkblock.h"

constexpr int kRawsharkCommandSize = 65536;  // bytes of the text, and of the argument texts
constexpr int kRawsharkMaxArgs = 8192;       // arguments, the program included

// One command: the text for the log and the argument vector to start.
struct RawsharkCommand {
    char text[kRawsharkCommandSize];
    char store[kRawsharkCommandSize];        // the argument texts, each NUL-terminated
    const char* argv[kRawsharkMaxArgs + 1];  // argc pointers into store, then nullptr
    int argc;
    int used;  // bytes of store in use
};

// Builds the rawshark command of one filter: text
//   PATH -d encap:N -l -r - -n [-N LETTERS] [-R "FILTER"] (ending in a blank)
// and argv PATH, -d, encap:N, -l, -r, -, -n, [-N, LETTERS], [-R, FILTER].
// LETTERS are m, n, t for the MAC, network and transport switches ("C" is
// never passed: rawshark 4.0 rejects it); with no letter "-N" is left out.
// The preferences are not read here (RawsharkCommandAppendPreferences).
// Returns 1, or 0 when it does not fit.
int RawsharkCommandBuild(const RawsharkBlock* rawshark, int linkType, const char* filterText, RawsharkCommand* command);

// Builds the lumo_judge command of a one-pass list: text
//   JUDGE -d encap:N -n [-N LETTERS] [-o "PREF"]... -R "F1" [-F "FIELD"] ...
// (the preferences read from the data folder; one -R per filter of
// entries[0..count) that needs a judge (FilterNeedsJudge), in order, with
// -F and its field after it when it has a calculation) and argv to match. Returns 1, or 0 when it
// does not fit.
int RawsharkCommandBuildJudge(const RawsharkBlock* rawshark, const char* judgePath, int linkType, int count,
                              const FilterEntry* entries, RawsharkCommand* command);

// The same for a lumo_judge that reads the capture file itself: text
//   JUDGE -r "CAPTURE" -n [-N LETTERS] [-o "PREF"]... -R "F1" -R "F2" ...
// and argv to match (the path as it is, quotes and all).
int RawsharkCommandBuildFileJudge(const RawsharkBlock* rawshark, const char* judgePath, const char* capturePath,
                                  int count, const FilterEntry* entries, RawsharkCommand* command);

// One of several judges: part 0 appends "-j" (a stream of numbered records),
// part I of parts N appends "-J I/N" (a file). 0 when it does not fit.
int RawsharkCommandAppendJudgePart(RawsharkCommand* command, int part, int parts);

// Treats one line of the preferences file (cut at CR, LF, "#"; control and
// non-ASCII bytes blanked; trimmed): a line with a colon and no double quote
// appends " -o \"LINE\" " to the text and -o, LINE to argv. Returns 1 when
// appended, 0 when skipped, -1 when it does not fit (nothing appended).
int RawsharkCommandAppendPreferenceLine(RawsharkCommand* command, const char* line);

// Appends every usable line of the "preferences" file in the data folder,
// read in pieces of at most 255 characters; once one does not fit, the rest
// of the file is left out. Returns the number appended (0 also when there is
// no such file).
int RawsharkCommandAppendPreferences(RawsharkCommand* command);
