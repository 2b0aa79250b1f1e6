// SPDX-License-Identifier: GPL-2.0-or-later
// replay_core_test.cpp - the replay front end's logic without a window:
// time label, marker scan, Start checks and arguments, the output reader's
// restart of the time, the tool's end on every path, and the interface list.
//
// The tool is a stand-in shell script named "tarvo" in a scratch program
// folder; nothing here sends packets.
#include <gtest/gtest.h>

#include <net/if.h>
#include <pcap/pcap.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "replay/replay.h"
#include "support/testdir.h"
#include "support/wait.h"

namespace {

std::atomic<int64_t> FakeNow{0};
int64_t FakeClock() { return FakeNow.load(std::memory_order_relaxed); }
void SetFakeMs(int64_t ms) { FakeNow.store(ms * 1000000, std::memory_order_relaxed); }

std::string Slurp(const std::string& path) { return TestFileRead(path); }

// True once pid is gone or a zombie (an orphan waiting for its reaper).
bool ProcessGone(pid_t pid) {
    std::string stat = Slurp("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return true;
    size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

class ReplayCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        PlatformSetProgramFolder(dir_.c_str());
        rec_ = std::make_unique<ReplayRecord>();
        rec_->interfaceCount = 2;
        strcpy(rec_->interfaces[0].name, "veth9");
        strcpy(rec_->interfaces[1].name, "dummy7");
        pcap_ = dir_ + "/in.pcap";
        std::ofstream(pcap_) << "not really a capture";
    }
    void TearDown() override {
        ReplayExit(rec_.get());
        PerfSetClock(nullptr);
        PlatformSetProgramFolder(nullptr);
    }
    void WriteTool(const std::string& body, mode_t mode = 0755) {
        std::string path = dir_ + "/tarvo";
        std::ofstream(path) << "#!/bin/sh\n" << body;
        chmod(path.c_str(), mode);
    }
    void Start(int selection, const std::string& pcap) {
        char message[kErrorLen] = "unset";
        ASSERT_EQ(1, ReplayStart(rec_.get(), selection, pcap.c_str(), message)) << message;
    }
    // Ticks until the tool has ended by itself and was released (whether or
    // not it announced the transmission).
    bool TickUntilEnded() {
        char label[32];
        return TestWaitFor([&] {
            int r = ReplayTick(rec_.get(), label, sizeof label, nullptr);
            return r == kReplayTickEnded || r == kReplayTickFailed;
        });
    }

    std::string dir_, pcap_;
    std::unique_ptr<ReplayRecord> rec_;
};

TEST(ReplayTextTest, TimeLabelHasExactlyThreeDecimals) {
    char t[32];
    ReplayTimeText(5, t, sizeof t);
    EXPECT_STREQ("0.005", t);
    ReplayTimeText(61234, t, sizeof t);
    EXPECT_STREQ("61.234", t);
    ReplayTimeText(0, t, sizeof t);
    EXPECT_STREQ("0.000", t);
    ReplayTimeText(UINT32_MAX, t, sizeof t);
    EXPECT_STREQ("4294967.295", t);
}

TEST(ReplayTextTest, InterfaceAndAddressTexts) {
    InterfaceInfo i{};
    strcpy(i.name, "eth0");
    char t[600];
    ReplayInterfaceText(&i, t, sizeof t);
    EXPECT_STREQ("eth0", t);
    strcpy(i.description, "Wired");
    ReplayInterfaceText(&i, t, sizeof t);
    EXPECT_STREQ("Wired: eth0", t);
    ReplayAddressText(0, t, sizeof t);
    EXPECT_STREQ("IP address: unknown", t);
    uint8_t bytes[4] = {192, 168, 7, 200};  // as stored: first octet lowest
    uint32_t a;
    memcpy(&a, bytes, 4);
    ReplayAddressText(a, t, sizeof t);
    EXPECT_STREQ("IP address: 192.168.7.200", t);
}

TEST(ReplayTextTest, CommandLineQuotesOnlyThePcapPath) {
    char line[256];
    ASSERT_EQ(1, ReplayCommandLine("/opt/x/tarvo", "/tmp/a b.pcap", "eth0", line, sizeof line));
    EXPECT_STREQ("/opt/x/tarvo \"/tmp/a b.pcap\" eth0 s", line);
    EXPECT_EQ(0, ReplayCommandLine("/opt/x/tarvo", "/tmp/a b.pcap", "eth0", line, 10));
}

TEST(ReplayTextTest, TickCountFollowsThePerformanceCounter) {
    PerfSetClock(&FakeClock);
    SetFakeMs(123456);
    EXPECT_EQ(123456u, ReplayTickCount());
    SetFakeMs((int64_t{1} << 32) + 7);  // wraps like a 32-bit tick count
    EXPECT_EQ(7u, ReplayTickCount());
    PerfSetClock(nullptr);
}

// Fault: a read ending inside "Start Transmission" lost the restart.
TEST(ReplayScanTest, FindsTheMarkerAcrossReadBoundaries) {
    const std::string text = std::string(40, 'x') + "Start Transmission\n" + std::string(10, 'y');
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        ReplayMarkerScan scan{};
        int found = ReplayScanChunk(&scan, text.data(), cut);
        found += ReplayScanChunk(&scan, text.data() + cut, text.size() - cut);
        EXPECT_EQ(1, found) << "cut at " << cut;
    }
    ReplayMarkerScan scan{};  // one byte at a time
    int found = 0;
    for (char c : text) found += ReplayScanChunk(&scan, &c, 1);
    EXPECT_EQ(1, found);
}

