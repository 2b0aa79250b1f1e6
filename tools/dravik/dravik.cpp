// SPDX-License-Identifier: GPL-2.0-or-later
// dravik - the display-filter checker of the graphers.
//
//   dravik [-p PATH]
//
// Initialises Wireshark's dissection engine once (protocols, epan plugins,
// preferences, as rawshark does, so that a filter rawshark accepts is
// accepted here), then reads one display filter per line on standard input
// and answers each line with exactly one line on standard output, flushed at
// once:
//
//     1="TEXT"     the filter compiles
//     0="TEXT"     it does not
//
// TEXT is the line exactly as received (double quotes, non-UTF-8 bytes and
// NUL bytes included), without its LF and without one CR before the LF. The
// requester finds its answer by looking for ="TEXT" after the digit, so the
// echo must never be altered.
//
// A line "#FIELD" ('#' begins no display filter) asks about a field for a
// calculation: 1 when FIELD names a field whose values are numbers
// (integers, floating point) or time intervals, 0 otherwise (no such field,
// or one of another type: text, addresses, protocols).
//
// Lines that hold no filter to check are still answered, so that answers
// stay one per line and in request order:
//   - an empty or all-blank line is answered 0 (there is no filter in it);
//   - a line with a NUL byte is answered 0 (no filter contains one);
//   - a line longer than kMaxFilterLine bytes is answered 0 without being
//     compiled; its echo is streamed, so no line length can exhaust memory.
// A last line without LF is answered too; then dravik exits with 0.
//
// -p PATH names the Wireshark library the requester found beside its
// rawshark; dravik is linked against libwireshark at build time and ignores
// it. Bad usage and a failed start-up print one diagnostic line each on
// standard error and exit with 1. Messages of the library go to standard
// error during start-up only: once answering starts they are dropped,
// because standard error shares the requester's pipe with the answers and
// stray text there could crowd an answer out of its read buffer.

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include <glib.h>

#include <epan/dfilter/dfilter.h>
#include <epan/proto.h>

#include "tools/engine/engine.h"

// Longest line that is compiled. Far beyond any real filter (the graphers
// send at most 255 characters) and small enough that the filter compiler's
// recursion stays well inside the stack.
constexpr size_t kMaxFilterLine = 65536;

// ---------------------------------------------------------------- answers

// 1 when name is a field whose values a calculation can sum.
static int NumericField(const std::string& name) {
    header_field_info* hfi = name.empty() ? nullptr : proto_registrar_get_byname(name.c_str());
    if (!hfi) return 0;
    ftenum_t type = hfi->type;
    return IS_FT_INT(type) || IS_FT_UINT(type) || type == FT_FLOAT || type == FT_DOUBLE || type == FT_RELATIVE_TIME;
}

static int Verdict(const std::string& line) {
    if (line.find('\0') != std::string::npos) return 0;
    if (!line.empty() && line[0] == '#') return NumericField(line.substr(1));
    dfilter_t* filter = nullptr;
    gchar* error = nullptr;
    gboolean compiled = dfilter_compile(line.c_str(), &filter, &error);
    g_free(error);
    // A null filter (empty or blank text) compiles but checks nothing.
    int valid = compiled && filter != nullptr;
    if (filter) dfilter_free(filter);
    return valid;
}

// Writes `0="` + kept, then copies the rest of the overlong line from stdin
// up to its LF (a CR just before it dropped), then `"` LF.
static void AnswerOverlong(const std::string& kept, int first) {
    fputs("0=\"", stdout);
    fwrite(kept.data(), 1, kept.size(), stdout);
    bool pendingCr = false;
    for (int c = first; c != EOF && c != '\n'; c = getc_unlocked(stdin)) {
        if (pendingCr) putc_unlocked('\r', stdout);
        pendingCr = (c == '\r');
        if (!pendingCr) putc_unlocked(c, stdout);
    }
    fputs("\"\n", stdout);
}

static void Answer(int verdict, const std::string& line) {
    putc_unlocked(verdict ? '1' : '0', stdout);
    fputs("=\"", stdout);
    fwrite(line.data(), 1, line.size(), stdout);
    fputs("\"\n", stdout);
}

// Answers every line of stdin. Returns 0 at end of input, 1 when an answer
// cannot be written (the requester is gone).
static int AnswerLines() {
    std::string line;
    for (;;) {
        line.clear();
        int c;
        bool any = false, overlong = false;
        while ((c = getc_unlocked(stdin)) != EOF && c != '\n') {
            any = true;
            if (line.size() == kMaxFilterLine) {
                AnswerOverlong(line, c);
                overlong = true;
                break;
            }
            line.push_back(static_cast<char>(c));
        }
        if (!any && c == EOF) return 0;
        if (!overlong) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            Answer(Verdict(line), line);
        }
        if (fflush(stdout) != 0 || ferror(stdout)) return 1;
        if (c == EOF) return 0;
    }
}

int main(int argc, char** argv) {
    int option;
    opterr = 0;
    while ((option = getopt(argc, argv, "p:")) != -1) {
        if (option != 'p') {
            fprintf(stderr, "dravik: unknown option or missing value; usage: dravik [-p PATH]\n");
            return 1;
        }
        // The library path is only a hint; this build is linked at build time.
    }
    if (optind != argc) {
        fprintf(stderr, "dravik: unexpected argument \"%s\"; usage: dravik [-p PATH]\n", argv[optind]);
        return 1;
    }
    if (!EngineStart("dravik", argv[0])) return 1;
    EngineQuiet();
    // The engine is not torn down at the end: the process ends right after,
    // and a teardown would only delay the exit of a checker being replaced.
    return AnswerLines();
}
