// SPDX-License-Identifier: GPL-2.0-or-later
// dfilter_test.cpp - the display-filter check against the real dravik, the
// dravik tool on its own, and stand-in checkers written here as shell
// scripts in a temporary program folder.
#include "filterset/dfilter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "pipeline/childconsole.h"
#include "platform/platform.h"
#include "shell/debuglog.h"
#include "support/wait.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Each test works in a folder of its own (also its current directory, where
// "debuglog.txt" lands) and leaves no checker behind.
class DfilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = std::string(LUMO_TEST_TMP) + "/dfilter.XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        dir_ = name.data();
        ASSERT_NE(getcwd(oldCwd_, sizeof oldCwd_), nullptr);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        DebugLogEnabled.store(1);
    }
    void TearDown() override {
        DfilterStopChildProcess();
        PlatformSetProgramFolder(nullptr);
        DebugLogEnabled.store(0);
        EXPECT_EQ(chdir(oldCwd_), 0);
    }

    std::string Log() {
        std::ifstream file(dir_ + "/debuglog.txt");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    // Writes a stand-in checker named "dravik" into folder and makes that the
    // program folder.
    void StandIn(const std::string& body, const std::string& folder = "bin") {
        std::string path = dir_ + "/" + folder;
        mkdir(path.c_str(), 0755);
        std::ofstream(path + "/dravik") << "#!/bin/sh\n" << body << "\n";
        chmod((path + "/dravik").c_str(), 0755);
        PlatformSetProgramFolder(path.c_str());
    }

    int Check(const std::string& text) {
        int verdict = -1;
        int answered = DfilterDravik(text.c_str(), &verdict);
        return answered ? verdict : -1;
    }

    std::string dir_;
    char oldCwd_[PATH_MAX];
};

// Waits until pid sits in read() on its standard input, i.e. has finished
// starting; a first check sent earlier would spend its wait bound on the
// start-up of a slow, shared machine.
bool WaitUntilReadingInput(pid_t pid) {
    return TestWaitFor([pid] { return TestReadingStdin(pid); }, 60000);
}

void StartRealChecker(const char* library = nullptr) {
    PlatformSetProgramFolder(LUMO_BIN_DIR);
    DfilterStartChildProcess(library);
    ASSERT_NE(DfilterCheckerProcess(), 0);
    ASSERT_TRUE(WaitUntilReadingInput(DfilterCheckerProcess()));
}

// ---------------------------------------------------------------- real dravik

TEST_F(DfilterTest, RealCheckerJudgesFilters) {
    StartRealChecker("/usr/lib/x86_64-linux-gnu/libwireshark.so.16");
    EXPECT_NE(
        Log().find("ChildConsoleNew(" LUMO_BIN_DIR "/dravik -p \"/usr/lib/x86_64-linux-gnu/libwireshark.so.16\") info"),
        std::string::npos);
    // opcua comes from an epan plugin: rawshark knows it, so must the checker.
    for (const char* valid :
         {"tcp", "tcp.port == 80", "ip.addr == 10.0.0.1 and udp", "http.host == \"a\\\"b\"", "opcua"})
        EXPECT_EQ(Check(valid), 1) << valid;
    for (const char* invalid : {"tcp.bogus", "tcp.port ==", "http.host == \"a", "\xff\xfe tcp"})
        EXPECT_EQ(Check(invalid), 0) << invalid;
}

TEST_F(DfilterTest, RealCheckerAnswersEdgeTextsAndStaysInStep) {
    StartRealChecker();
    std::string longValid = "tcp.port == 1";
    while (longValid.size() + 16 <= kDfilterTextMax) longValid += " or tcp.port == 1";
    longValid += std::string(kDfilterTextMax - longValid.size(), ' ');
    ASSERT_EQ(longValid.size(), 255u);
    EXPECT_EQ(Check(longValid), 1);
    EXPECT_EQ(Check(std::string(255, '(')), 0);
    EXPECT_EQ(Check("frame contains \"\xc3\x28\""), 1);  // not UTF-8 inside a string
    EXPECT_EQ(Check(""), 0);                             // no filter at all
    // Refused without an exchange; the checker keeps running.
    EXPECT_EQ(Check(std::string(256, 'a')), -1);
    EXPECT_EQ(Check("tcp\nudp"), -1);
    EXPECT_NE(DfilterCheckerProcess(), 0);
    EXPECT_EQ(Check("udp"), 1);
}

