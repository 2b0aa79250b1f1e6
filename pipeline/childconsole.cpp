// SPDX-License-Identifier: GPL-2.0-or-later
// childconsole.cpp - child processes with piped stdin and joined
// stdout+stderr, started by posix_spawn without a shell.
#include "pipeline/childconsole.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "shell/debuglog.h"

extern char** environ;

// A write to a dead child must fail with EPIPE (and be logged), not kill the
// process: SIGPIPE is ignored process-wide before the first child starts.
static void IgnoreSigpipe() {
    static const bool done = [] {
        signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)done;
}

// Moves fd to a number >= 3 with close-on-exec set. For the parent's ends
// this keeps every record field non-zero (0 means "none"); for the child's
// ends it keeps the dup2 onto 0, 1 and 2 from overwriting one another when
// the parent runs with a standard descriptor closed.
static int HighCloexec(int fd) {
    int high = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    int saved = errno;
    close(fd);
    errno = saved;
    return high;
}

static void SplitCommandLine(const char* commandLine, std::vector<std::string>* args) {
    std::string current;
    bool inArg = false, quoted = false;
    for (const char* p = commandLine; *p; ++p) {
        char c = *p;
        if (c == '"') {
            quoted = !quoted;
            inArg = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inArg) args->push_back(current);
            current.clear();
            inArg = false;
        } else {
            current += c;
            inArg = true;
        }
    }
    if (inArg) args->push_back(current);
}

int ChildConsoleNew(const char* commandLine, ChildConsole* console, char* err) {
    std::vector<std::string> args;
    SplitCommandLine(commandLine ? commandLine : "", &args);
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    return ChildConsoleNewArgv(commandLine, argv.data(), console, err);
}

int ChildConsoleNewArgv(const char* commandLine, const char* const* argv, ChildConsole* console, char* err) {
    memset(console, 0, sizeof *console);
    IgnoreSigpipe();
    if (!commandLine) commandLine = "";
    if (!argv || !argv[0] || !argv[0][0]) {
        DEBUG_LOG("CreateProcess(%s) err,errno=%d", commandLine, ENOENT);
        ErrorSet(err, "%s", strerror(ENOENT));
        return 0;
    }

    int out[2] = {-1, -1};  // child's stdout+stderr -> parent
    int in[2] = {-1, -1};   // parent -> child's stdin
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    bool haveActions = false, haveAttr = false;
    pid_t pid = 0;
    int rc;
    int reason = 0;  // the errno value err describes on failure

    if (pipe2(out, O_CLOEXEC) != 0) {
        reason = errno;
        DEBUG_LOG("CreatePipe() err,errno=%d", errno);
        goto fail;
    }
    if (pipe2(in, O_CLOEXEC) != 0) {
        reason = errno;
        DEBUG_LOG("CreatePipe() err,errno=%d", errno);
        goto fail;
    }
    if ((out[0] = HighCloexec(out[0])) < 0 || (out[1] = HighCloexec(out[1])) < 0 || (in[0] = HighCloexec(in[0])) < 0 ||
        (in[1] = HighCloexec(in[1])) < 0) {
        reason = errno;
        DEBUG_LOG("DuplicateHandle() err,errno=%d", errno);
        goto fail;
    }

    if ((rc = posix_spawn_file_actions_init(&actions)) != 0) {
        reason = rc;
        DEBUG_LOG("posix_spawn_file_actions_init() err,errno=%d", rc);
        goto fail;
    }
    haveActions = true;
    // dup2 clears close-on-exec on the child's copies; everything else above
    // 2 is closed so the child holds nothing of the parent's.
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    if ((rc = posix_spawnattr_init(&attr)) != 0) {
        reason = rc;
        DEBUG_LOG("posix_spawnattr_init() err,errno=%d", rc);
        goto fail;
    }
    haveAttr = true;
    {
        // Own session (no controlling terminal), default signal dispositions
        // (the parent ignores SIGPIPE; the child must not inherit that), and
        // an empty signal mask.
        sigset_t all, none;
        sigfillset(&all);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }

    rc = posix_spawnp(&pid, argv[0], &actions, &attr, const_cast<char* const*>(argv), environ);
    if (rc != 0) {
        reason = rc;
        DEBUG_LOG("CreateProcess(%s) err,errno=%d", commandLine, rc);
        pid = 0;
        goto fail;
    }

    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(in[0]);
    console->process = pid;
    console->input = in[1];
    console->output = out[0];
    console->reserved = 0;
    DEBUG_LOG("ChildConsoleNew(%s) info,handle=%08X", commandLine, static_cast<unsigned>(pid));
    return 1;

fail:
    if (haveAttr) posix_spawnattr_destroy(&attr);
    if (haveActions) posix_spawn_file_actions_destroy(&actions);
    for (int fd : {in[1], in[0], out[1], out[0]}) {
        if (fd >= 0) close(fd);
    }
    memset(console, 0, sizeof *console);
    ErrorSet(err, "%s", strerror(reason));
    return 0;
}

static int Reap(ChildConsole* console, int options) {
    if (console->process == 0 || console->reaped) return 1;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(console->process, &status, options);
    } while (r < 0 && errno == EINTR);
    if (r == console->process) {
        console->reaped = 1;
        console->exitStatus = status;
        return 1;
    }
    if (r < 0 && errno == ECHILD) {  // somebody else reaped it; the pid is gone either way
        console->reaped = 1;
        return 1;
    }
    return 0;
}

int ChildConsoleKill(ChildConsole* console) {
    if (console->process == 0 || console->reaped) return 1;
    // The child leads its own process group (own session): a grandchild that
    // inherited the output pipe dies with it, so the reader still sees end of
    // file. Until the child is reaped its pid cannot name anything else.
    kill(-console->process, SIGKILL);
    if (kill(console->process, SIGKILL) != 0 && errno != ESRCH) {
        DEBUG_LOG("TerminateProcess() err,errno=%d", errno);
        return 0;
    }
    return Reap(console, 0);
}

void ChildConsoleTerminate(const ChildConsole* console) {
    if (console->process == 0) return;
    kill(-console->process, SIGKILL);
    kill(console->process, SIGKILL);
}

int ChildConsoleEndStatus(const ChildConsole* console, int waitMs, int* status) {
    if (console->process == 0) return 0;
    for (int waited = 0;; waited += 5) {
        siginfo_t info;
        memset(&info, 0, sizeof info);
        // WNOWAIT leaves the child a zombie: only the owner reaps, so the pid
        // cannot be reused under a thread still looking at it.
        int r = waitid(P_PID, static_cast<id_t>(console->process), &info, WEXITED | WNOHANG | WNOWAIT);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return 0;
        if (info.si_pid == console->process) {
            *status = info.si_code == CLD_EXITED ? W_EXITCODE(info.si_status, 0) : info.si_status;
            return 1;
        }
        if (waited >= waitMs) return 0;
        usleep(5000);
    }
}

int ChildConsoleExited(ChildConsole* console) {
    if (console->process == 0) return 0;
    if (console->reaped) return 1;
    Reap(console, WNOHANG);
    return console->reaped;
}

int ChildConsoleRelease(ChildConsole* console) {
    pid_t before = console->process;
    int result = ChildConsoleKill(console);
    for (int* fd : {&console->input, &console->output, &console->reserved}) {
        if (*fd > 0) close(*fd);
    }
    DEBUG_LOG("ChildConsoleRelease(%08X) info", static_cast<unsigned>(before));
    memset(console, 0, sizeof *console);
    return result;
}
