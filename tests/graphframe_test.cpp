// SPDX-License-Identifier: GPL-2.0-or-later
// graphframe_test.cpp - whole frames: the live one over the real packet ring,
// counters and rawshark manager with a fake performance counter, the offline
// one over the real packet store; grid rows, labelled time columns (also on
// the local clock), traces, legend, the readout drawn after a frame, the
// live CSV of the intervals shown, and the sample buffer across width
// changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <sstream>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "graph/graph.h"
#include "graph/readout.h"
#include "pipeline/packetring.h"
#include "pipeline/packetstore.h"
#include "pipeline/rawsharkmngr_internal.h"
#include "platform/platform.h"
#include "shell/liveexport.h"
#include "shell/liverows.h"
#include "tests/support/graph_support.h"
#include "tests/support/offline_support.h"
#include "tests/support/pipeline_packets.h"
#include "tests/support/testdir.h"
#include "tests/support/wait.h"

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

// The local time zone for one scope (TZ, then back to the system's).
struct Zone {
    explicit Zone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    ~Zone() {
        unsetenv("TZ");
        tzset();
    }
};
const char* const kNepal = "<+0545>-5:45";          // a zone whose half hours are not UTC's
constexpr int64_t kEpoch = 1600000000LL * 1000000;  // 2020-09-13 12:26:40 UTC

using Lines = std::vector<std::pair<std::string, uint32_t>>;

// The readout for the pointer at (x, y): every text it drew with its colour.
Lines ReadoutAt(TestSurface& t, const Settings& settings, int x, int y = 50) {
    t.recorder.calls.clear();
    EXPECT_EQ(TestReadout(&t.s, settings, x, y), 1) << x;
    Lines out;
    for (const RecordedText& c : t.recorder.calls) {
        out.push_back({c.text, c.color});
        // the box stays inside the surface
        EXPECT_GE(c.x, 0) << c.text;
        EXPECT_LE(c.x + 6 * static_cast<int>(c.text.size()), t.s.width) << c.text;
    }
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
    GraphView base;
    LiveViewAt(&base, FakeNow, settings.samplingInterval, 50);
    GraphDrawTimeAxis(&t.s, GraphTestStyle(settings), &base);  // no packet yet: rows only
    std::vector<int> rows = t.RowsIn(25, kLine);
    EXPECT_EQ(rows, std::vector<int>({0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 99}));
    EXPECT_EQ(t.Lit(kLine).size(), 11u * 50);
    EXPECT_TRUE(t.recorder.calls.empty());
}

TEST_F(LiveFrame, EmptySetDrawsAllTrafficInGreenBps) {
    TestSurface t(300, 60);
    LegendRect rects[1] = {{-1, -1, -1, -1}};
    ASSERT_EQ(TestDrawLive(&t.s, settings, nullptr, 0, -1, rects, nullptr), 1);
    EXPECT_STREQ(GraphLegendLabel(0), "1 bps : all");
    EXPECT_EQ(t.RowsIn(150, kGreen), std::vector<int>({59}));
    EXPECT_EQ(rects[0].left, -1);  // the window's rectangles are not the "all" row's

    // the first packet 12 s ago: labels 10, 5 and 0 every 100 columns, the one
    // reading 0 in the column the packet's traffic shows in, nothing left of it
    Packet(0, 1000);
    FakeNow = kBase + 12 * 1000000 * kTick;
    t.recorder.calls.clear();
    ASSERT_EQ(TestDrawLive(&t.s, settings, nullptr, 0, -1, rects, nullptr), 1);
    using L = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(TopLabels(t), (L{{260, "10"}, {160, "5"}, {60, "0"}}));
    EXPECT_EQ(t.recorder.Find("0")[1].y, 60 - 13);
    EXPECT_EQ(t.recorder.Find("0")[0].color, settings.charColor);
    EXPECT_STREQ(GraphLegendLabel(0), "200K bps : all");
    EXPECT_EQ(t.RowsIn(59, kGreen).front(), 12);  // 160000 bps of 200K on 60 rows
    for (int x = 15; x < 59; ++x) EXPECT_EQ(t.RowsIn(x, kGreen), std::vector<int>({59})) << x;
    EXPECT_EQ(t.RowsIn(58, kLine), std::vector<int>({0, 6, 12, 18, 24, 30, 36, 42, 48, 54}));
}

