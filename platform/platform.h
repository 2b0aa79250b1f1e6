// SPDX-License-Identifier: GPL-2.0-or-later
// platform.h - the kernel services the programs stand on, mapped onto POSIX.
//
//   performance counter   CLOCK_MONOTONIC in nanoseconds behind one
//                         replaceable function, so tests drive the clock
//   folders               program folder (/proc/self/exe), data folder
//                         (LUMO_HOME, else the program folder when writable,
//                         else $XDG_CONFIG_HOME/lumo)
//   files                 existence test, whole-or-nothing replacement
//   local time            calendar time and UTC offset of an instant
//   rawshark search       configured path, else PATH, else /usr/bin/rawshark
//
// Wrappers never print and never throw; they return 1/0 (or a value) and the
// caller logs. A file operation that fails hands the system's reason to its
// caller in err (kErrorLen bytes, platform/error.h; nullptr allowed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Longest path a path buffer holds, terminating NUL included (PATH_MAX).
constexpr int kPathMax = 4096;

// ---------------------------------------------------------------- clock

// Current performance-counter reading (nanoseconds of CLOCK_MONOTONIC unless
// a test clock is set). Any thread.
int64_t PerfCounter();

// Counter frequency in ticks per second: 1000000000. Any thread.
int64_t PerfFrequency();

// Replaces the clock behind PerfCounter; nullptr restores the real one.
// Tests only; call while no other thread reads the clock.
using PerfClockFn = int64_t (*)();
void PerfSetClock(PerfClockFn clock);

// ---------------------------------------------------------------- folders

// Folder of the running executable, without a trailing '/'. Valid for the
// life of the process. Any thread.
const char* ProgramFolder();

// Makes ProgramFolder return `folder` (nullptr: the real one again).
// Tests only, before other threads look at it.
void PlatformSetProgramFolder(const char* folder);

// Folder that holds the per-user files (ini, start-up filter sets,
// histories, rawshark "preferences"): $LUMO_HOME when set; else the program
// folder when it is writable; else $XDG_CONFIG_HOME/lumo (default
// ~/.config/lumo). Writes it without a trailing '/' into out; returns 1, or 0
// when it does not fit.
int DataFolder(char* out, size_t size);

// The files of the data folder, one name each.
constexpr char kStartupFilterSetFile[] = "startupfilterset.fs";                 // lumo's filter set at start
constexpr char kStartupFilterSetOfflineFile[] = "startupfilterset_offline.fs";  // lumo_offline's
constexpr char kDisplayFilterHistoryFile[] = "displayfilter";                   // Filter Configuration history
constexpr char kCaptureFilterHistoryFile[] = "capturefilter";                   // Capture Options history
constexpr char kPreferencesFile[] = "preferences";                              // preferences for the judges

// out = DataFolder + "/" + name. Returns 1, or 0 when it does not fit.
int DataFilePath(const char* name, char* out, size_t size);

// out = ProgramFolder + "/" + name. Returns 1, or 0 when it does not fit.
int ProgramFilePath(const char* name, char* out, size_t size);

// Creates the data folder (and its parents) when it is missing, so that a
// first write can land. Returns 1 when the folder exists afterwards.
int DataFolderCreate();

// ---------------------------------------------------------------- files

// 1 when path names an existing regular file (symbolic links followed).
int FileExists(const char* path);

// Replaces the file at path with data[0..length) so that a reader sees either
// the old file or the whole new one, never a part: written to a new file
// beside it (keeping the old file's permissions), flushed, then renamed over
// it; a symbolic link is followed, not replaced. When no file can be created
// beside it (a folder without write permission), the file itself is
// rewritten in place. Returns 1, or 0 when the data could not be written in
// full (the old file is then left as it was, except on the in-place path),
// with the system's reason in err ("No space left on device"; "" when the
// system gave none, as for an empty path).
int FileWriteAtomic(const char* path, const void* data, size_t length, char* err);

// A replacement of a file written piece by piece, for output too large to
// hold in memory first. Same rules as FileWriteAtomic.
struct AtomicFile {
    FILE* stream;           // where the caller writes; null when FileAtomicOpen failed
    char temp[kPathMax];    // the new file beside the target; "" when written in place
    char target[kPathMax];  // the file replaced (a symbolic link's target)
};

// Opens the new file beside path (or path itself when no file can be created
// beside it, or when it is a device or a pipe such as /dev/null, which cannot
// be replaced; a folder is refused). Returns the stream to write, or null (nothing was created) with
// the system's reason in err as for FileWriteAtomic.
FILE* FileAtomicOpen(AtomicFile* file, const char* path, char* err);

// Ends the replacement and closes the stream. keep 1: flushes and syncs the
// new file and renames it over the target; returns 1 only when every write
// and the rename succeeded (the new file is removed otherwise, the old one
// left as it was; the system's reason in err). keep 0: the new file is
// removed; returns 0 and leaves err alone.
int FileAtomicClose(AtomicFile* file, int keep, char* err);

// ---------------------------------------------------------------- local time

// One instant as the local calendar shows it.
struct LocalTime {
    int32_t year, month, day;      // month 1..12, day 1..31
    int32_t hour, minute, second;  // 0..23, 0..59, 0..60
    int32_t micro;                 // 0..999999
    int32_t utcOffset;             // seconds east of UTC at that instant (daylight saving included)
};

// The local time (zone of TZ, else the system's) of epochMicros, microseconds
// since 1970-01-01 UTC. Returns 1, or 0 when the system cannot convert it
// (out is then zeroed). Any thread.
int LocalTimeOf(int64_t epochMicros, LocalTime* out);

// ---------------------------------------------------------------- rawshark

// The rawshark search: `path` (in/out, size bytes) is kept when it names an
// existing file whose base name is "rawshark"; otherwise it becomes the first
// executable "rawshark" on PATH, then /usr/bin/rawshark when that exists,
// else the empty text. Returns 1 when path is non-empty afterwards.
int PlatformFindRawshark(char* path, size_t size);
