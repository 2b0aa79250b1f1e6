// SPDX-License-Identifier: GPL-2.0-or-later
// graph_test.cpp - full scale, units, labels, trace shape and legend of the
// renderer, and the time-axis texts and steps.
#include "graph/graph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/graph_support.h"

namespace {

constexpr uint32_t kRed = 0xff0000;

// Label of a trace over the newest-first column values, not drawn.
std::string LabelOf(std::vector<uint64_t> columns, const FilterEntry& e, int64_t interval = 50000,
                    const char* error = "") {
    TestSurface t(4, 4);
    GraphDrawTrace(&t.s, columns.data(), static_cast<int>(columns.size()), interval, &e, 3, error, 0);
    return GraphLegendLabel(3);
}

// The full scale a label names ("50K bps : x" -> 50000).
double ScaleOfLabel(const std::string& label) {
    std::string suffix = label.substr(1, label.find(' ') - 1);
    for (int i = 0; i < 27; ++i)
        if (suffix == ScaleSuffixes[i]) return (label[0] - '0') * std::pow(10.0, i);
    return -1;
}

TEST(GraphScale, AutoScaleTakesTheNextOneTwoFiveValue) {
    FilterEntry e = GraphTestEntry("f", UnitByte, kRed);
    EXPECT_EQ(LabelOf({999}, e), "1K bytes : f");
    EXPECT_EQ(LabelOf({0, 1000, 3}, e), "1K bytes : f");
    EXPECT_EQ(LabelOf({1500}, e), "2K bytes : f");
    EXPECT_EQ(LabelOf({5001}, e), "10K bytes : f");
    EXPECT_EQ(LabelOf({0, 0, 0}, e), "1 bytes : f");
    EXPECT_EQ(LabelOf({9000000000000000000ull}, e), "10E bytes : f");
    // the largest column counts as a signed value: a wrapped count is no maximum
    EXPECT_EQ(LabelOf({~0ull, 17}, e), "20 bytes : f");
    for (uint64_t m = 1; m < 3000000; m = m * 1.013 + 1) {
        double f = ScaleOfLabel(LabelOf({m}, e));
        EXPECT_GE(f, static_cast<double>(m)) << m;
        // the series value below F lies under the maximum, or on it when the
        // logarithm of a series value rounds up
        double below = f / (LabelOf({m}, e)[0] == '5' ? 2.5 : 2.0);
        EXPECT_LE(below, static_cast<double>(m)) << m;
    }
}

TEST(GraphScale, UnitsConvertIn64BitsMultiplyingFirst) {
    // a fixed scale equal to the value puts the newest point on row 0
    auto newestRow = [](uint64_t raw, int32_t unit, int64_t scale, int64_t interval) {
        TestSurface t(2, 11);
        FilterEntry e = GraphTestEntry("f", unit, kRed, 0, scale);
        std::vector<uint64_t> b = {raw, raw};
        GraphDrawTrace(&t.s, b.data(), 2, interval, &e, 0, "", 1);
        std::vector<int> rows = t.RowsIn(1, kRed);
        return rows.empty() ? -1 : rows[0];
    };
    EXPECT_EQ(newestRow(1, UnitBps, 160, 50000), 0);  // 1 byte per 50 ms is 160 bps
    EXPECT_EQ(newestRow(1, UnitBps, 161, 50000), 1);
    EXPECT_EQ(newestRow(1, UnitPps, 20, 50000), 0);
    EXPECT_EQ(newestRow(3, UnitBps, 8, 3000000), 0);  // 24000000 / 3000000, not 3 * 2
    EXPECT_EQ(newestRow(7, UnitByte, 7, 1), 0);
    EXPECT_EQ(newestRow(7, UnitPacket, 14, 1), 5);
    EXPECT_EQ(newestRow(7, 9, 1, 50000), 10);  // an unknown unit plots 0
    EXPECT_EQ(LabelOf({7}, GraphTestEntry("f", 9, kRed)), "1  : f");
}

TEST(GraphScale, LabelsNameScaleUnitAndFilterOrTheError) {
    EXPECT_EQ(LabelOf({250}, GraphTestEntry("tcp.port == 80", UnitBps, kRed)), "50K bps : tcp.port == 80");
    EXPECT_EQ(LabelOf({1}, GraphTestEntry("udp", UnitPps, kRed, 0, 1000000)), "1000000 pps : udp");
    EXPECT_EQ(LabelOf({1}, GraphTestEntry("arp", UnitPacket, kRed)), "1 packets : arp");
    EXPECT_EQ(LabelOf({1}, GraphTestEntry("tcp", UnitBps, kRed), 50000, "rawshark: bad filter"),
              "error: rawshark: bad filter");
    std::string longText(255, 'x');
    EXPECT_EQ(LabelOf({1}, GraphTestEntry(longText.c_str(), UnitByte, kRed)), "1 bytes : " + longText);
}

// Fault: a stored fixed scale of 0 divided every value by zero (and a
// negative one turned the trace upside down); both now draw as a scale of 1.
TEST(GraphScale, NonPositiveFixedScaleDrawsAsOne) {
    for (int64_t scale : {0, -5}) {
        TestSurface t(3, 10);
        FilterEntry e = GraphTestEntry("f", UnitByte, kRed, 0, scale);
        std::vector<uint64_t> b = {0, 1, 0};
        GraphDrawTrace(&t.s, b.data(), 3, 50000, &e, 0, "", 1);
        EXPECT_EQ(std::string(GraphLegendLabel(0)), std::to_string(scale) + " bytes : f");
        EXPECT_EQ(t.RowsIn(2, kRed), std::vector<int>({9}));
        EXPECT_EQ(t.RowsIn(1, kRed).front(), 0);
    }
}

TEST(GraphTrace, VerticalJoinsStandInTheHigherPointsColumn) {
    TestSurface t(4, 11);
    FilterEntry e = GraphTestEntry("f", UnitByte, kRed, 0, 10);
    std::vector<uint64_t> b = {10, 0, 5, 5};  // newest first: x = 3, 2, 1, 0
    GraphDrawTrace(&t.s, b.data(), 4, 50000, &e, 0, "", 1);
    std::set<std::pair<int, int>> want = {{0, 5}};
    for (int y = 0; y <= 10; ++y) want.insert({3, y});  // newer point higher: its column
    want.insert({2, 10});
    for (int y = 5; y <= 10; ++y) want.insert({1, y});  // older point higher: the older column
    EXPECT_EQ(t.Lit(kRed), want);
}

TEST(GraphTrace, ValueAboveTheFixedScaleIsClippedAtRowZero) {
    TestSurface t(3, 10);
    FilterEntry e = GraphTestEntry("udp", UnitPps, kRed, 0, 1000000);
    std::vector<uint64_t> b = {0, 100000, 0};  // 100000 packets per 50 ms = 2000000 pps
    GraphDrawTrace(&t.s, b.data(), 3, 50000, &e, 0, "", 1);
    EXPECT_EQ(t.RowsIn(1, kRed), std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(t.RowsIn(0, kRed), std::vector<int>({9}));
    EXPECT_EQ(t.RowsIn(2, kRed), std::vector<int>({9}));
}

TEST(GraphLegend, BoxesLabelsRectanglesAndUnderline) {
    TestSurface t(200, 60);
    FilterEntry e[3] = {GraphTestEntry("a", UnitByte, 0x00ff00), GraphTestEntry("bb", UnitByte, kRed),
                        GraphTestEntry("c", UnitByte, 0x0000ff)};
    GraphSetLegendLabel(0, "zero");
    GraphSetLegendLabel(1, "one!");
    GraphSetLegendLabel(2, "two");
    LegendRect rects[3];
    int visible[3] = {1, 0, 1};
    GraphDrawLegend(&t.s, e, 3, 2, rects, visible);
    EXPECT_EQ(t.Lit(0x00ff00).size(), 81u);  // a filled 9 x 9 box at 6..14, 6..14
    EXPECT_EQ(t.At(6, 6), 0x00ff00u);
    EXPECT_EQ(t.At(14, 14), 0x00ff00u);
    std::set<std::pair<int, int>> outline;  // hidden: the box's outline only
    for (int k = 0; k <= 8; ++k) outline.insert({{6 + k, 22}, {6 + k, 30}, {6, 22 + k}, {14, 22 + k}});
    EXPECT_EQ(t.Lit(kRed), outline);
    EXPECT_EQ(rects[1].left, 20);
    EXPECT_EQ(rects[1].top, 20);
    EXPECT_EQ(rects[1].right, 44);
    EXPECT_EQ(rects[1].bottom, 32);
    ASSERT_EQ(t.recorder.calls.size(), 3u);
    EXPECT_EQ(t.recorder.calls[1].text, "one!");
    EXPECT_EQ(t.recorder.calls[1].x, 20);
    EXPECT_EQ(t.recorder.calls[1].y, 20);
    EXPECT_EQ(t.recorder.calls[1].color, kRed);
    // the selected filter is underlined on its label's bottom edge
    std::vector<int> under;
    for (int x = 0; x < 200; ++x)
        if (t.At(x, 48) == 0x0000ff) under.push_back(x);
    EXPECT_EQ(under.size(), 19u);
    EXPECT_EQ(under.front(), 20);
    EXPECT_EQ(under.back(), 38);
}

TEST(GraphTime, FormatsSecondsMinutesHoursWithTheStepsDecimals) {
    struct Case {
        int64_t t, step;
        int offline;
        const char* want;
    } cases[] = {
        {0, 5000000, 0, "0"},
        {55000000, 5000000, 0, "55"},
        {65000000, 5000000, 0, "1:05"},
        {3599999999, 5000000, 0, "59:59"},
        {3600000000, 5000000, 0, "1:00:00"},
        {3723000000, 5000000, 0, "1:02:03"},
        {0, 100000, 0, "0.0"},
        {61500000, 100000, 0, "1:01.5"},
        {1234500, 100, 1, "1.2345"},
        {1234500, 2000, 1, "1.234"},
        {1234500, 50000, 1, "1.23"},
        {1234500, 500000, 1, "1.2"},
        {1234500, 1000000, 1, "1"},
        {172800000000, 172800000000, 1, "48:00:00"},
        {125000000, 5000000, 1, "2:05"},
    };
    for (const Case& c : cases) {
        char out[32];
        GraphFormatTime(c.t, c.step, c.offline, out);
        EXPECT_STREQ(out, c.want) << c.t << " step " << c.step;
    }
}

TEST(GraphTime, LabelStepsOfBothPrograms) {
    EXPECT_EQ(LabelInterval(999, 0), 0);
    EXPECT_EQ(LabelInterval(999, 1), 50000);
    EXPECT_EQ(LabelInterval(1000, 0), 100000);
    EXPECT_EQ(LabelInterval(49999, 0), 2000000);
    EXPECT_EQ(LabelInterval(50000, 0), 5000000);
    EXPECT_EQ(LabelInterval(500000, 0), 60000000);
    EXPECT_EQ(LabelInterval(1999999, 1), 60000000);
    EXPECT_EQ(LabelInterval(1200000000, 0), 86400000000);
    EXPECT_EQ(LabelInterval(3599999999, 0), 86400000000);
    EXPECT_EQ(LabelInterval(3600000000, 0), 0);
    EXPECT_EQ(LabelInterval(3600000000, 1), 172800000000);
    EXPECT_EQ(LabelInterval(1, 1), 100);
    EXPECT_EQ(LabelInterval(0, 1), 100);
    // the offline zoom steps: every 100th column up to 200 ms, then 48 to 120
    for (int64_t c : std::initializer_list<int64_t>{
             1,        2,         5,         10,        20,         50,         100,       200,
             500,      1000,      2000,      5000,      10000,      20000,      50000,     100000,
             200000,   500000,    1000000,   2000000,   5000000,    10000000,   20000000,  30000000,
             60000000, 120000000, 300000000, 600000000, 1200000000, 1800000000, 3600000000}) {
        int64_t columns = LabelInterval(c, 1) / c;
        if (c <= 200000) {
            EXPECT_EQ(columns, 100) << c;
        } else {
            EXPECT_GE(columns, 48) << c;
            EXPECT_LE(columns, 120) << c;
        }
    }
}

}  // namespace