TEST_F(LiveFrame, LabelStepFollowsTheSamplingInterval) {
    Packet(0, 100);
    FakeNow = kBase + 12 * 1000000 * kTick;
    GraphView base;
    using L = std::vector<std::pair<int, std::string>>;
    {
        settings.samplingInterval = 49999;  // every 2 s
        TestSurface t(300, 40);
        LiveViewAt(&base, FakeNow, settings.samplingInterval, 300);
        GraphDrawTimeAxis(&t.s, GraphTestStyle(settings), &base);
        EXPECT_EQ(TopLabels(t),
                  (L{{300, "12"}, {260, "10"}, {220, "8"}, {180, "6"}, {140, "4"}, {100, "2"}, {60, "0"}}));
    }
    {
        settings.samplingInterval = 999;  // below 1 ms: rows only
        TestSurface t(300, 40);
        LiveViewAt(&base, FakeNow, settings.samplingInterval, 300);
        GraphDrawTimeAxis(&t.s, GraphTestStyle(settings), &base);
        EXPECT_TRUE(t.recorder.calls.empty());
        EXPECT_EQ(t.Lit(kLine).size(), 11u * 300);
    }
    {
        settings.samplingInterval = 1000;  // every 100 columns, tenths of a second
        TestSurface t(300, 40);
        LiveViewAt(&base, FakeNow, settings.samplingInterval, 300);
        GraphDrawTimeAxis(&t.s, GraphTestStyle(settings), &base);
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
    ASSERT_EQ(TestDrawLive(&t.s, settings, e, 3, -1, rects, all), 1);
    EXPECT_EQ(traceColours(), std::set<uint32_t>({kRed}));  // lower-numbered on top
    EXPECT_STREQ(GraphLegendLabel(2), "2K bytes : ");
    EXPECT_EQ(rects[2].top, 36);
    EXPECT_EQ(rects[2].right, 20 + 6 * 11);

    int hidden[3] = {0, 1, 1};
    ASSERT_EQ(TestDrawLive(&t.s, settings, e, 3, -1, rects, hidden), 1);
    EXPECT_EQ(traceColours(), std::set<uint32_t>({kGreen}));
    EXPECT_EQ(t.At(10, 8), 0u);  // an outlined box
    EXPECT_EQ(t.At(6, 10), kRed);

    t.recorder.calls.clear();
    ASSERT_EQ(TestDrawLive(&t.s, settings, e, 3, 2, rects, all), 1);
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
    ASSERT_EQ(TestDrawLive(&t.s, settings, nullptr, 0, -1, rects, nullptr), 1);
    for (int x = 15; x < 36; ++x) EXPECT_EQ(t.RowsIn(x, kGreen), std::vector<int>({49})) << x;
    for (int x = 36; x < 100; ++x) EXPECT_EQ(t.At(x, 10), kGreen) << x;  // 16000 of 20K bps
}

TEST_F(LiveFrame, FrameAfterAWidthChangeIsComplete) {
    Traffic(300, 100);
    TestSurface t(80, 50);
    LegendRect rects[1];
    ASSERT_EQ(TestDrawLive(&t.s, settings, nullptr, 0, -1, rects, nullptr), 1);
    EXPECT_EQ(GraphSampleBufferWidth(), 80);
    t.Resize(120, 50);
    ASSERT_EQ(TestDrawLive(&t.s, settings, nullptr, 0, -1, rects, nullptr), 1);
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
    ASSERT_TRUE(TestWaitFor(
        [&] {
            return RawsharkMngrEntry(0)->counter.cursor.load() >= static_cast<uint64_t>(total) &&
                   RawsharkMngrEntry(1)->ReaderState.load() == ReaderEnded;
        },
        60000))
        << "udp judged " << RawsharkMngrEntry(0)->counter.cursor.load() << " of " << total
        << " packets; the refused filter's reader in state " << RawsharkMngrEntry(1)->ReaderState.load();
    FakeNow = kBase + 49 * 50000 * kTick;
    TestSurface t(60, 41);
    LegendRect rects[2] = {};
    int visible[2] = {1, 1};
    ASSERT_EQ(TestDrawLive(&t.s, settings, e, 2, -1, rects, visible), 1);
    unsetenv("LUMO_HOME");
    EXPECT_STREQ(GraphLegendLabel(0), "5 packets : udp");
    EXPECT_STREQ(GraphLegendLabel(1), "error: rawshark: tcp.bogus is neither a field nor a protocol name.");
    char tip[kLegendLabelSize];
    ASSERT_EQ(GraphLegendTip(1, tip, sizeof tip), 1);
    EXPECT_STREQ(tip, "rawshark: tcp.bogus is neither a field nor a protocol name.");
    ASSERT_EQ(t.recorder.Find(GraphLegendLabel(1)).size(), 1u);
    EXPECT_EQ(t.recorder.Find(GraphLegendLabel(1))[0].color, kGreen);
    for (int x = 15; x < 60; ++x) {
        int bin = 49 - (59 - x);
        EXPECT_EQ(t.RowsIn(x, kRed).front(), 40 - (bin % 4) * 8) << x;
    }
}

// Calculations live: the one judge's field values go into the counters'
// bins, and each bin holds what tshark gives for the same packets, written
// to a capture file, aggregated per interval.
TEST_F(LiveFrame, CalculationsCountAsTsharkGivesOnTheSamePackets) {
    std::string home = TestDirNew();
    setenv("LUMO_HOME", home.c_str(), 1);  // no preferences
    PlatformSetProgramFolder(LUMO_BIN_DIR);
    settings.rawshark.onePass = 1;
    FilterEntry e[3] = {GraphTestEntry("tcp", UnitByte, kRed), GraphTestEntry("", UnitByte, kGreen),
                        GraphTestEntry("udp", UnitByte, kBlue)};
    e[0].calc = CalcSum;
    snprintf(e[0].calcField, sizeof e[0].calcField, "tcp.len");
    e[1].calc = CalcAvg;
    snprintf(e[1].calcField, sizeof e[1].calcField, "frame.time_delta");
    e[2].calc = CalcMax;
    snprintf(e[2].calcField, sizeof e[2].calcField, "udp.length");
    Start(65536, 3, e);
    std::vector<PipelineTestPacket> packets = PipelineTestMakePackets(700, 17);
    const int64_t t0 = int64_t{packets[0].header.ts_sec} * 1000000 + packets[0].header.ts_usec;
    int64_t last = 0;
    for (const PipelineTestPacket& p : packets) {
        last = int64_t{p.header.ts_sec} * 1000000 + p.header.ts_usec - t0;
        FakeNow = kBase + last * kTick;
        PacketRingStore(&p.header, p.data.data());
        RawsharkMngrWritePacket(&p.header, p.data.data());
    }
    ASSERT_TRUE(TestWaitFor(
        [&] {
            for (int i = 0; i < 3; ++i) {
                if (RawsharkMngrEntry(i)->counter.cursor.load() < packets.size()) return false;
            }
            return true;
        },
        60000))
        << "the judge did not judge every packet";
    const int bins = static_cast<int>(last / settings.samplingInterval) + 1;
    GraphView view;
    LiveViewAt(&view, FakeNow, settings.samplingInterval, bins);
    GraphRows rows{};
    ASSERT_EQ(LiveRowsFill(&rows, &view, FakeNow, settings.binCount, e, 3, nullptr, -1), 1);
    std::string pcap = home + "/same.pcap";
    ASSERT_TRUE(PipelineTestWritePcap(pcap, packets));
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(e[i].calcField);
        EXPECT_EQ(rows.filter[i].calcKind, i == 1 ? CalcKindTime : CalcKindInteger);
        std::string out;
        std::string cmd = "tshark -n -r " + OfflineShellQuote(pcap);
        if (e[i].filterText[0]) cmd += std::string(" -Y ") + e[i].filterText;
        cmd += std::string(" -T fields -E occurrence=a -e frame.time_epoch -e ") + e[i].calcField + " 2>/dev/null";
        ASSERT_EQ(OfflineRunCommand(cmd, &out), 0);
        std::vector<CalcCell> want(static_cast<size_t>(bins));
        std::istringstream text(out);
        for (std::string line; std::getline(text, line);) {
            size_t tab = line.find('\t');
            if (tab == std::string::npos || tab + 1 >= line.size()) continue;
            double at = strtod(line.c_str(), nullptr);
            int64_t usec = static_cast<int64_t>(llround(at * 1e6)) - t0;
            int64_t bin = usec / settings.samplingInterval;
            std::istringstream values(line.substr(tab + 1));
            for (std::string value; std::getline(values, value, ',');) {
                long double x = strtold(value.c_str(), nullptr);
                if (i == 1) x = roundl(x * 1e9L);  // seconds as the judge's nanoseconds
                CalcCell one{1, x, x, x};
                CalcCellAdd(&want[static_cast<size_t>(bin)], &one);
            }
        }
        for (int b = 0; b < bins; ++b) {
            const CalcCell& got = rows.filter[i].calc[bins - 1 - b];
            long double a, w;
            int hasGot = CalcValue(&got, e[i].calc, &a),
                hasWant = CalcValue(&want[static_cast<size_t>(b)], e[i].calc, &w);
            ASSERT_EQ(hasGot, hasWant) << "bin " << b;
            if (hasWant) {
                EXPECT_NEAR(static_cast<double>(a), static_cast<double>(w), 1e-6 * fabs(static_cast<double>(w)) + 1e-9)
                    << "bin " << b;
            }
        }
    }
    GraphRowsFree(&rows);
    PlatformSetProgramFolder(nullptr);
    unsetenv("LUMO_HOME");
}

