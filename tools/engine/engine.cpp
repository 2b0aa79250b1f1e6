// SPDX-License-Identifier: GPL-2.0-or-later
// engine.cpp - the engine start-up shared by dravik and lumo_judge, and the
// routing of the library's messages.
#include "tools/engine/engine.h"

#include <cstdarg>
#include <cstdio>

#include <glib.h>

#include <epan/epan.h>
#include <epan/prefs.h>
#include <wiretap/wtap.h>
#include <wsutil/filesystem.h>
#include <wsutil/privileges.h>
#include <wsutil/report_message.h>
#include <wsutil/wslog.h>

namespace {

struct EngineRecord {
    const char* program;  // the prefix of every note
    bool quiet;
};

EngineRecord Engine = {"engine", false};

void Diagnostic(const char* format, va_list args) {
    if (Engine.quiet) return;
    fprintf(stderr, "%s: ", Engine.program);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
}

void LogWriter(const char*, enum ws_log_level, struct timespec, const char*, long, const char*, const char* format,
               va_list args, void*) {
    Diagnostic(format, args);
}

void ReportOpenFailure(const char* name, int err, gboolean forWriting) {
    EngineNote("cannot open \"%s\" for %s: %s", name, forWriting ? "writing" : "reading", g_strerror(err));
}

void ReportReadFailure(const char* name, int err) { EngineNote("cannot read \"%s\": %s", name, g_strerror(err)); }

void ReportWriteFailure(const char* name, int err) { EngineNote("cannot write \"%s\": %s", name, g_strerror(err)); }

void ReportCfileOpen(const char* name, int err, gchar*) { ReportOpenFailure(name, err, FALSE); }
void ReportCfileDumpOpen(const char* name, int err, gchar*, int) { ReportOpenFailure(name, err, TRUE); }
void ReportCfileRead(const char* name, int err, gchar*) { ReportReadFailure(name, err); }
void ReportCfileWrite(const char*, const char* name, int err, gchar*, guint32, int) { ReportWriteFailure(name, err); }
void ReportCfileClose(const char* name, int err, gchar*) { ReportWriteFailure(name, err); }

const report_message_routines ReportRoutines = {
    Diagnostic,      Diagnostic,          ReportOpenFailure, ReportReadFailure, ReportWriteFailure,
    ReportCfileOpen, ReportCfileDumpOpen, ReportCfileRead,   ReportCfileWrite,  ReportCfileClose,
};

}  // namespace

void EngineNote(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Diagnostic(format, args);
    va_end(args);
}

void EngineQuiet() {
    fflush(stderr);
    Engine.quiet = true;
}

// Plugins are loaded as tshark loads them: some protocols (opcua,
// profinet, ...) live in epan plugins, and some file formats (usbdump) in
// wiretap plugins, which the judge's file reading needs.
int EngineStart(const char* program, const char* argv0) {
    Engine.program = program;
    ws_log_init_with_writer(program, LogWriter, Diagnostic);
    init_report_message(program, &ReportRoutines);
    init_process_policies();
    char* failure = configuration_init(argv0, nullptr);
    if (failure) {
        // Only the data-file folders may be wrong; the engine still starts.
        EngineNote("cannot find the program folder: %s", failure);
        g_free(failure);
    }
    wtap_init(TRUE);
    if (!epan_init(nullptr, nullptr, TRUE)) {
        EngineNote("epan_init() failed");
        return 0;
    }
    epan_load_settings();
    return 1;
}
