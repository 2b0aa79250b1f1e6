// SPDX-License-Identifier: GPL-2.0-or-later
// capture_test.cpp - interface discovery, the capture filter test, and the
// capture thread's start and stop on "lo".
#include <gtest/gtest.h>

#include <sys/syscall.h>

#include <algorithm>
#include <fstream>

#include "tests/capture_helpers.h"

namespace {

// True when this process has a thread besides the calling one and every
// such thread sleeps in the kernel (state S), as the capture thread does
// while it waits in its read.
bool OtherThreadsAsleep() {
    const std::string self = std::to_string(syscall(SYS_gettid));
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return false;
    int others = 0, asleep = 0;
    while (dirent* e = readdir(tasks)) {
        if (e->d_name[0] == '.' || self == e->d_name) continue;
        ++others;
        std::ifstream file(std::string("/proc/self/task/") + e->d_name + "/stat");
        std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const size_t paren = stat.rfind(')');
        asleep += paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'S';
    }
    closedir(tasks);
    return others > 0 && asleep == others;
}

// ---------------------------------------------------------------- discovery

TEST(CaptureDiscovery, ListHoldsLoopbackWithEthernetLinkAndLocalAddress) {
    SKIP_UNLESS_ROOT();
    ScratchFolder scratch;
    InterfaceInfo table[64];
    int count = CaptureGetInterfaceList(64, table);
    ASSERT_GT(count, 0);

    const InterfaceInfo* lo = nullptr;
    for (int i = 0; i < std::min(count, 64); ++i)
        if (strcmp(table[i].name, "lo") == 0) lo = &table[i];
    ASSERT_NE(lo, nullptr);
    EXPECT_EQ(lo->linkType, 1);
    EXPECT_EQ(lo->address, htonl(0x7F000001u));
    EXPECT_EQ(lo->netmask, htonl(0xFF000000u));

    // Every device is logged by name; lo's address is read past its
    // link-layer entry and printed in dotted order.
    std::string log = scratch.Log();
    size_t named = 0;
    for (size_t at = 0; (at = log.find("CaptureGetInterfaceList() info,Link=", at)) != std::string::npos; ++at) ++named;
    EXPECT_EQ(named, static_cast<size_t>(std::min(count, 64)));
    EXPECT_NE(log.find("CaptureGetInterfaceList() info,lo,"), std::string::npos);
    EXPECT_NE(log.find("Link=EN10MB(Ethernet),IP=127.0.0.1,Mask=255.0.0.0"), std::string::npos);

    // Past max: counted, not written.
    InterfaceInfo two[2];
    memset(two, 0x5A, sizeof two);
    EXPECT_EQ(CaptureGetInterfaceList(1, two), count);
    EXPECT_EQ(two[1].name[0], 0x5A) << "record beyond max written";
}

TEST(CaptureDiscovery, TestFilterTellsValidInvalidAndMissingInterface) {
    SKIP_UNLESS_ROOT();
    ScratchFolder scratch;
    int descriptors = OpenDescriptors();
    EXPECT_EQ(CaptureTestFilter("lo", "udp port 9"), 1);
    EXPECT_EQ(CaptureTestFilter("lo", "udp port"), 0);
    EXPECT_EQ(CaptureTestFilter("lumo_none0", "udp port 9"), -1);
    EXPECT_EQ(OpenDescriptors(), descriptors) << "a device left open";
    std::string log = scratch.Log();
    EXPECT_NE(log.find("pcap_compile(udp port) err"), std::string::npos);
    EXPECT_NE(log.find("pcap_open_live(lumo_none0) err,"), std::string::npos);
}

// ---------------------------------------------------------------- thread

class CaptureThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "live capture on lo needs root (cap_net_raw, cap_net_admin)";
    }
    void TearDown() override {
        CaptureFileStop();
        EXPECT_EQ(CaptureStopThread(), 1);
    }
};

TEST_F(CaptureThreadTest, OpenFailureEndsThreadAndStopReturnsAtOnce) {
    ScratchFolder scratch;
    CaptureBlock block = LoopbackBlock("");
    TextCopy(block.iface.name, sizeof block.iface.name, "lumo_none0");
    ASSERT_EQ(CaptureStartThread(&block), 1);
    ASSERT_TRUE(TestWaitFor([&] { return scratch.Log().find("pcap_open_live(lumo_none0") != std::string::npos; }));
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(CaptureStopThread(), 1);
    EXPECT_LT(MillisSince(t0), 1000);
    EXPECT_EQ(CaptureLinkType(), -1);
    EXPECT_NE(scratch.Log().find("pcap_open_live(lumo_none0,65535,1,10) err,"), std::string::npos);

    char text[kErrorLen] = "x";
    EXPECT_EQ(CaptureFileStart(scratch.File("d.pcap").c_str(), &block, text), 0);
    EXPECT_STREQ(text, "do not capture yet.");
    EXPECT_NE(access(scratch.File("d.pcap").c_str(), F_OK), 0) << "file created without a capture";
}

// A stop on an idle interface must not wait for a packet or the 3000 ms
// limit, whatever the read time-out (0 is "wait forever").
TEST_F(CaptureThreadTest, StopOnIdleInterfaceReturnsPromptly) {
    UdpSink sink;
    for (int timeout : {10, 0, 2000}) {
        CaptureBlock block = LoopbackBlock(PortFilter(sink.port), timeout);
        ASSERT_EQ(CaptureStartThread(&block), 1);
        ASSERT_TRUE(WaitCaptureOpen());
        EXPECT_EQ(CaptureLinkType(), 1);
        ASSERT_TRUE(TestWaitFor(OtherThreadsAsleep, 5000)) << "the capture thread did not settle in its read";
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(CaptureStopThread(), 1) << "timeout " << timeout;
        EXPECT_LT(MillisSince(t0), 1500) << "timeout " << timeout;
        EXPECT_EQ(CaptureLinkType(), -1);
    }
}

// Fault: a stop issued before the thread had opened its interface found no
// handle to break and returned, leaving the thread capturing for ever.
TEST_F(CaptureThreadTest, StopRightAfterStartLeavesNothingRunning) {
    UdpSink sink;
    CaptureBlock block = LoopbackBlock(PortFilter(sink.port));
    int descriptors = OpenDescriptors();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(CaptureStartThread(&block), 1);
        ASSERT_EQ(CaptureStopThread(), 1);
        EXPECT_EQ(CaptureLinkType(), -1);
    }
    // A pause on purpose: a capture that survived its stop has the chance to open.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(CaptureLinkType(), -1) << "a capture opened after its stop";
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST_F(CaptureThreadTest, SecondStartWhileRunningIsRefused) {
    UdpSink sink;
    CaptureBlock block = LoopbackBlock(PortFilter(sink.port));
    ASSERT_EQ(CaptureStartThread(&block), 1);
    ASSERT_TRUE(WaitCaptureOpen());
    EXPECT_EQ(CaptureStartThread(&block), 0);
    EXPECT_EQ(CaptureStopThread(), 1);
    EXPECT_EQ(CaptureStopThread(), 1) << "a stop with no thread";
}

}  // namespace