// Fault: a readout that names the column's bin from the pointer alone (or
// keeps it while the graph moves) reads the wrong interval once the data
// scrolls under a still pointer.
TEST_F(LiveFrame, ReadoutNamesTheColumnUnderThePointerAndFollowsTheData) {
    Zone utc("UTC");
    FilterEntry e[3] = {GraphTestEntry("", UnitBps, kRed), GraphTestEntry("", UnitPacket, kBlue),
                        GraphTestEntry("", UnitByte, kGreen)};
    Start(65536, 3, e);
    Packet(1000, 1000);  // bin 0, in the first column
    Packet(120 * 50000 + 1000, 700);
    Packet(199 * 50000 + 1000, 1500);  // bin 199, the newest
    Packet(199 * 50000 + 2000, 1523);
    FakeNow = kBase + (1000 + 199 * 50000 + 40000) * kTick;
    TestSurface t(200, 100);
    LegendRect rects[3] = {};
    int visible[3] = {1, 1, 0};  // the hidden filter gets no line
    ASSERT_EQ(TestDrawLive(&t.s, settings, e, 3, -1, rects, visible), 1);
    std::vector<uint32_t> frame(t.s.pixels, t.s.pixels + 200 * 100);
    for (auto [x, y] : {std::pair{-1, 50}, {200, 50}, {5, 100}, {5, -1}}) {
        EXPECT_EQ(TestReadout(&t.s, settings, x, y), 0);
    }
    EXPECT_EQ(0, memcmp(frame.data(), t.s.pixels, frame.size() * 4));  // outside: the frame as it was

    const uint32_t text = settings.charColor;
    EXPECT_EQ(
        ReadoutAt(t, settings, 0),
        (Lines{
            {"0.000 s", text}, {"2020-09-13 12:26:40.001", text}, {"all  160K bps", kRed}, {"all  1 packets", kBlue}}));
    memcpy(t.s.pixels, frame.data(), frame.size() * 4);  // the frame without the last readout
    EXPECT_EQ(
        ReadoutAt(t, settings, 100),
        (Lines{{"5.000 s", text}, {"2020-09-13 12:26:45.001", text}, {"all  0 bps", kRed}, {"all  0 packets", kBlue}}));
    for (int y = 0; y < 40; y += 2) EXPECT_EQ(t.At(100, y), text) << y;  // the column's line, above the box
    const Lines newest{{"9.950 s", text},
                       {"2020-09-13 12:26:49.951", text},
                       {"all  484K bps", kRed},
                       {"all  2 packets", kBlue}};  // 3023 bytes in 50 ms
    EXPECT_EQ(ReadoutAt(t, settings, 199), newest);
    char tip[kLegendLabelSize];
    ASSERT_EQ(GraphLegendTip(0, tip, sizeof tip), 1);
    EXPECT_STREQ(tip, "full scale: 500K bps, top of the graph");

    // one interval later the same data stands one column to the left
    FakeNow += 50000 * kTick;
    ASSERT_EQ(TestDrawLive(&t.s, settings, e, 3, -1, rects, visible), 1);
    EXPECT_EQ(ReadoutAt(t, settings, 198), newest);

    char out[48];
    GraphReadoutValueText(999999, UnitBps, out, sizeof out);
    EXPECT_STREQ(out, "1.00M bps");
    GraphReadoutValueText(999, UnitPps, out, sizeof out);
    EXPECT_STREQ(out, "999 pps");
    GraphReadoutValueText(123456789, UnitByte, out, sizeof out);
    EXPECT_STREQ(out, "123456789 bytes");
    GraphReadoutElapsedText(-150000, 50000, out, sizeof out);
    EXPECT_STREQ(out, "-0.150 s");
    GraphReadoutElapsedText(3723000500, 500, out, sizeof out);
    EXPECT_STREQ(out, "1:02:03.000500");
}

