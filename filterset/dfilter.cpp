// SPDX-License-Identifier: GPL-2.0-or-later
// dfilter.cpp - the checker process and the question-and-answer exchange
// with it.
#include "filterset/dfilter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "pipeline/childconsole.h"
#include "platform/platform.h"
#include "shell/debuglog.h"

// The request (text and LF) and then the reply (up to 271 characters and a
// NUL) share this buffer.
constexpr size_t kExchangeSize = 272;

static ChildConsole DfilterConsole;

// ---------------------------------------------------------------- start, stop

void DfilterStartChildProcess(const char* libraryPath) {
    char program[kPathMax];
    if (!ProgramFilePath("dravik", program, sizeof program)) return;
    bool withLibrary = libraryPath && libraryPath[0];

    // The command line is what the log shows; the checker is started from an
    // argument vector, so a blank in the program folder or a quote in the
    // library path cannot split or shift its arguments.
    char commandLine[2 * kPathMax + 8];
    int length = withLibrary ? snprintf(commandLine, sizeof commandLine, "%s -p \"%s\"", program, libraryPath)
                             : snprintf(commandLine, sizeof commandLine, "%s", program);
    if (length < 0 || static_cast<size_t>(length) >= sizeof commandLine) {
        DEBUG_LOG("DfilterStartChildProcess() err,errno=%d", ENAMETOOLONG);
        return;
    }
    if (DfilterConsole.process != 0) DfilterStopChildProcess();

    DEBUG_LOG("DfilterStartChildProcess() info");
    const char* withArgs[] = {program, "-p", libraryPath, nullptr};
    const char* alone[] = {program, nullptr};
    if (!ChildConsoleNewArgv(commandLine, withLibrary ? withArgs : alone, &DfilterConsole, nullptr)) return;

    // Writes never block: a checker that stops reading its input must not
    // hold the dialog beyond the wait bound. A request is far below PIPE_BUF,
    // so it still goes out whole or not at all.
    int flags = fcntl(DfilterConsole.input, F_GETFL);
    if (flags < 0 || fcntl(DfilterConsole.input, F_SETFL, flags | O_NONBLOCK) != 0) {
        DEBUG_LOG("fcntl() err,errno=%d", errno);
    }
}

void DfilterStopChildProcess() {
    DEBUG_LOG("DfilterStopChildProcess() info");
    ChildConsoleRelease(&DfilterConsole);
}

pid_t DfilterCheckerProcess() { return DfilterConsole.process; }

// ---------------------------------------------------------------- exchange

// The bound is real time even when a test has replaced the performance
// counter with a fake clock.
static int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits until fd is ready for `events` or the deadline passes. Returns 1
// when ready (or the pipe's other end is gone: the next call reports it), 0
// with *error set.
static int WaitReady(int fd, short events, int64_t deadline, int* error) {
    for (;;) {
        int64_t left = deadline - NowMs();
        if (left < 0) left = 0;
        pollfd p = {fd, events, 0};
        int n = poll(&p, 1, static_cast<int>(left));
        if (n > 0) return 1;
        if (n == 0) {
            *error = ETIMEDOUT;
            return 0;
        }
        if (errno != EINTR) {
            *error = errno;
            return 0;
        }
    }
}

// One write of exactly `size` bytes. Returns 1, or 0 with *error set.
static int WriteRequest(const char* request, size_t size, int64_t deadline, int* error) {
    for (;;) {
        ssize_t n = write(DfilterConsole.input, request, size);
        if (n == static_cast<ssize_t>(size)) return 1;
        if (n >= 0) {  // cannot happen below PIPE_BUF; never send half a request twice
            *error = EIO;
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
            *error = errno;
            return 0;
        }
        if (!WaitReady(DfilterConsole.input, POLLOUT, deadline, error)) return 0;
    }
}

// Reads what the pipe holds into buffer (at most `space` bytes), waiting
// until the deadline. Returns the count, or 0 with *error set (0 for the end
// of the checker's output).
static size_t ReadReply(char* buffer, size_t space, int64_t deadline, int* error) {
    for (;;) {
        if (!WaitReady(DfilterConsole.output, POLLIN, deadline, error)) return 0;
        ssize_t n = read(DfilterConsole.output, buffer, space);
        if (n > 0) return static_cast<size_t>(n);
        if (n == 0) {
            *error = 0;
            return 0;
        }
        if (errno != EINTR && errno != EAGAIN) {
            *error = errno;
            return 0;
        }
    }
}

int DfilterDravik(const char* filterText, int* verdict) {
    if (DfilterConsole.process == 0) return 0;
    if (!filterText || !verdict) return 0;
    size_t textLength = strlen(filterText);
    if (textLength > static_cast<size_t>(kDfilterTextMax) || strpbrk(filterText, "\r\n")) {
        // A line break would make the checker answer twice and a longer text
        // would not fit the exchange; refuse without touching the checker.
        DEBUG_LOG("DfilterDravik() err,length=%zu", textLength);
        return 0;
    }
    int64_t deadline = NowMs() + kDfilterWaitMs;
    char exchange[kExchangeSize];
    int error = 0;

    memcpy(exchange, filterText, textLength);
    exchange[textLength] = '\n';
    if (!WriteRequest(exchange, textLength + 1, deadline, &error)) {
        DEBUG_LOG("WriteFile() err,errno=%d", error);
        DfilterStopChildProcess();
        return 0;
    }

    char echo[kDfilterTextMax + 4];
    int echoLength = snprintf(echo, sizeof echo, "=\"%s\"", filterText);

    // The reply: everything the checker printed since the request, searched
    // from its start each time, so diagnostics before the answer and an
    // answer split over several reads are both handled.
    size_t used = 0;
    exchange[0] = '\0';
    for (;;) {
        size_t space = sizeof exchange - 1 - used;
        size_t got = 0;
        if (space == 0) {
            error = ENOBUFS;
        } else {
            got = ReadReply(exchange + used, space, deadline, &error);
        }
        if (got == 0) {
            DEBUG_LOG("ReadFile() err,errno=%d", error);
            DfilterStopChildProcess();
            return 0;
        }
        used += got;
        exchange[used] = '\0';

        // memmem, not strstr: a NUL byte in the checker's chatter must not
        // hide the answer behind it.
        const char* hit = static_cast<const char*>(memmem(exchange, used, echo, echoLength));
        if (!hit) continue;
        if (hit > exchange && (hit[-1] == '1' || hit[-1] == '0')) {
            *verdict = hit[-1] - '0';
            return 1;
        }
        // Not an answer. The next search finds this same first occurrence
        // again, so from here on the call ends only by a full buffer, the end
        // of the output or the wait bound.
        const char* from = hit > exchange ? hit - 1 : hit;
        DEBUG_LOG("DfilterDravik() info,%.*s", static_cast<int>(hit + echoLength - from), from);
    }
}