TEST_F(DfilterTest, ThousandChecksInARowKeepEachVerdictWithItsRequest) {
    StartRealChecker();
    for (int i = 0; i < 1000; ++i) {
        std::string n = std::to_string(i);
        switch (i % 4) {
            case 0: ASSERT_EQ(Check("tcp.port == " + n), 1) << i; break;
            case 1: ASSERT_EQ(Check("tcp.port == " + n + " and"), 0) << i; break;
            case 2: ASSERT_EQ(Check("frame.len > " + n + " && udp"), 1) << i; break;
            default: ASSERT_EQ(Check("bogus" + n), 0) << i; break;
        }
    }
}

// A blank in the program folder used to split the checker's path on the
// command line, so it was never found.
TEST_F(DfilterTest, CheckerStartsFromFolderWithBlankAndGetsLibraryPathWhole) {
    StandIn(
        "printf '%s|' \"$#\" \"$@\" >\"$(dirname \"$0\")/args\"\n"
        "while IFS= read -r l; do printf '1=\"%s\"\\n' \"$l\"; done",
        "program folder");
    DfilterStartChildProcess("/opt/my ws/lib\"wireshark.so");
    EXPECT_EQ(Check("tcp"), 1);
    std::ifstream args(dir_ + "/program folder/args");
    std::string text;
    std::getline(args, text);
    EXPECT_EQ(text, "2|-p|/opt/my ws/lib\"wireshark.so|");
    DfilterStartChildProcess("");  // restarts without arguments
    EXPECT_EQ(Check("udp"), 1);
    std::ifstream again(dir_ + "/program folder/args");
    std::getline(again, text);
    EXPECT_EQ(text, "0|");
}

// ---------------------------------------------------------------- dravik alone

struct ToolRun {
    std::string output;
    int exitStatus = -1;
};