// Fault: labels on steps of the axis time from a base that is not round, or
// in UTC instead of the local zone, stand beside the round clock times.
TEST_F(LiveFrame, TimeOfDayLabelsStandOnRoundLocalClockTimes) {
    settings.timeOfDay = 1;
    using L = std::vector<std::pair<int, std::string>>;
    Packet(300000, 100);  // packet 0 at 12:26:40.3 UTC
    FakeNow = kBase + (300000 + 12000000) * kTick;
    const struct {
        const char* zone;
        L offline, live;
    } cases[] = {
        {"UTC",
         {{248, "14:30:00"}, {188, "14:00:00"}, {128, "13:30:00"}, {68, "13:00:00"}, {8, "12:30:00"}},
         {{254, "12:26:50"}, {154, "12:26:45"}}},
        {kNepal,
         {{278, "20:30:00"}, {218, "20:00:00"}, {158, "19:30:00"}, {98, "19:00:00"}, {38, "18:30:00"}},
         {{254, "18:11:50"}, {154, "18:11:45"}}},
    };
    for (const auto& c : cases) {
        Zone zone(c.zone);
        TestSurface offline(300, 40);  // 30 s columns: a label every 30 minutes
        GraphView file{300, 1, 1, 30000000, 8999000000LL, kEpoch, 0};
        GraphDrawTimeAxis(&offline.s, GraphTestStyle(settings), &file);
        EXPECT_EQ(TopLabels(offline), c.offline) << c.zone;
        TestSurface live(300, 40);  // 50 ms columns: every 5 s
        GraphView now;
        LiveViewAt(&now, FakeNow, settings.samplingInterval, 300);  // packet 0's clock time is the base
        GraphDrawTimeAxis(&live.s, GraphTestStyle(settings), &now);
        EXPECT_EQ(TopLabels(live), c.live) << c.zone;
    }
    char date[32];
    GraphFormatClock(kEpoch, 86400000000LL, 1, date);  // steps of days name the day
    EXPECT_STREQ(date, "2020-09-13");
}

