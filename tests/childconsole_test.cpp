// SPDX-License-Identifier: GPL-2.0-or-later
// Child console: real child processes with their stdin on one pipe and
// stdout+stderr joined on another.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <future>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "pipeline/childconsole.h"
#include "support/testdir.h"
#include "support/wait.h"

namespace {

// Everything the child writes until end of file.
std::string ReadAll(int fd) {
    std::string all;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        all.append(buffer, static_cast<size_t>(n));
    }
    return all;
}

std::set<std::string> OpenDescriptors(const std::string& folder) {
    std::set<std::string> fds;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return fds;
    int own = dirfd(dir);
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.' || (folder == "/proc/self/fd" && atoi(e->d_name) == own)) continue;
        fds.insert(e->d_name);
    }
    closedir(dir);
    return fds;
}

bool ProcessGone(pid_t pid) {
    // Reaped: not our child any more, and no zombie left behind.
    return waitpid(pid, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

// Runs command, feeds it input (then closes its stdin) and returns the joined
// output; the child is released afterwards.
std::string RunChild(const char* command, const std::string& input = "") {
    ChildConsole c;
    EXPECT_EQ(1, ChildConsoleNew(command, &c, nullptr)) << command;
    if (!input.empty()) {
        EXPECT_EQ(static_cast<ssize_t>(input.size()), write(c.input, input.data(), input.size()));
    }
    close(c.input);
    c.input = 0;
    std::string out = ReadAll(c.output);
    ChildConsoleRelease(&c);
    return out;
}

}  // namespace

TEST(ChildConsole, StdoutAndStderrArriveOnOnePipeInOrder) {
    std::string out = RunChild("/bin/sh -c \"echo one; echo two 1>&2; echo three; echo four >&2\"");
    EXPECT_EQ("one\ntwo\nthree\nfour\n", out);
    EXPECT_EQ("hello\nworld\n", RunChild("cat", "hello\nworld\n"));
}

TEST(ChildConsole, ArgumentsReachTheChildExactlyWithoutAShell) {
    // printf prints each argument between brackets; a shell would expand or
    // split what is below.
    std::string out = RunChild("printf [%s]\\n \"a b\" $HOME ; `id` 'x' \"\" \"semi;colon\" a\"b c\"d *");
    EXPECT_EQ("[a b]\n[$HOME]\n[;]\n[`id`]\n['x']\n[]\n[semi;colon]\n[ab cd]\n[*]\n", out);

    const char* argv[] = {"printf", "[%s]\n", "with \"quotes\"", "tab\there", "$(echo no)", nullptr};
    ChildConsole c;
    ASSERT_EQ(1, ChildConsoleNewArgv("printf ...", argv, &c, nullptr));
    EXPECT_EQ("[with \"quotes\"]\n[tab\there]\n[$(echo no)]\n", ReadAll(c.output));
    EXPECT_EQ(1, ChildConsoleRelease(&c));
}

TEST(ChildConsole, MissingProgramFailsWithNothingLeftOpen) {
    std::set<std::string> before = OpenDescriptors("/proc/self/fd");
    for (const char* command : {"/no/such/program --flag", "no_such_program_lumo_xyz", "", "   ", "\"\""}) {
        ChildConsole c;
        memset(&c, 0x55, sizeof c);
        EXPECT_EQ(0, ChildConsoleNew(command, &c, nullptr)) << command;
        ChildConsole zero;
        memset(&zero, 0, sizeof zero);
        EXPECT_EQ(0, memcmp(&zero, &c, sizeof c)) << command;
    }
    // a file that exists but cannot be executed
    std::string dir = TestDirNew();
    TestFileWrite(dir + "/plain", "not a program");
    ChildConsole c;
    EXPECT_EQ(0, ChildConsoleNew((dir + "/plain").c_str(), &c, nullptr));
    EXPECT_EQ(before, OpenDescriptors("/proc/self/fd"));
}

// The reason is what a caller shows when its tool does not start.
TEST(ChildConsole, FailureHandsTheSystemsReason) {
    char err[kErrorLen] = "old";
    ChildConsole c;
    EXPECT_EQ(0, ChildConsoleNew("no_such_program_lumo_xyz", &c, err));
    EXPECT_STREQ("No such file or directory", err);
    const char* none[] = {nullptr};
    EXPECT_EQ(0, ChildConsoleNewArgv("", none, &c, err));
    EXPECT_STREQ("No such file or directory", err);
    std::string dir = TestDirNew();
    TestFileWrite(dir + "/plain", "not a program");
    EXPECT_EQ(0, ChildConsoleNew((dir + "/plain").c_str(), &c, err));
    EXPECT_STREQ("Permission denied", err);
}

TEST(ChildConsole, ChildHoldsOnlyItsThreeStandardDescriptors) {
    // A descriptor the parent leaves inheritable, and a second child's pipes,
    // must not reach the child.
    int leaky[2];
    ASSERT_EQ(0, pipe(leaky));
    ChildConsole other;
    ASSERT_EQ(1, ChildConsoleNew("cat", &other, nullptr));

    ChildConsole c;
    ASSERT_EQ(1, ChildConsoleNew("cat", &c, nullptr));
    EXPECT_GE(c.input, 3);
    EXPECT_GE(c.output, 3);
    EXPECT_EQ(0, c.reserved);
    // What the child holds once started (its start-up opens and closes files).
    ASSERT_TRUE(TestWaitFor([&] { return TestReadingStdin(c.process); }, 10000)) << "cat did not start reading";
    EXPECT_EQ((std::set<std::string>{"0", "1", "2"}), OpenDescriptors("/proc/" + std::to_string(c.process) + "/fd"));
    // the parent's ends are close-on-exec
    EXPECT_TRUE(fcntl(c.input, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(fcntl(c.output, F_GETFD) & FD_CLOEXEC);

    // and the child's own view: ls lists 0, 1, 2 and the folder it reads
    std::string listing = RunChild("ls /proc/self/fd");
    EXPECT_EQ("0\n1\n2\n3\n", listing);

    EXPECT_EQ(1, ChildConsoleRelease(&c));
    EXPECT_EQ(1, ChildConsoleRelease(&other));
    close(leaky[0]);
    close(leaky[1]);
}

TEST(ChildConsole, ChildRunsInItsOwnSessionWithDefaultSignals) {
    // /proc/self/stat: pid (comm) state ppid pgrp session ...
    std::string stat = RunChild("cat /proc/self/stat");
    long pid = 0, ppid = 0, pgrp = 0, session = 0;
    size_t paren = stat.rfind(')');
    ASSERT_NE(std::string::npos, paren) << stat;
    pid = atol(stat.c_str());
    ASSERT_EQ(3, sscanf(stat.c_str() + paren + 1, " %*c %ld %ld %ld", &ppid, &pgrp, &session)) << stat;
    EXPECT_EQ(pid, pgrp);
    EXPECT_EQ(pid, session);
    EXPECT_EQ(getpid(), ppid);
    // The parent ignores SIGPIPE; the child must not inherit that, nor any
    // other ignored standard signal (the C library's own real-time signals
    // above 31 are its business).
    std::string ignored = RunChild("grep SigIgn /proc/self/status");
    unsigned long long mask = ~0ULL;
    ASSERT_EQ(1, sscanf(ignored.c_str(), "SigIgn: %llx", &mask)) << ignored;
    EXPECT_EQ(0ULL, mask & 0x7fffffffULL) << ignored;
}

TEST(ChildConsole, ReleaseKillsAndReapsAndTwiceIsHarmless) {
    ChildConsole c;
    ASSERT_EQ(1, ChildConsoleNew("sleep 60", &c, nullptr));
    pid_t pid = c.process;
    std::set<std::string> withChild = OpenDescriptors("/proc/self/fd");
    EXPECT_EQ(1, ChildConsoleRelease(&c));
    EXPECT_TRUE(ProcessGone(pid));
    ChildConsole zero;
    memset(&zero, 0, sizeof zero);
    EXPECT_EQ(0, memcmp(&zero, &c, sizeof c));
    EXPECT_EQ(withChild.size() - 2, OpenDescriptors("/proc/self/fd").size());
    EXPECT_EQ(1, ChildConsoleRelease(&c));
    EXPECT_EQ(0, memcmp(&zero, &c, sizeof c));

    // a child that ended by itself
    ASSERT_EQ(1, ChildConsoleNew("true", &c, nullptr));
    pid = c.process;
    EXPECT_EQ("", ReadAll(c.output));
    ASSERT_TRUE(TestWaitFor([&] { return ChildConsoleExited(&c) != 0; }, 5000)) << "\"true\" did not end";
    EXPECT_EQ(1, ChildConsoleExited(&c));
    EXPECT_TRUE(WIFEXITED(c.exitStatus));
    EXPECT_EQ(1, ChildConsoleRelease(&c));
    EXPECT_TRUE(ProcessGone(pid));
}

TEST(ChildConsole, KillEndsABlockedReaderEvenWhenAGrandchildHoldsThePipe) {
    // The shell's background sleep inherits the output pipe; killing only
    // the shell would leave the reader blocked until the sleep ends.
    ChildConsole c;
    ASSERT_EQ(1, ChildConsoleNew("/bin/sh -c \"sleep 120 & echo started; wait\"", &c, nullptr));
    char buffer[64];
    ASSERT_GT(read(c.output, buffer, sizeof buffer), 0);
    std::promise<ssize_t> last;
    std::future<ssize_t> done = last.get_future();
    std::thread reader([&] {
        char b[64];
        ssize_t n;
        while ((n = read(c.output, b, sizeof b)) > 0) {
        }
        last.set_value(n);
    });
    EXPECT_EQ(1, ChildConsoleKill(&c));
    // Behaviour bound, not a speed goal: a hang here would be minutes.
    ASSERT_EQ(std::future_status::ready, done.wait_for(std::chrono::seconds(20)));
    EXPECT_EQ(0, done.get());
    reader.join();
    EXPECT_EQ(1, ChildConsoleRelease(&c));
}

TEST(ChildConsole, WriteToADeadChildFailsWithEpipe) {
    ChildConsole c;
    ASSERT_EQ(1, ChildConsoleNew("true", &c, nullptr));
    EXPECT_EQ("", ReadAll(c.output));
    ChildConsoleKill(&c);
    char byte = 'x';
    EXPECT_EQ(-1, write(c.input, &byte, 1));  // SIGPIPE is ignored, so the test lives to see this
    EXPECT_EQ(EPIPE, errno);
    ChildConsoleRelease(&c);
}

TEST(ChildConsole, MegabytesOnStderrWhileTheParentReadsDoNotHang) {
    // 8 MB to stderr and 8 MB to stdout, while the parent also feeds stdin.
    ChildConsole c;
    ASSERT_EQ(1, ChildConsoleNew("/bin/sh -c \"head -c 8388608 /dev/zero >&2; cat; head -c 8388608 /dev/zero\"", &c,
                                 nullptr));
    std::future<std::string> all = std::async(std::launch::async, [&] { return ReadAll(c.output); });
    std::string input(1 << 20, 'i');
    ASSERT_EQ(static_cast<ssize_t>(input.size()), write(c.input, input.data(), input.size()));
    close(c.input);
    c.input = 0;
    ASSERT_EQ(std::future_status::ready, all.wait_for(std::chrono::seconds(120)));
    std::string out = all.get();
    EXPECT_EQ(8388608u * 2 + input.size(), out.size());
    EXPECT_EQ(input, out.substr(8388608, input.size()));
    EXPECT_EQ(1, ChildConsoleRelease(&c));
}
