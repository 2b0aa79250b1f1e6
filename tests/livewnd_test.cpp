// SPDX-License-Identifier: GPL-2.0-or-later
// livewnd_test.cpp - the live window's pipeline order without a window: the
// start-up failures with their texts, the interface choice, the release of
// what a failed start took, and (as root) real capture on "lo" through real
// rawshark processes across filter restarts, full restarts and teardown while
// traffic flows (run under ThreadSanitizer too).
#include "shell/livewnd.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "capture/capture.h"
#include "filterset/dfilter.h"
#include "pipeline/packetring.h"
#include "pipeline/rawsharkmngr_internal.h"
#include "platform/platform.h"
#include "support/pipeline_packets.h"
#include "support/testdir.h"
#include "support/udp.h"
#include "support/wait.h"

namespace {

uint64_t Matched(int n) {
    RawsharkEntry* entry = RawsharkMngrEntry(n);
    return entry ? entry->counter.matchedPackets.load() : 0;
}

InterfaceInfo Fake(const char* name) {
    InterfaceInfo info;
    memset(&info, 0, sizeof info);
    strcpy(info.name, name);
    info.linkType = 1;
    return info;
}

int NoInterface(int, InterfaceInfo*) { return 0; }
int LibraryFails(int, InterfaceInfo*) { return -1; }
// 20 devices of which the first max are filled; "lo" is at position 3.
int TwentyInterfaces(int max, InterfaceInfo* table) {
    for (int i = 0; i < max && i < 20; ++i) {
        table[i] = Fake(i == 3 ? "lo" : ("fake" + std::to_string(i)).c_str());
        table[i].address = 0x0100007f + static_cast<uint32_t>(i);
    }
    return 20;
}

class LiveWndTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        setenv("LUMO_HOME", dir_.c_str(), 1);
        memset(&settings_, 0, sizeof settings_);
        settings_.binCount = 65536;
        settings_.samplingInterval = 50000;
        settings_.drawInterval = 20;
        settings_.capture.promiscuousMode = 0;
        settings_.capture.timeout = 10;
        strcpy(settings_.capture.iface.name, "lo");
        strcpy(settings_.rawshark.rawsharkPath, "/usr/bin/rawshark");
        MainWndViewInit(&view_);
    }
    void TearDown() override {
        LiveWndTeardown();
        PlatformSetProgramFolder(nullptr);
        CaptureSetInterfaceListHook(nullptr);
        unsetenv("LUMO_HOME");
    }
    // Writes the start-up filter set of the data folder.
    void StartupSet(const std::string& lines) { ASSERT_TRUE(TestFileWrite(dir_ + "/startupfilterset.fs", lines)); }
    int Start() {
        char error[kErrorLen] = "";
        if (!LiveWndInitCounters(&settings_, error)) return 0;
        int loaded = 0;
        error_ = "";
        int ok = LiveWndStartPipeline(&view_, &settings_, &loaded, error);
        if (!ok) error_ = error;
        return ok;
    }

    std::string dir_;
    Settings settings_;
    MainWndView view_;
    std::string error_;
};

TEST_F(LiveWndTest, StartFailsWithTheDesignedTextsAndReleasesWhatItTook) {
    CaptureSetInterfaceListHook(&NoInterface);
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(error_, "Network Interface is not found.");
    LiveWndTeardown();

    CaptureSetInterfaceListHook(&LibraryFails);
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(error_, "pcap_findalldevs() error");
    LiveWndTeardown();

    // a rawshark that cannot be started: the list and the counter are released
    CaptureSetInterfaceListHook(&TwentyInterfaces);
    StartupSet("\"udp\",packet,0,0x00ff00\r\n");
    ASSERT_TRUE(TestFileWrite(dir_ + "/rawshark", "not a program"));
    strcpy(settings_.rawshark.rawsharkPath, (dir_ + "/rawshark").c_str());
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(error_, "RawsharkMngrListEdit() error");
    EXPECT_EQ(RawsharkMngrCount(), 0);
    EXPECT_EQ(TotalCounterGet()->packets, nullptr);
}

TEST_F(LiveWndTest, SavedInterfaceIsChosenElseTheFirstAndOnlySixteenCount) {
    CaptureSetInterfaceListHook(&TwentyInterfaces);
    ASSERT_EQ(Start(), 1) << error_;
    int count = 0;
    const InterfaceInfo* list = LiveWndInterfaces(&count);
    EXPECT_EQ(count, 16);
    EXPECT_STREQ(list[15].name, "fake15");
    EXPECT_STREQ(settings_.capture.iface.name, "lo");
    EXPECT_EQ(settings_.capture.iface.address, 0x0100007fu + 3);
    LiveWndTeardown();

    strcpy(settings_.capture.iface.name, "gone9");
    ASSERT_EQ(Start(), 1) << error_;
    EXPECT_STREQ(settings_.capture.iface.name, "fake0");
    LiveWndTeardown();

    strcpy(settings_.capture.iface.name, "LO");  // case-sensitive
    ASSERT_EQ(Start(), 1) << error_;
    EXPECT_STREQ(settings_.capture.iface.name, "fake0");
}