TEST_F(LiveFrame, CsvHoldsTheIntervalsShownOldestFirst) {
    Zone utc("UTC");
    FilterEntry e[2] = {GraphTestEntry("", UnitByte, kRed), GraphTestEntry("", UnitPacket, kBlue)};
    Start(65536, 2, e);
    GraphRows frame{};
    auto csv = [&](int columns) {
        char* text = nullptr;
        size_t length = 0;
        FILE* out = open_memstream(&text, &length);
        char error[kErrorLen];
        GraphView view;
        LiveViewAt(&view, FakeNow, settings.samplingInterval, columns);
        EXPECT_EQ(LiveRowsFill(&frame, &view, FakeNow, settings.binCount, e, 2, nullptr, -1), 1);
        EXPECT_EQ(LiveExportWriteCsv(out, &view, &frame, error), 1) << error;
        fclose(out);
        std::string s(text, length);
        free(text);
        return s;
    };
    const std::string header =
        "interval_start_time,interval_start_us,all_packets,all_bytes,\" packets\",\" bytes\",\" packets\",\" bytes\","
        "dropped_packets\n";
    EXPECT_EQ(csv(10), header);  // before the first packet
    EXPECT_STREQ(frame.notice, "");
    Packet(1000, 100);
    // the kernel missed 7 packets, learnt of in bin 1 and in bin 2
    FakeNow = kBase + 60000 * kTick;
    PacketRingAddDrops(4, 0);
    Packet(101000, 100);
    Packet(102000, 50);
    PacketRingAddDrops(3, 0);
    FakeNow = kBase + (1000 + 175000) * kTick;  // in bin 3
    const std::string rows[] = {
        "2020-09-13T12:26:40.001000+00:00,0,1,100,1,100,1,100,0\n",
        "2020-09-13T12:26:40.051000+00:00,50000,0,0,0,0,0,0,4\n",
        "2020-09-13T12:26:40.101000+00:00,100000,2,150,2,150,2,150,3\n",
        "2020-09-13T12:26:40.151000+00:00,150000,0,0,0,0,0,0,0\n",
    };
    EXPECT_EQ(csv(10), header + rows[0] + rows[1] + rows[2] + rows[3]);  // none before the first packet
    EXPECT_STREQ(frame.notice, "dropped 7 (kernel)");
    EXPECT_EQ(csv(2), header + rows[2] + rows[3]);
    Zone nepal(kNepal);
    EXPECT_EQ(csv(1), header + "2020-09-13T18:11:40.151000+05:45,150000,0,0,0,0,0,0,0\n");
    // the notice stands under the legend, and its tip says what helps
    TestSurface t(200, 100);
    LegendRect rects[2] = {};
    ASSERT_EQ(TestDrawLive(&t.s, settings, e, 2, -1, rects, nullptr), 1);
    ASSERT_EQ(t.recorder.Find("dropped 7 (kernel)").size(), 1u);
    EXPECT_EQ(t.recorder.Find("dropped 7 (kernel)")[0].y, 4 + 16 * 2);
    EXPECT_EQ(t.recorder.Find("dropped 7 (kernel)")[0].color, 0xff8c00u);
    EXPECT_NE(std::string(GraphLastFrame()->noticeTip).find("capture filter"), std::string::npos);
    PacketRingReset();  // a restart counts afresh
    EXPECT_EQ(csv(10), header);
    EXPECT_STREQ(frame.notice, "");
    GraphRowsFree(&frame);
}