TEST(ReplayScanTest, IgnoresOtherTextAndSurvivesNulBytes) {
    ReplayMarkerScan scan{};
    EXPECT_EQ(0, ReplayScanChunk(&scan, "Start Transmissio", 17));
    EXPECT_EQ(0, ReplayScanChunk(&scan, "n", 0));
    EXPECT_EQ(0, ReplayScanChunk(&scan, "X", 1));  // "Start TransmissioX"
    const char withNul[] = "abc\0Start Transmission";
    EXPECT_EQ(1, ReplayScanChunk(&scan, withNul, sizeof withNul - 1));
    EXPECT_EQ(0, ReplayScanChunk(&scan, "start transmission", 18));  // case matters
}

// The line a failed tool's box shows: split reads, CR LF, blank lines and
// blanks around it, a NUL, an over-long line.
TEST(ReplayScanTest, KeepsTheLastNonBlankLine) {
    const char raw[] = "Start Transmission\r\ntarvo: reading x after record 3:\0 truncated  \r\n \t\n\n";
    const std::string text(raw, sizeof raw - 1);
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        ReplayLastLine scan{};
        ReplayLastLineFeed(&scan, text.data(), cut);
        ReplayLastLineFeed(&scan, text.data() + cut, text.size() - cut);
        EXPECT_STREQ("tarvo: reading x after record 3: truncated", ReplayLastLineEnd(&scan)) << "cut at " << cut;
    }
    ReplayLastLine scan{};  // an over-long last line without its end
    std::string longLine = "first\n" + std::string(300, 'z');
    ReplayLastLineFeed(&scan, longLine.data(), longLine.size());
    EXPECT_EQ(std::string(255, 'z'), ReplayLastLineEnd(&scan));
}

TEST_F(ReplayCoreTest, StartChecksInOrder) {
    char message[kErrorLen] = "";
    // No tool: reported first, before the interface and the file.
    EXPECT_EQ(0, ReplayStart(rec_.get(), -1, "", message));
    EXPECT_STREQ("tarvo file is not found.", message);

    WriteTool("exit 0\n");
    EXPECT_EQ(0, ReplayStart(rec_.get(), -1, "", message));
    EXPECT_STREQ("Select Interface.", message);
    EXPECT_EQ(0, ReplayStart(rec_.get(), 2, pcap_.c_str(), message));
    EXPECT_STREQ("Select Interface.", message);

    EXPECT_EQ(0, ReplayStart(rec_.get(), 0, "", message));
    EXPECT_STREQ("pcap file is not found.", message);
    EXPECT_EQ(0, ReplayStart(rec_.get(), 0, (dir_ + "/missing.pcap").c_str(), message));
    EXPECT_STREQ("pcap file is not found.", message);
    EXPECT_EQ(0, ReplayStart(rec_.get(), 0, dir_.c_str(), message));  // a folder is no file
    EXPECT_STREQ("pcap file is not found.", message);
    EXPECT_EQ(0, rec_->child.process);
}

TEST_F(ReplayCoreTest, PathWithBlanksQuotesAndDollarReachesToolAsOneArgument) {
    std::string odd = dir_ + "/my \"best\" $HOME `x` capture's.pcap";
    std::ofstream(odd) << "x";
    std::string args = dir_ + "/args";
    WriteTool("printf '%s\\n' \"$#\" \"$1\" \"$2\" \"$3\" > '" + args + "'\n");
    Start(1, odd);
    ASSERT_TRUE(TickUntilEnded());
    EXPECT_EQ("3\n" + odd + "\ndummy7\ns\n", Slurp(args));
}