TEST_F(LiveWndTest, EmptyRawsharkPathStartsCaptureWithoutFilters) {
    CaptureSetInterfaceListHook(&TwentyInterfaces);
    StartupSet("\"udp\",packet,0,0x00ff00\r\n");
    settings_.rawshark.rawsharkPath[0] = '\0';
    char error[kErrorLen] = "";
    ASSERT_TRUE(LiveWndInitCounters(&settings_, error));
    int loaded = 1;
    ASSERT_EQ(LiveWndStartPipeline(&view_, &settings_, &loaded, error), 1);
    EXPECT_EQ(loaded, 0);
    EXPECT_EQ(view_.filters.count, 0);
    EXPECT_EQ(RawsharkMngrCount(), 0);
}

// Root: the whole live pipeline on "lo" with two real rawshark filters, then
// a filter restart and a full restart while datagrams keep flowing.
TEST_F(LiveWndTest, LoopbackTrafficReachesBothFiltersAcrossRestarts) {
    if (geteuid() != 0) GTEST_SKIP() << "capturing on \"lo\" needs root (cap_net_raw)";
    UdpSink a, b;
    StartupSet("\"udp.dstport == " + std::to_string(a.port) + "\",packet\r\n" +
               "\"udp.dstport == " + std::to_string(b.port) + "\",packet\r\n");
    ASSERT_EQ(Start(), 1) << error_;
    ASSERT_EQ(view_.filters.count, 2);
    ASSERT_EQ(RawsharkMngrCount(), 2);
    ASSERT_TRUE(TestWaitFor([] { return CaptureLinkType() != -1; }, 10000)) << "the capture did not open";

    SendUdp(a.port, 20);
    SendUdp(b.port, 10);
    EXPECT_TRUE(TestWaitFor([] { return Matched(0) == 20 && Matched(1) == 10; }, 5000))
        << Matched(0) << " " << Matched(1);

    // traffic keeps flowing while the set changes and the pipeline restarts
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        while (!stop.load()) {
            SendUdp(a.port, 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    char error[kErrorLen] = "";
    strcpy(view_.filters.entries[1].filterText, ("udp.dstport == " + std::to_string(a.port)).c_str());
    ASSERT_EQ(LiveWndFilterRestart(&view_, &settings_, error), 1);
    EXPECT_TRUE(TestWaitFor([] { return Matched(1) > 0; }, 5000));
    settings_.samplingInterval = 100000;
    ASSERT_EQ(LiveWndFullRestart(&view_, &settings_, error), 1);
    EXPECT_TRUE(TestWaitFor([] { return Matched(0) > 0 && Matched(1) > 0; }, 5000));
    LiveWndTeardown();
    stop.store(true);
    sender.join();
    EXPECT_EQ(RawsharkMngrCount(), 0);

    // after the teardown nothing flows any more
    EXPECT_EQ(CaptureLinkType(), -1);
}

std::string Message(int n) {
    char m[256] = "";
    RawsharkMngrLastMessage(n, m);
    return m;
}

// Fault: a judging process that stopped reading held the capture thread in
// its pipe write, so nothing counted any more and restarts and Exit never
// returned. Root: one pass on "lo"; the judge is stopped twice.
TEST_F(LiveWndTest, StoppedJudgeHoldsUpNeitherCaptureNorRestartNorTeardown) {
    if (geteuid() != 0) GTEST_SKIP() << "capturing on \"lo\" needs root (cap_net_raw)";
    PlatformSetProgramFolder(LUMO_BIN_DIR);  // where lumo_judge is built
    settings_.rawshark.onePass = 1;
    UdpSink a;
    StartupSet("\"udp.dstport == " + std::to_string(a.port) + "\",packet\r\n\"\",packet\r\n");
    int children = PipelineTestChildren();
    ASSERT_EQ(Start(), 1) << error_;
    ASSERT_NE(RawsharkMngrJudge(), nullptr);
    ASSERT_TRUE(TestWaitFor([] { return CaptureLinkType() != -1; }, 10000)) << "the capture did not open";

    ASSERT_EQ(kill(RawsharkMngrJudge()->console.process, SIGSTOP), 0);
    SendUdp(a.port, 3000, 200);  // far more than the judge's pipe holds
    EXPECT_TRUE(TestWaitFor([] { return RawsharkMngrEntry(0)->ReaderState.load() == ReaderEnded; }, 20000));
    EXPECT_EQ(Message(0), "lumo_judge not responding for 2 s, stopped");
    // The empty filter counts on: the capture thread is not held. (The
    // kernel may have dropped some of the burst during the wait.)
    const uint64_t before = Matched(1);
    SendUdp(a.port, 100);
    EXPECT_TRUE(TestWaitFor([&] { return Matched(1) >= before + 100; }, 10000)) << before << " " << Matched(1);

    char error[kErrorLen] = "";
    ASSERT_EQ(LiveWndFilterRestart(&view_, &settings_, error), 1);
    SendUdp(a.port, 20);
    EXPECT_TRUE(TestWaitFor([] { return Matched(0) == 20; }, 10000)) << Matched(0);

    // Stopped again, with datagrams in flight: the teardown still ends and
    // leaves no process behind.
    ASSERT_EQ(kill(RawsharkMngrJudge()->console.process, SIGSTOP), 0);
    std::thread sender([&] { SendUdp(a.port, 3000, 200); });
    LiveWndTeardown();
    sender.join();
    EXPECT_EQ(RawsharkMngrCount(), 0);
    EXPECT_EQ(PipelineTestChildren(), children);
}

}  // namespace