class OfflineFrame : public ::testing::Test {
protected:
    Settings settings = GraphTestSettings();
    void SetUp() override { PacketStoreReset(); }
    void TearDown() override { PacketStoreReset(); }
};

TEST_F(OfflineFrame, LabelsFollowTheRightEdgeAndColumnWidth) {
    TestSurface t(3000, 40);
    GraphView base{3000, 1, 1, 50000, 125000000, 0, 0};  // 2 min 5 s
    GraphDrawTimeAxis(&t.s, GraphTestStyle(settings), &base);
    auto labels = TopLabels(t);
    ASSERT_EQ(labels.size(), 26u);
    EXPECT_EQ(labels[0], std::make_pair(3000, std::string("2:05")));
    EXPECT_EQ(labels[1], std::make_pair(2900, std::string("2:00")));
    EXPECT_EQ(labels[13], std::make_pair(1700, std::string("1:00")));
    EXPECT_EQ(labels[25], std::make_pair(500, std::string("0")));
    EXPECT_EQ(t.RowsIn(499, kLine).size(), 40u);
    EXPECT_EQ(t.RowsIn(498, kLine).size(), 11u);  // nothing left of time 0

    TestSurface h(200, 40);  // hour columns: a label every 48 hours
    GraphView hours{200, 1, 1, 3600000000, 200 * 3600000000LL, 0, 0};
    GraphDrawTimeAxis(&h.s, GraphTestStyle(settings), &hours);
    using L = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(TopLabels(h), (L{{192, "192:00:00"}, {144, "144:00:00"}, {96, "96:00:00"}, {48, "48:00:00"}}));
}

