// SPDX-License-Identifier: GPL-2.0-or-later
// capture_pipeline_test.cpp - packets from "lo" through the packet ring into
// a real rawshark, the handler switch beside a running dump, and stops and
// rebuilds while packets flow.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "filterset/filterset.h"
#include "pipeline/packetring.h"
#include "pipeline/rawsharkmngr_internal.h"
#include "platform/platform.h"
#include "tests/capture_helpers.h"

namespace {

constexpr int64_t kInterval = 50000;  // microseconds per bin
constexpr int kMatchPayload = 20;     // "udp.length == 28"
constexpr uint32_t kMatchWire = 14 + 20 + 8 + kMatchPayload;

class CapturePipelineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TotalCounterInit(65536);
        PacketRingSetInterval(kInterval);
    }
    static void TearDownTestSuite() { TotalCounterFree(); }
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "live capture on lo needs root (cap_net_raw, cap_net_admin)";
        if (!FileExists("/usr/bin/rawshark")) GTEST_SKIP() << "/usr/bin/rawshark (wireshark-common) is missing";
        TextCopy(rawshark.rawsharkPath, sizeof rawshark.rawsharkPath, "/usr/bin/rawshark");
        PacketRingReset();
    }
    void TearDown() override {
        CapturePacketHandlerControl(0);
        EXPECT_EQ(CaptureStopThread(), 1);
        CaptureFileStop();
        RawsharkMngrListClear();
    }

    bool BuildList(const std::vector<std::string>& texts) {
        FilterEntry entries[FilterSetMax];
        memset(entries, 0, sizeof entries);
        for (size_t i = 0; i < texts.size(); ++i)
            TextCopy(entries[i].filterText, sizeof entries[i].filterText, texts[i].c_str());
        return RawsharkMngrListEdit(&rawshark, DLT_EN10MB, static_cast<int>(texts.size()), entries, 65536) == 1;
    }

    // Matched packets of an entry over the last 4096 bins.
    static uint64_t Sum(int entry) {
        static uint64_t bins[4096];
        char message[256];
        if (!RawsharkMngrReadPackets(entry, PerfCounter(), bins, 4096, message)) return 0;
        uint64_t sum = 0;
        for (uint64_t b : bins) sum += b;
        return sum;
    }

    // Matched packets of an entry per bin 0..lastBin, read at a "now" inside lastBin.
    static std::vector<uint64_t> Bins(int entry, int64_t lastBin) {
        int64_t first = 0;
        EXPECT_EQ(PacketRingFirstStamp(&first), 1);
        int64_t now = first + lastBin * kInterval * 1000 + 1000;
        std::vector<uint64_t> newestFirst(static_cast<size_t>(lastBin + 1));
        char message[256];
        EXPECT_EQ(RawsharkMngrReadPackets(entry, now, newestFirst.data(), static_cast<int>(lastBin + 1), message), 1);
        return {newestFirst.rbegin(), newestFirst.rend()};
    }

    void StartCaptureAndDump(const std::string& path) {
        CaptureBlock block = LoopbackBlock(PortFilter(sink.port));
        ASSERT_EQ(CaptureStartThread(&block), 1);
        ASSERT_TRUE(WaitCaptureOpen());
        char text[kErrorLen];
        ASSERT_EQ(CaptureFileStart(path.c_str(), &block, text), 1) << text;
    }

    RawsharkBlock rawshark{};
    UdpSink sink;
};

TEST_F(CapturePipelineTest, RawsharkCountsExactlyTheSentDatagramsInTheirBins) {
    ScratchFolder scratch;
    ASSERT_TRUE(BuildList({"udp.length == 28", ""}));
    CapturePacketHandlerControl(1);
    UdpSink other;
    std::string path = scratch.File("flow.pcap");
    StartCaptureAndDump(path);

    // Two bursts at least three bins apart; the other port's datagrams stay
    // outside the capture filter.
    SendUdp(sink.port, 3, kMatchPayload);
    SendUdp(sink.port, 2, 100);
    SendUdp(other.port, 4, kMatchPayload);
    int64_t first = 0;
    ASSERT_TRUE(TestWaitFor([&] { return PacketRingCount() == 5 && PacketRingFirstStamp(&first); }));
    ASSERT_TRUE(TestWaitFor([&] { return PerfCounter() - first > 3 * kInterval * 1000; }));
    SendUdp(sink.port, 4, kMatchPayload);
    SendUdp(other.port, 2, kMatchPayload);
    SendUdp(sink.port, 1, 100);

    ASSERT_TRUE(TestWaitFor([] { return Sum(0) == 7 && Sum(1) == 10; })) << Sum(0) << " " << Sum(1);
    // Every stored packet judged: a late extra count would be in by now.
    ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrEntry(0)->counter.cursor.load() == PacketRingCount(); }));
    EXPECT_EQ(Sum(0), 7u);
    ASSERT_EQ(CaptureStopThread(), 1);
    CaptureFileStop();
    EXPECT_EQ(PacketRingCount(), 10u);

    // The dump holds the same packets with their capture times: the bins
    // the counters must show.
    PcapFile file = ReadPcap(path);
    ASSERT_EQ(file.records.size(), 10u) << file.error;
    std::vector<uint64_t> matched, all;
    for (const PcapRecord& r : file.records) {
        size_t bin = static_cast<size_t>((r.usec - file.records[0].usec) / kInterval);
        if (bin >= all.size()) matched.resize(bin + 1), all.resize(bin + 1);
        all[bin] += 1;
        matched[bin] += r.len == kMatchWire;
    }
    ASSERT_GE(all.size(), 3u) << "the bursts three bins apart share a bin";
    EXPECT_EQ(Bins(0, static_cast<int64_t>(all.size()) - 1), matched);
    EXPECT_EQ(Bins(1, static_cast<int64_t>(all.size()) - 1), all);
}