// Runs dravik with args, feeding input from a thread of its own (output may
// outgrow the pipe before input ends), until it exits.
ToolRun RunDravik(const std::vector<const char*>& args, const std::string& input) {
    std::vector<const char*> argv = {LUMO_BIN_DIR "/dravik"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(nullptr);
    ChildConsole console;
    ToolRun run;
    if (!ChildConsoleNewArgv("dravik", argv.data(), &console, nullptr)) return run;
    int inputFd = console.input;
    console.input = 0;
    std::thread writer([inputFd, &input] {
        size_t done = 0;
        while (done < input.size()) {
            ssize_t n = write(inputFd, input.data() + done, input.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(inputFd);
    });
    char buffer[65536];
    ssize_t n;
    while ((n = read(console.output, buffer, sizeof buffer)) > 0) run.output.append(buffer, static_cast<size_t>(n));
    writer.join();
    EXPECT_TRUE(TestWaitFor([&] { return ChildConsoleExited(&console) != 0; }, 30000)) << "dravik did not end";
    if (console.reaped && WIFEXITED(console.exitStatus)) run.exitStatus = WEXITSTATUS(console.exitStatus);
    ChildConsoleRelease(&console);
    return run;
}

TEST(DravikTool, AnswersEveryLineOnceInOrderAndExitsAtEndOfInput) {
    std::string overlong(70000, 'x');
    static const char kHead[] = "tcp\r\n\n   \na\0b\n";
    static const char kAnswers[] = "1=\"tcp\"\n0=\"\"\n0=\"   \"\n0=\"a\0b\"\n";
    std::string input = std::string(kHead, sizeof kHead - 1) + overlong + "\r\n" + "udp";
    ToolRun run = RunDravik({"-p", "/nowhere/libwireshark.so"}, input);
    std::string expected = std::string(kAnswers, sizeof kAnswers - 1) + "0=\"" + overlong + "\"\n" + "1=\"udp\"\n";
    EXPECT_EQ(run.output.size(), expected.size());
    EXPECT_TRUE(run.output == expected) << run.output.substr(0, 200);
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(DravikTool, BadUsageIsDiagnosedWithExitOne) {
    ToolRun run = RunDravik({"-x"}, "tcp\n");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.output.rfind("dravik: ", 0), 0u) << run.output;
    EXPECT_EQ(run.output.find("=\"tcp\""), std::string::npos);
}

// ---------------------------------------------------------------- stand-ins

TEST_F(DfilterTest, AnswerSplitOverSeveralReadsIsGathered) {
    StandIn(
        "while IFS= read -r l; do\n"
        "  case \"$l\" in bad*) d=0 ;; *) d=1 ;; esac\n"
        "  printf '%s' $d; sleep 0.1; printf '=\"%s' \"$l\"; sleep 0.1; printf '\"\\n'\n"
        "done");
    DfilterStartChildProcess(nullptr);
    EXPECT_EQ(Check("tcp"), 1);
    EXPECT_EQ(Check("bad one"), 0);
    EXPECT_EQ(Check("udp"), 1);
}

TEST_F(DfilterTest, DiagnosticLinesBeforeAnswerAreSkipped) {
    StandIn(
        "printf 'dravik: loading plugins\\nwarning: no =\"preferences\" file\\n'\n"
        "while IFS= read -r l; do\n"
        "  printf 'compiling %s\\nnote: =\"%s\\n' \"$l\" \"$l\"\n"
        "  case \"$l\" in bad*) printf '0=\"%s\"\\n' \"$l\" ;; *) printf '1=\"%s\"\\n' \"$l\" ;; esac\n"
        "done");
    DfilterStartChildProcess(nullptr);
    EXPECT_EQ(Check("tcp"), 1);
    EXPECT_EQ(Check("bad"), 0);
}

TEST_F(DfilterTest, EchoAfterOtherCharacterIsLoggedThenFullBufferStopsChecker) {
    for (const char* before : {"x", ""}) {
        StandIn(std::string("IFS= read -r l; printf '") + before +
                "=\"%s\"\\n' \"$l\"\n"
                "i=0; while [ $i -lt 40 ]; do printf '..........\\n'; i=$((i+1)); done\n"
                "while IFS= read -r l; do :; done");
        DfilterStartChildProcess(nullptr);
        pid_t checker = DfilterCheckerProcess();
        ASSERT_NE(checker, 0);
        int verdict = 7;
        EXPECT_EQ(DfilterDravik("tcp", &verdict), 0);
        EXPECT_EQ(verdict, 7);
        std::string log = Log();
        EXPECT_NE(log.find(std::string("DfilterDravik() info,") + before + "=\"tcp\"\n"), std::string::npos) << log;
        EXPECT_NE(log.find("ReadFile() err,errno=" + std::to_string(ENOBUFS)), std::string::npos) << log;
        EXPECT_EQ(DfilterCheckerProcess(), 0);
        EXPECT_NE(kill(checker, 0), 0);
    }
}

TEST_F(DfilterTest, CheckerThatExitsFailsNextCheckThenAllReturnAtOnce) {
    StandIn("IFS= read -r l; printf '1=\"%s\"\\n' \"$l\"; exit 0");
    DfilterStartChildProcess(nullptr);
    EXPECT_EQ(Check("tcp"), 1);
    EXPECT_EQ(Check("udp"), -1);
    std::string log = Log();
    bool failed = log.find("WriteFile() err,errno=") != std::string::npos ||
                  log.find("ReadFile() err,errno=0") != std::string::npos;
    EXPECT_TRUE(failed) << log;
    EXPECT_NE(log.find("DfilterStopChildProcess() info"), std::string::npos);
    EXPECT_EQ(DfilterCheckerProcess(), 0);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(Check("ip"), -1);
    EXPECT_LT(SecondsSince(start), 0.5);
    EXPECT_EQ(Log(), log);  // no exchange, nothing logged
}

TEST_F(DfilterTest, HungCheckerReturnsNoVerdictWithinBoundAndIsStopped) {
    StandIn("while IFS= read -r l; do :; done");
    DfilterStartChildProcess(nullptr);
    pid_t checker = DfilterCheckerProcess();
    ASSERT_NE(checker, 0);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(Check("tcp"), -1);
    double waited = SecondsSince(start);
    EXPECT_GE(waited, kDfilterWaitMs / 1000.0 - 0.05);
    EXPECT_LT(waited, kDfilterWaitMs / 1000.0 + 8.0);  // generous: shared, noisy machine
    EXPECT_NE(Log().find("ReadFile() err,errno=" + std::to_string(ETIMEDOUT)), std::string::npos);
    EXPECT_EQ(DfilterCheckerProcess(), 0);
    EXPECT_NE(kill(checker, 0), 0);
}

TEST_F(DfilterTest, NoCheckerInProgramFolderEveryCheckReturnsAtOnce) {
    PlatformSetProgramFolder(dir_.c_str());
    DfilterStartChildProcess("/usr/lib/libwireshark.so");
    EXPECT_NE(Log().find("CreateProcess(" + dir_ + "/dravik -p \"/usr/lib/libwireshark.so\") err"), std::string::npos);
    EXPECT_EQ(DfilterCheckerProcess(), 0);
    std::string log = Log();
    Clock::time_point start = Clock::now();
    for (const char* text : {"tcp", "udp", "bogus"}) {
        int verdict = 7;
        EXPECT_EQ(DfilterDravik(text, &verdict), 0);
        EXPECT_EQ(verdict, 7);
    }
    EXPECT_LT(SecondsSince(start), 0.5);
    EXPECT_EQ(Log(), log);
}

}  // namespace