TEST_F(ReplayCoreTest, TimeRestartsAtStartTransmission) {
    PerfSetClock(&FakeClock);
    SetFakeMs(5000);
    // The stand-in prepares until the test writes a line, then announces.
    WriteTool("read a\necho preparing\necho Start Transmission\nread b\n");
    Start(0, pcap_);
    char label[32] = "";
    SetFakeMs(7000);
    ASSERT_EQ(kReplayTickTime, ReplayTick(rec_.get(), label, sizeof label, nullptr));
    EXPECT_STREQ("2.000", label);  // counting since Start
    ASSERT_EQ(3, write(rec_->child.input, "go\n", 3));
    ASSERT_TRUE(TestWaitFor([&] { return rec_->startTick.load() == 7000u; }));
    ASSERT_EQ(kReplayTickTime, ReplayTick(rec_.get(), label, sizeof label, nullptr));
    EXPECT_STREQ("0.000", label);
    SetFakeMs(68234);
    ASSERT_EQ(kReplayTickTime, ReplayTick(rec_.get(), label, sizeof label, nullptr));
    EXPECT_STREQ("61.234", label);
    EXPECT_EQ(1, ReplayStop(rec_.get()));
}

// Fault: the marker after 1015 bytes of chatter is split by the 1024-byte read.
TEST_F(ReplayCoreTest, MarkerSplitByTheReadSizeStillRestarts) {
    PerfSetClock(&FakeClock);
    SetFakeMs(1000);
    std::string chatter = dir_ + "/chatter";
    std::ofstream(chatter) << std::string(1015, '.') << "Start Transmission\n";
    // cat sends the file in one write, so the reader's first read ends
    // 9 bytes into the marker.
    WriteTool("read a\ncat '" + chatter + "'\nread b\n");
    Start(0, pcap_);
    SetFakeMs(4000);
    ASSERT_EQ(3, write(rec_->child.input, "go\n", 3));
    EXPECT_TRUE(TestWaitFor([&] { return rec_->startTick.load() == 4000u; }));
}

TEST_F(ReplayCoreTest, ToolEndingByItselfIsReleasedOnTheNextTick) {
    std::string done = dir_ + "/done";
    WriteTool("echo Start Transmission\n: > '" + done + "'\n");
    Start(0, pcap_);
    ASSERT_TRUE(TestWaitFor([&] { return ReplayToolEnded(rec_.get()) != 0; }));
    char label[32] = "keep";
    EXPECT_EQ(kReplayTickEnded, ReplayTick(rec_.get(), label, sizeof label, nullptr));
    EXPECT_STREQ("keep", label);  // the last time stays shown
    EXPECT_EQ(0, rec_->child.process);
    EXPECT_EQ(0, rec_->child.output);
    EXPECT_FALSE(rec_->reader.joinable());
    EXPECT_EQ(kReplayTickIdle, ReplayTick(rec_.get(), label, sizeof label, nullptr));
}

// Fault: a process the tool left behind kept the pipe open, so the reader
// never saw end of file and the dialog hung joining it.
TEST_F(ReplayCoreTest, ToolEndingWhileItsChildHoldsThePipeStillEnds) {
    std::string pid = dir_ + "/pid";
    WriteTool("sleep 1000 &\necho $! > '" + pid + "'\nexit 0\n");
    Start(0, pcap_);
    ASSERT_TRUE(TickUntilEnded());
    pid_t sleeper = atoi(Slurp(pid).c_str());
    ASSERT_GT(sleeper, 0);
    EXPECT_TRUE(TestWaitFor([&] { return ProcessGone(sleeper); }, 2000));
}

TEST_F(ReplayCoreTest, StopKillsALongReplayAndLeavesNoProcess) {
    std::string pids = dir_ + "/pids";
    WriteTool("echo Start Transmission\nsleep 1000 &\necho $$ $! > '" + pids + "'\nwait\n");
    Start(0, pcap_);
    ASSERT_TRUE(TestWaitFor([&] { return Slurp(pids).find(' ') != std::string::npos; }));
    pid_t tool = 0, sleeper = 0;
    std::istringstream(Slurp(pids)) >> tool >> sleeper;
    ASSERT_EQ(tool, rec_->child.process);
    char label[32];
    EXPECT_EQ(kReplayTickTime, ReplayTick(rec_.get(), label, sizeof label, nullptr));

    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(1, ReplayStop(rec_.get()));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));  // did not hang
    EXPECT_EQ(0, rec_->child.process);
    EXPECT_FALSE(rec_->reader.joinable());
    EXPECT_TRUE(ProcessGone(tool));  // reaped
    EXPECT_TRUE(TestWaitFor([&] { return ProcessGone(sleeper); }, 2000));
    EXPECT_EQ(kReplayTickIdle, ReplayTick(rec_.get(), label, sizeof label, nullptr));

    // A second run after Stop works the same way (one tool, one reader).
    Start(0, pcap_);
    EXPECT_NE(0, rec_->child.process);
    char message[kErrorLen] = "unset";
    EXPECT_EQ(0, ReplayStart(rec_.get(), 0, pcap_.c_str(), message));  // refused while running
    EXPECT_STREQ("", message);
    EXPECT_EQ(1, ReplayExit(rec_.get()));
    EXPECT_EQ(0, rec_->child.process);
}