TEST_F(OfflineFrame, FoldsTheStoreIntoColumnsPerFilter) {
    TestSurface t(100, 101);
    LegendRect rects[2];
    ASSERT_EQ(TestDrawOffline(&t.s, settings, nullptr, 0, -1, rects, nullptr, 1000000, 99000000), 1);
    EXPECT_STREQ(GraphLegendLabel(0), "1 bps : all");

    // one second per column; 600 bytes in second 50 (4800 bps) matched by
    // filter 0 in 2 packets, 400 bytes in second 52 by filter 1
    ASSERT_EQ(PacketStoreAdd(50000000, 300), 1);
    ASSERT_EQ(PacketStoreAdd(50500000, 300), 1);
    ASSERT_EQ(PacketStoreAdd(52200000, 400), 1);
    PacketStoreMark(0, 0);
    PacketStoreMark(1, 0);
    PacketStoreMark(2, 1);
    ASSERT_EQ(TestDrawOffline(&t.s, settings, nullptr, 0, -1, rects, nullptr, 1000000, 99000000), 1);
    EXPECT_STREQ(GraphLegendLabel(0), "5K bps : all");
    EXPECT_EQ(t.RowsIn(50, kGreen).front(), 4);  // 4800 of 5000 on a 101-row graph
    EXPECT_EQ(t.RowsIn(52, kGreen).front(), 36);

    FilterEntry e[2] = {GraphTestEntry("tcp", UnitBps, kRed), GraphTestEntry("udp", UnitPacket, kBlue, 0, 4)};
    int visible[2] = {1, 1};
    ASSERT_EQ(TestDrawOffline(&t.s, settings, e, 2, -1, rects, visible, 1000000, 99000000), 1);
    EXPECT_STREQ(GraphLegendLabel(0), "5K bps : tcp");
    EXPECT_STREQ(GraphLegendLabel(1), "4 packets : udp");
    EXPECT_EQ(t.RowsIn(50, kRed).front(), 4);
    EXPECT_EQ(t.RowsIn(52, kBlue).front(), 75);  // 1 of 4
    EXPECT_EQ(t.RowsIn(52, kRed), std::vector<int>({100}));

    // scrolled so that [52.0, 52.5) is the rightmost of half-second columns
    ASSERT_EQ(TestDrawOffline(&t.s, settings, e, 2, -1, rects, visible, 500000, 52499999), 1);
    EXPECT_EQ(t.RowsIn(99, kBlue).front(), 75);
    EXPECT_EQ(t.RowsIn(96, kRed).front(), 4);  // 300 bytes per half second
    EXPECT_EQ(t.RowsIn(95, kRed).front(), 4);
    EXPECT_EQ(t.RowsIn(97, kRed), std::vector<int>({100}));
}

TEST_F(OfflineFrame, ReadoutNamesTheColumnUnderThePointer) {
    Zone utc("UTC");
    PacketStoreSetBaseTime(kEpoch);
    ASSERT_EQ(PacketStoreAdd(0, 300), 1);  // second 0
    ASSERT_EQ(PacketStoreAdd(500000, 200), 1);
    ASSERT_EQ(PacketStoreAdd(399200000, 1000), 1);  // second 399, the rightmost column
    PacketStoreMark(0, 0);
    PacketStoreMark(1, 0);
    PacketStoreMark(1, 1);
    PacketStoreMark(2, 1);
    FilterEntry e[2] = {GraphTestEntry("tcp", UnitByte, kRed),
                        GraphTestEntry("udp and not (ip.src == 10.0.0.1) and frame.len > 1", UnitPps, kBlue)};
    int visible[2] = {1, 1};
    LegendRect rects[2];
    TestSurface t(400, 80);
    ASSERT_EQ(TestDrawOffline(&t.s, settings, e, 2, -1, rects, visible, 1000000, 399500000), 1);
    const uint32_t text = settings.charColor;
    const std::string udp = "udp and not (ip.src == 10.0.0.1) and ...  ";
    EXPECT_EQ(
        ReadoutAt(t, settings, 0),
        (Lines{
            {"0.000 s", text}, {"2020-09-13 12:26:40.000", text}, {"tcp  500 bytes", kRed}, {udp + "1 pps", kBlue}}));
    EXPECT_EQ(
        ReadoutAt(t, settings, 200),
        (Lines{{"3:20.000", text}, {"2020-09-13 12:30:00.000", text}, {"tcp  0 bytes", kRed}, {udp + "0 pps", kBlue}}));
    EXPECT_EQ(
        ReadoutAt(t, settings, 399, 79),
        (Lines{{"6:39.000", text}, {"2020-09-13 12:33:19.000", text}, {"tcp  0 bytes", kRed}, {udp + "1 pps", kBlue}}));
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
    ASSERT_EQ(PacketStoreSortByTime(), 1);  // as a finished reading run leaves the store
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
        ASSERT_EQ(TestDrawOffline(&frame.s, settings, e, 5, selected, rects, visible, C, R), 1);

        GraphView base{W, 1, 1, C, R, 0, 0};
        DrawSurfaceFill(&manual.s, settings.backColor);
        GraphDrawTimeAxis(&manual.s, GraphTestStyle(settings), &base);
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