TEST_F(CapturePipelineTest, HandlerOffKeepsCountsZeroWhileDumpReceivesEverything) {
    ScratchFolder scratch;
    ASSERT_TRUE(BuildList({"udp", ""}));
    std::string path = scratch.File("off.pcap");
    StartCaptureAndDump(path);

    SendUdp(sink.port, 6, kMatchPayload);
    // The dump has them: the capture thread has passed the six.
    ASSERT_TRUE(TestWaitFor([] { return CaptureFileRecords() == 6; }));
    EXPECT_EQ(Sum(0), 0u);
    EXPECT_EQ(Sum(1), 0u);
    EXPECT_EQ(PacketRingCount(), 0u);

    // One more packet with the handler on: once it is counted, the six went
    // through the handler before it.
    CapturePacketHandlerControl(1);
    SendUdp(sink.port, 1, 100);
    ASSERT_TRUE(TestWaitFor([] { return Sum(0) == 1 && Sum(1) == 1; }));
    EXPECT_EQ(PacketRingCount(), 1u) << "packets from before the switch reached the pipeline";
    ASSERT_EQ(CaptureStopThread(), 1);
    CaptureFileStop();

    PcapFile file = ReadPcap(path);
    EXPECT_EQ(file.result, PCAP_ERROR_BREAK) << file.error;
    ASSERT_EQ(file.records.size(), 7u);
    EXPECT_EQ(file.records[0].len, kMatchWire);
    EXPECT_EQ(file.records[6].len, 142u);
}

// Stops, dump starts and closes, and pipeline rebuilds (handler off, clear,
// reset, build, handler on) while packets flow: under the sanitizers a
// handler call still writing into a torn-down pipeline, a break on a closing
// handle or an append on a closed file shows; no stop may hang, nothing leak.
TEST_F(CapturePipelineTest, StopsDumpsAndRebuildsWhilePacketsFlow) {
    ScratchFolder scratch;
    int descriptors = OpenDescriptors();
    ASSERT_TRUE(BuildList({"udp", ""}));
    std::atomic<bool> flowing{true};
    std::thread sender([&] {
        while (flowing.load()) SendUdp(sink.port, 20, 200, 50);
    });

    CaptureBlock block = LoopbackBlock(PortFilter(sink.port));
    std::vector<std::string> dumps;
    char text[kErrorLen];
    for (int i = 0; i < 30; ++i) {
        CapturePacketHandlerControl(1);
        ASSERT_EQ(CaptureStartThread(&block), 1);
        if (i % 3 == 0 && WaitCaptureOpen()) {
            dumps.push_back(scratch.File("flow" + std::to_string(i) + ".pcap"));
            EXPECT_EQ(CaptureFileStart(dumps.back().c_str(), &block, text), 1);
        }
        // Pauses on purpose, here and below: the stops land at varied points of the flow.
        std::this_thread::sleep_for(std::chrono::milliseconds((i % 5) * 4));
        if (i % 10 == 9) {
            CapturePacketHandlerControl(0);
            RawsharkMngrListClear();
            PacketRingReset();
            ASSERT_TRUE(BuildList({"udp", ""}));
            CapturePacketHandlerControl(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        CapturePacketHandlerControl(i % 2);
        auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(CaptureStopThread(), 1) << "iteration " << i;
        EXPECT_LT(MillisSince(t0), 2500) << "iteration " << i;
        if (i % 2) CaptureFileStop();
    }
    flowing.store(false);
    sender.join();
    CapturePacketHandlerControl(0);
    RawsharkMngrListClear();
    CaptureFileStop();
    EXPECT_EQ(OpenDescriptors(), descriptors) << "descriptors leaked";

    size_t records = 0;
    for (const std::string& path : dumps) {
        PcapFile file = ReadPcap(path);
        EXPECT_EQ(file.result, PCAP_ERROR_BREAK) << path << ": " << file.error;
        records += file.records.size();
    }
    EXPECT_GT(records, 0u) << "no packet reached any dump";
    EXPECT_EQ(CaptureFileFailed(nullptr), 0);
}

}  // namespace
