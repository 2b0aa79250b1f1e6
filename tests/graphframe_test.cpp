// graphframe_test.cpp - whole frames: the live one over the real packet ring,
// counters and rawshark manager with a fake performance counter, the offline
// one over the real packet store; grid rows, labelled time columns, traces,
// legend and the sample buffer across width changes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "graph/graph.h"
#include "pipeline/packetring.h"
#include "pipeline/packetstore.h"
#include "pipeline/rawsharkmngr_internal.h"
#include "platform/platform.h"
#include "tests/support/graph_support.h"
#include "tests/support/pipeline_packets.h"
#include "tests/support/testdir.h"

namespace {

constexpr uint32_t kGreen = 0x00ff00, kRed = 0xff0000, kBlue = 0x0000ff, kLine = 0x0000a0;
constexpr int64_t kTick = 1000;                 // counter ticks per microsecond
constexpr int64_t kBase = 7000000 * 1000000LL;  // counter reading of packet 0

// Atomic: rawshark reader threads may read the clock while a test moves it.
std::atomic<int64_t> FakeNow;
int64_t FakeClock() { return FakeNow.load(std::memory_order_relaxed); }

// Labelled columns: the x of every label drawn on row 0, with its text.
std::vector<std::pair<int, std::string>> TopLabels(const TestSurface& t) {
    std::vector<std::pair<int, std::string>> out;
    for (const RecordedText& c : t.recorder.calls)
        if (c.y == 0) out.push_back({c.x, c.text});
    return out;
}

class LiveFrame : public ::testing::Test {
protected:
    Settings settings = GraphTestSettings();
    void SetUp() override {
        PerfSetClock(&FakeClock);
        FakeNow = kBase;
        Start(65536, 0, nullptr);
    }
    void TearDown() override {
        RawsharkMngrListClear();
        PacketRingReset();
        TotalCounterFree();
        PerfSetClock(nullptr);
    }
    // Counters of `bins` bins and one empty-filter entry per entry.
    void Start(int bins, int count, const FilterEntry* entries) {
        RawsharkMngrListClear();
        TotalCounterFree();
        settings.binCount = bins;
        ASSERT_EQ(TotalCounterInit(bins), 1);
        PacketRingSetInterval(settings.samplingInterval);
        PacketRingReset();
        ASSERT_EQ(RawsharkMngrListEdit(&settings.rawshark, 1, count, entries, bins), 1);
    }
    // A packet captured `usec` after packet 0, arriving as it was captured.
    static void Packet(int64_t usec, uint32_t wire) {
        static const uint8_t data[64] = {};
        int64_t t = 1600000000LL * 1000000 + usec;
        PacketRecordHeader h{static_cast<uint32_t>(t / 1000000), static_cast<uint32_t>(t % 1000000),
                             wire < 64 ? wire : 64, wire};
        FakeNow = kBase + usec * kTick;
        PacketRingStore(&h, data);
        RawsharkMngrWritePacket(&h, data);
    }
    // One packet of `wire` bytes in each of `bins` intervals, then "now" in
    // the last of them.
    void Traffic(int bins, uint32_t wire) {
        for (int b = 0; b < bins; ++b) Packet(b * settings.samplingInterval + 1000, wire);
    }
};

TEST_F(LiveFrame, GridRowsAtTenthsAndBottomOnly) {
    TestSurface t(50, 100);
    GraphTimeBase base{0, FakeNow, 0, 0};
    GraphDrawTimeAxis(&t.s, &settings, &base);  // no packet yet: rows only
    std::vector<int> rows = t.RowsIn(25, kLine);
    EXPECT_EQ(rows, std::vector<int>({0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 99}));
    EXPECT_EQ(t.Lit(kLine).size(), 11u * 50);
    EXPECT_TRUE(t.recorder.calls.empty());
}

TEST_F(LiveFrame, EmptySetDrawsAllTrafficInGreenBps) {
    TestSurface t(300, 60);
    LegendRect rects[1] = {{-1, -1, -1, -1}};
    ASSERT_EQ(GraphDraw(&t.s, &settings, nullptr, 0, -1, rects, nullptr), 1);
    EXPECT_STREQ(LegendLabels[0], "1 bps : all");
    EXPECT_EQ(t.RowsIn(150, kGreen), std::vector<int>({59}));
    EXPECT_EQ(rects[0].left, -1);  // the window's rectangles are not the "all" row's

    // the first packet 12 s ago: labels 10, 5 and 0 every 100 columns, the one
    // reading 0 in the column the packet's traffic shows in, nothing left of it
    Packet(0, 1000);
    FakeNow = kBase + 12 * 1000000 * kTick;
    t.recorder.calls.clear();
    ASSERT_EQ(GraphDraw(&t.s, &settings, nullptr, 0, -1, rects, nullptr), 1);
    using L = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(TopLabels(t), (L{{260, "10"}, {160, "5"}, {60, "0"}}));
    EXPECT_EQ(t.recorder.Find("0")[1].y, 60 - 13);
    EXPECT_EQ(t.recorder.Find("0")[0].color, settings.charColor);
    EXPECT_STREQ(LegendLabels[0], "200K bps : all");
    EXPECT_EQ(t.RowsIn(59, kGreen).front(), 12);  // 160000 bps of 200K on 60 rows
    for (int x = 15; x < 59; ++x) EXPECT_EQ(t.RowsIn(x, kGreen), std::vector<int>({59})) << x;
    EXPECT_EQ(t.RowsIn(58, kLine), std::vector<int>({0, 6, 12, 18, 24, 30, 36, 42, 48, 54}));
}

TEST_F(LiveFrame, LabelStepFollowsTheSamplingInterval) {
    Packet(0, 100);
    FakeNow = kBase + 12 * 1000000 * kTick;
    GraphTimeBase base{0, FakeNow, 0, 0};
    using L = std::vector<std::pair<int, std::string>>;
    {
        settings.samplingInterval = 49999;  // every 2 s
        TestSurface t(300, 40);
        GraphDrawTimeAxis(&t.s, &settings, &base);
        EXPECT_EQ(TopLabels(t), (L{{300, "12"}, {260, "10"}, {220, "8"}, {180, "6"}, {140, "4"},
                                   {100, "2"}, {60, "0"}}));
    }
    {
        settings.samplingInterval = 999;  // below 1 ms: rows only
        TestSurface t(300, 40);
        GraphDrawTimeAxis(&t.s, &settings, &base);
        EXPECT_TRUE(t.recorder.calls.empty());
        EXPECT_EQ(t.Lit(kLine).size(), 11u * 300);
    }
    {
        settings.samplingInterval = 1000;  // every 100 columns, tenths of a second
        TestSurface t(300, 40);
        GraphDrawTimeAxis(&t.s, &settings, &base);
        EXPECT_EQ(TopLabels(t), (L{{300, "12.0"}, {200, "11.9"}, {100, "11.8"}}));
        EXPECT_EQ(t.RowsIn(99, kLine).size(), 40u);
    }
}

// Three empty filters see every packet, so their traces coincide and the
// colour on top tells the drawing order.
TEST_F(LiveFrame, DrawingOrderVisibilityAndSelection) {
    FilterEntry e[3] = {GraphTestEntry("", UnitByte, kRed), GraphTestEntry("", UnitByte, kGreen),
                        GraphTestEntry("", UnitByte, kBlue)};
    Start(65536, 3, e);
    Traffic(400, 1500);
    TestSurface t(200, 100);
    LegendRect rects[3] = {};
    auto traceColours = [&] {
        std::set<uint32_t> seen;
        for (int y = 0; y < 100; ++y)
            for (int x = 15; x < 200; ++x) seen.insert(t.At(x, y));
        seen.erase(0);
        seen.erase(kLine);
        return seen;
    };
    int all[3] = {1, 1, 1};
    ASSERT_EQ(GraphDraw(&t.s, &settings, e, 3, -1, rects, all), 1);
    EXPECT_EQ(traceColours(), std::set<uint32_t>({kRed}));  // lower-numbered on top
    EXPECT_STREQ(LegendLabels[2], "2K bytes : ");
    EXPECT_EQ(rects[2].top, 36);
    EXPECT_EQ(rects[2].right, 20 + 6 * 11);

    int hidden[3] = {0, 1, 1};
    ASSERT_EQ(GraphDraw(&t.s, &settings, e, 3, -1, rects, hidden), 1);
    EXPECT_EQ(traceColours(), std::set<uint32_t>({kGreen}));
    EXPECT_EQ(t.At(10, 8), 0u);  // an outlined box
    EXPECT_EQ(t.At(6, 10), kRed);

    t.recorder.calls.clear();
    ASSERT_EQ(GraphDraw(&t.s, &settings, e, 3, 2, rects, all), 1);
    EXPECT_EQ(traceColours(), std::set<uint32_t>({kBlue}));  // the selected one last
    for (int x = rects[2].left; x <= rects[2].right; ++x) EXPECT_EQ(t.At(x, rects[2].bottom), kBlue);
    EXPECT_NE(t.At(rects[1].left, rects[1].bottom), kGreen);
    ASSERT_EQ(t.recorder.Find("2K bytes : ").size(), 3u);  // legend in filter order
}

TEST_F(LiveFrame, WiderThanTheCountersReadsOnlyTheirBins) {
    Start(64, 0, nullptr);
    Traffic(300, 100);
    TestSurface t(100, 50);
    LegendRect rects[1];
    ASSERT_EQ(GraphDraw(&t.s, &settings, nullptr, 0, -1, rects, nullptr), 1);
    for (int x = 15; x < 36; ++x) EXPECT_EQ(t.RowsIn(x, kGreen), std::vector<int>({49})) << x;
    for (int x = 36; x < 100; ++x) EXPECT_EQ(t.At(x, 10), kGreen) << x;  // 16000 of 20K bps
}

TEST_F(LiveFrame, FrameAfterAWidthChangeIsComplete) {
    Traffic(300, 100);
    TestSurface t(80, 50);
    LegendRect rects[1];
    ASSERT_EQ(GraphDraw(&t.s, &settings, nullptr, 0, -1, rects, nullptr), 1);
    EXPECT_EQ(GraphSampleBufferWidth(), 80);
    t.Resize(120, 50);
    ASSERT_EQ(GraphDraw(&t.s, &settings, nullptr, 0, -1, rects, nullptr), 1);
    EXPECT_EQ(GraphSampleBufferWidth(), 120);
    for (int x = 0; x < 120; ++x) EXPECT_EQ(t.At(x, 10), kGreen) << x;
    EXPECT_EQ(t.At(119, 0), kLine);  // background and grid cover the new width
    EXPECT_EQ(t.At(119, 3), 0u);
}

// Real rawshark processes: a filter's counts reach its trace, and the
// message of a filter rawshark rejects becomes that filter's label.
TEST_F(LiveFrame, RawsharkCountsAndMessagesReachTheFrame) {
    std::string home = TestDirNew();
    setenv("LUMO_HOME", home.c_str(), 1);  // no rawshark preferences
    snprintf(settings.rawshark.rawsharkPath, sizeof settings.rawshark.rawsharkPath, "/usr/bin/rawshark");
    FilterEntry e[2] = {GraphTestEntry("udp", UnitPacket, kRed), GraphTestEntry("tcp.bogus", UnitBps, kGreen)};
    Start(65536, 2, e);
    int total = 0;
    for (int bin = 0; bin < 50; ++bin) {
        for (int p = 0; p < bin % 4; ++p, ++total) {  // 0, 1, 2, 3, 0, ... UDP packets per bin
            int64_t usec = bin * 50000 + p * 1000;
            PipelineTestPacket packet = PipelineTestUdpPacket(1600000000 + usec / 1000000, usec % 1000000, "x");
            FakeNow = kBase + usec * kTick;
            PacketRingStore(&packet.header, packet.data.data());
            RawsharkMngrWritePacket(&packet.header, packet.data.data());
        }
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((RawsharkMngrEntry(0)->counter.cursor.load() < static_cast<uint64_t>(total) ||
            RawsharkMngrEntry(1)->ReaderState.load() != ReaderEnded) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FakeNow = kBase + 49 * 50000 * kTick;
    TestSurface t(60, 41);
    LegendRect rects[2] = {};
    int visible[2] = {1, 1};
    ASSERT_EQ(GraphDraw(&t.s, &settings, e, 2, -1, rects, visible), 1);
    unsetenv("LUMO_HOME");
    EXPECT_STREQ(LegendLabels[0], "5 packets : udp");
    EXPECT_STREQ(LegendLabels[1], "error: rawshark: tcp.bogus is neither a field nor a protocol name.");
    ASSERT_EQ(t.recorder.Find(LegendLabels[1]).size(), 1u);
    EXPECT_EQ(t.recorder.Find(LegendLabels[1])[0].color, kGreen);
    for (int x = 15; x < 60; ++x) {
        int bin = 49 - (59 - x);
        EXPECT_EQ(t.RowsIn(x, kRed).front(), 40 - (bin % 4) * 8) << x;
    }
}

class OfflineFrame : public ::testing::Test {
protected:
    Settings settings = GraphTestSettings();
    void SetUp() override { PacketStoreReset(); }
    void TearDown() override { PacketStoreReset(); }
};

TEST_F(OfflineFrame, LabelsFollowTheRightEdgeAndColumnWidth) {
    TestSurface t(3000, 40);
    GraphTimeBase base{1, 0, 50000, 125000000};  // 2 min 5 s
    GraphDrawTimeAxis(&t.s, &settings, &base);
    auto labels = TopLabels(t);
    ASSERT_EQ(labels.size(), 26u);
    EXPECT_EQ(labels[0], std::make_pair(3000, std::string("2:05")));
    EXPECT_EQ(labels[1], std::make_pair(2900, std::string("2:00")));
    EXPECT_EQ(labels[13], std::make_pair(1700, std::string("1:00")));
    EXPECT_EQ(labels[25], std::make_pair(500, std::string("0")));
    EXPECT_EQ(t.RowsIn(499, kLine).size(), 40u);
    EXPECT_EQ(t.RowsIn(498, kLine).size(), 11u);  // nothing left of time 0

    TestSurface h(200, 40);  // hour columns: a label every 48 hours
    GraphTimeBase hours{1, 0, 3600000000, 200 * 3600000000LL};
    GraphDrawTimeAxis(&h.s, &settings, &hours);
    using L = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(TopLabels(h), (L{{192, "192:00:00"}, {144, "144:00:00"}, {96, "96:00:00"}, {48, "48:00:00"}}));
}

TEST_F(OfflineFrame, FoldsTheStoreIntoColumnsPerFilter) {
    TestSurface t(100, 101);
    LegendRect rects[2];
    ASSERT_EQ(GraphDrawOffline(&t.s, &settings, nullptr, 0, -1, rects, nullptr, 1000000, 99000000), 1);
    EXPECT_STREQ(LegendLabels[0], "1 bps : all");

    // one second per column; 600 bytes in second 50 (4800 bps) matched by
    // filter 0 in 2 packets, 400 bytes in second 52 by filter 1
    ASSERT_EQ(PacketStoreAdd(50000000, 300), 1);
    ASSERT_EQ(PacketStoreAdd(50500000, 300), 1);
    ASSERT_EQ(PacketStoreAdd(52200000, 400), 1);
    PacketStoreMark(0, 0);
    PacketStoreMark(1, 0);
    PacketStoreMark(2, 1);
    ASSERT_EQ(GraphDrawOffline(&t.s, &settings, nullptr, 0, -1, rects, nullptr, 1000000, 99000000), 1);
    EXPECT_STREQ(LegendLabels[0], "5K bps : all");
    EXPECT_EQ(t.RowsIn(50, kGreen).front(), 4);  // 4800 of 5000 on a 101-row graph
    EXPECT_EQ(t.RowsIn(52, kGreen).front(), 36);

    FilterEntry e[2] = {GraphTestEntry("tcp", UnitBps, kRed), GraphTestEntry("udp", UnitPacket, kBlue, 0, 4)};
    int visible[2] = {1, 1};
    ASSERT_EQ(GraphDrawOffline(&t.s, &settings, e, 2, -1, rects, visible, 1000000, 99000000), 1);
    EXPECT_STREQ(LegendLabels[0], "5K bps : tcp");
    EXPECT_STREQ(LegendLabels[1], "4 packets : udp");
    EXPECT_EQ(t.RowsIn(50, kRed).front(), 4);
    EXPECT_EQ(t.RowsIn(52, kBlue).front(), 75);  // 1 of 4
    EXPECT_EQ(t.RowsIn(52, kRed), std::vector<int>({100}));

    // scrolled so that [52.0, 52.5) is the rightmost of half-second columns
    ASSERT_EQ(GraphDrawOffline(&t.s, &settings, e, 2, -1, rects, visible, 500000, 52499999), 1);
    EXPECT_EQ(t.RowsIn(99, kBlue).front(), 75);
    EXPECT_EQ(t.RowsIn(96, kRed).front(), 4);  // 300 bytes per half second
    EXPECT_EQ(t.RowsIn(95, kRed).front(), 4);
    EXPECT_EQ(t.RowsIn(97, kRed), std::vector<int>({100}));
}

// The frame paints its traces band by band; it must leave exactly the
// pixels of the designed sequence: fill, axis, each trace in drawing order
// (the selected one last), legend.
TEST_F(OfflineFrame, FrameEqualsTheDesignedDrawingSequence) {
    uint32_t seed = 99;
    for (int64_t k = 0; k < 20000; ++k) {
        seed = seed * 1103515245u + 12345u;
        int64_t t = k * 1500;
        if (k % 997 == 0 && k > 4000) t -= 5000000;  // out of time order
        ASSERT_EQ(PacketStoreAdd(t, 40 + (seed >> 20) % 1500), 1);
        for (int i = 0; i < 5; ++i)
            if ((seed >> (4 + 3 * i)) % 3 == 0) PacketStoreMark(k, i);
    }
    FilterEntry e[5] = {GraphTestEntry("a", UnitBps, kRed), GraphTestEntry("b", UnitPacket, kGreen, 0, 3),
                        GraphTestEntry("c", UnitByte, kBlue), GraphTestEntry("d", UnitPps, 0xffff00),
                        GraphTestEntry("e", UnitBps, 0xff00ff, 0, 1)};
    int visible[5] = {1, 1, 0, 1, 1};
    const int selected = 3;
    // bands of 64 rows with a short last one; one band taller than the
    // picture; the 8-row bands of a very wide picture
    const std::pair<int, int> sizes[] = {{600, 250}, {40, 30}, {9000, 21}};
    for (auto [W, H] : sizes) {
        const int64_t C = 12000000 / W, R = 20000 * 1500 - 7000000;
        TestSurface frame(W, H), manual(W, H);
        LegendRect rects[5] = {}, manualRects[5] = {};
        ASSERT_EQ(GraphDrawOffline(&frame.s, &settings, e, 5, selected, rects, visible, C, R), 1);

        GraphTimeBase base{1, 0, C, R};
        DrawSurfaceFill(&manual.s, settings.backColor);
        GraphDrawTimeAxis(&manual.s, &settings, &base);
        int64_t first, last;
        PacketStoreFindRange(R, C, W, &first, &last);
        std::vector<uint64_t> buffer(W);
        for (int i : {4, 2, 1, 0, 3}) {
            int packets = e[i].unit == UnitPacket || e[i].unit == UnitPps;
            PacketStoreAccumulate(i, R, C, W, first, last, packets ? nullptr : buffer.data(),
                                  packets ? buffer.data() : nullptr);
            GraphDrawTrace(&manual.s, buffer.data(), W, C, &e[i], i, "", visible[i]);
        }
        GraphDrawLegend(&manual.s, e, 5, selected, manualRects, visible);
        ASSERT_EQ(0, memcmp(frame.s.pixels, manual.s.pixels, sizeof(uint32_t) * W * H)) << W << "x" << H;
        if (W == 600) {
            EXPECT_GT(frame.Lit(0xff00ff).size(), 100u);  // the clipped fixed-scale trace is there
        }
    }
}

}  // namespace
