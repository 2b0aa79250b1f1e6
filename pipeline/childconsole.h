// SPDX-License-Identifier: GPL-2.0-or-later
// childconsole.h - an outside tool run as a child process with its standard
// input on one pipe and its standard output and error joined on another.
//
// The child is started without a shell from an argument vector, in its own
// session, with only its three standard descriptors open. Every pipe end the
// parent keeps is close-on-exec, so no child holds another child's pipe.
//
// A descriptor another thread may be blocked on is never closed under it:
// an owner with a reader thread calls ChildConsoleKill, waits for the reader
// to see end of file and end, then ChildConsoleRelease.
#pragma once

#include <sys/types.h>

#include "platform/error.h"

struct ChildConsole {
    pid_t process;   // the child, 0 when there is none
    int input;       // parent's write end of the child's stdin; 0 when none
    int output;      // parent's read end of the child's stdout+stderr; 0 when none
    int reserved;    // always 0 after ChildConsoleNew; closed by release if set
    int reaped;      // 1 once the child has been waited for (its pid is gone)
    int exitStatus;  // waitpid status once reaped
};

// Splits commandLine into arguments (blanks separate, double quotes group and
// are removed, nothing else is special) and starts the first argument as the
// program (looked up on PATH when it holds no '/'). console is zeroed on
// entry. Returns 1 with process, input and output set, or 0 with the record
// all zero, nothing left open and the system's reason in err ("No such file
// or directory", "Permission denied", ...). UI thread (or the offline reader
// thread).
int ChildConsoleNew(const char* commandLine, ChildConsole* console, char* err);

// The same with the arguments given (argv[0] the program, nullptr-terminated);
// commandLine is used only for the log lines.
int ChildConsoleNewArgv(const char* commandLine, const char* const* argv, ChildConsole* console, char* err);

// Kills the child (SIGKILL) and reaps it, leaving the pipes open: a thread
// blocked reading output then sees end of file. Returns 1 when there was no
// child or it is dead and reaped, 0 when the kill failed.
int ChildConsoleKill(ChildConsole* console);

// Sends SIGKILL to the child and its process group without reaping it, so
// that its pid stays its own until the owner's ChildConsoleKill or Release.
// Any thread (the packet source stops a child that takes nothing).
void ChildConsoleTerminate(const ChildConsole* console);

// Waits up to waitMs for the child to end without reaping it (the owner
// still does) and fills *status with its wait status. Returns 1, or 0 when
// it has not ended in time or was reaped already. The child's reader thread,
// after its end of file.
int ChildConsoleEndStatus(const ChildConsole* console, int waitMs, int* status);

// Non-zero when the child has ended by itself (reaps it without blocking).
int ChildConsoleExited(ChildConsole* console);

// Kills and reaps the child if still there, closes every non-zero
// descriptor and zeroes the record. Returns 1 when there was no child or it
// was terminated, 0 when termination failed. Harmless on an all-zero record.
int ChildConsoleRelease(ChildConsole* console);