TEST_F(ReplayCoreTest, ToolThatCannotStartLeavesNothingToWatch) {
    WriteTool("exit 0\n", 0644);  // present, not executable
    char message[kErrorLen] = "";
    EXPECT_EQ(0, ReplayStart(rec_.get(), 0, pcap_.c_str(), message));
    EXPECT_STREQ("tarvo could not be started: Permission denied.", message);
    EXPECT_EQ(0, rec_->child.process);
    EXPECT_FALSE(rec_->reader.joinable());
    char label[32] = "same";
    EXPECT_EQ(kReplayTickIdle, ReplayTick(rec_.get(), label, sizeof label, nullptr));
    EXPECT_STREQ("same", label);
    EXPECT_EQ(1, ReplayStop(rec_.get()));
}

// Lists the interfaces of a fresh network namespace (only its loopback is
// configured) in a child process, so no host interface is probed.
TEST(ReplayInterfacesTest, ListsLoopbackOfAFreshNamespace) {
    if (geteuid() != 0) GTEST_SKIP() << "a network namespace needs root";
    struct Result {
        int unshared, found, foundCapped;
        InterfaceInfo table[kReplayMaxInterfaces];
        InterfaceInfo capped[2];
    };
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        auto* r = new Result{};
        r->unshared = unshare(CLONE_NEWNET) == 0;
        if (r->unshared) {
            int s = socket(AF_INET, SOCK_DGRAM, 0);
            ifreq ifr{};
            strcpy(ifr.ifr_name, "lo");
            ioctl(s, SIOCGIFFLAGS, &ifr);
            ifr.ifr_flags |= IFF_UP;
            ioctl(s, SIOCSIFFLAGS, &ifr);
            close(s);
            r->found = ReplayListInterfaces(kReplayMaxInterfaces, r->table, nullptr);
            memset(r->capped, 0x5a, sizeof r->capped);
            r->foundCapped = ReplayListInterfaces(1, r->capped, nullptr);
        }
        ssize_t w = write(fds[1], r, sizeof *r);
        _exit(w == static_cast<ssize_t>(sizeof *r) ? 0 : 1);
    }
    close(fds[1]);
    auto r = std::make_unique<Result>();
    size_t got = 0;
    while (got < sizeof *r) {
        ssize_t n = read(fds[0], reinterpret_cast<char*>(r.get()) + got, sizeof *r - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_EQ(sizeof *r, got);
    if (!r->unshared) GTEST_SKIP() << "cannot create a network namespace (CAP_SYS_ADMIN missing?)";

    ASSERT_GE(r->found, 2);               // at least lo and the "any" pseudo-device
    EXPECT_EQ(r->found, r->foundCapped);  // the count goes past the capacity
    int lo = -1, any = -1;
    for (int i = 0; i < std::min(r->found, kReplayMaxInterfaces); ++i) {
        if (strcmp(r->table[i].name, "lo") == 0) lo = i;
        if (strcmp(r->table[i].name, "any") == 0) any = i;
    }
    ASSERT_GE(lo, 0);
    ASSERT_GE(any, 0);
    // lo's first entry is link-layer; its IPv4 address comes after it.
    const uint8_t loop[4] = {127, 0, 0, 1}, mask[4] = {255, 0, 0, 0};
    EXPECT_EQ(0, memcmp(&r->table[lo].address, loop, 4));
    EXPECT_EQ(0, memcmp(&r->table[lo].netmask, mask, 4));
    EXPECT_EQ(DLT_EN10MB, r->table[lo].linkType);
    EXPECT_EQ(0u, r->table[any].address);
    EXPECT_NE(0, r->table[any].linkType);
    EXPECT_STREQ(r->table[0].name, r->capped[0].name);
    EXPECT_EQ(0x5a, static_cast<uint8_t>(r->capped[1].name[0]));  // beyond capacity: untouched
}

}  // namespace
