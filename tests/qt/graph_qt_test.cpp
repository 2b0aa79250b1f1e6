// SPDX-License-Identifier: GPL-2.0-or-later
// graph_qt_test.cpp - a real frame with the Qt text backend: labels land on
// the surface without a background box, measured boxes are the text's line,
// and the whole frame, with the time-of-day axis off and the pointer outside,
// matches the reference picture within a tolerance.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "graph/drawtext_qt.h"
#include "graph/graph.h"
#include "graph/readout.h"
#include "pipeline/packetstore.h"
#include "tests/support/graph_support.h"

namespace {

constexpr uint32_t kRed = 0xff4040, kCyan = 0x40e0ff, kYellow = 0xffff00;

struct QtSurface {
    DrawSurface s{};
    QtSurface(int w, int h) {
        DrawSurfaceSetDefaultText(DrawTextQt());
        EXPECT_EQ(DrawSurfaceCreate(&s, w, h), 1);
    }
    ~QtSurface() { DrawSurfaceRelease(&s); }
    uint32_t At(int x, int y) const { return s.pixels[y * s.width + x] & 0xffffff; }
    QImage Image() const {
        return QImage(reinterpret_cast<const uchar*>(s.pixels), s.width, s.height, s.width * 4, QImage::Format_RGB32)
            .copy();
    }
};

// Half a minute of made-up traffic, one packet every 2 ms: a slow swell for
// "tcp", bursts for "udp", a trickle for "dns".
void FillStore() {
    PacketStoreReset();
    uint32_t seed = 12345;
    for (int64_t k = 0; k < 16000; ++k) {
        seed = seed * 1103515245u + 12345u;
        int64_t t = k * 2000;
        double swell = 0.5 + 0.5 * std::sin(static_cast<double>(t) / 4e6);
        uint32_t length = 60 + static_cast<uint32_t>(swell * 1400) * ((seed >> 16) % 4) / 3;
        ASSERT_EQ(PacketStoreAdd(t, length), 1);
        if ((seed >> 8) % 3 != 0) PacketStoreMark(k, 0);
        if ((t / 3000000) % 3 == 1 && (seed >> 20) % 2) PacketStoreMark(k, 1);
        if ((seed >> 4) % 50 == 0) PacketStoreMark(k, 2);
    }
}

TEST(GraphQt, LabelsAreDrawnWithoutABoxAndMeasuredAsALine) {
    QtSurface q(200, 40);
    DrawSurfaceFill(&q.s, 0x000080);
    const DrawText* text = q.s.text;
    ASSERT_NE(text, nullptr);
    int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
    text->measure(text->context, &q.s, "1K bps : tcp", &w1, &h1);
    text->measure(text->context, &q.s, "1K bps : tcp.port == 80", &w2, &h2);
    EXPECT_GE(h1, 12);
    EXPECT_LE(h1, 16);
    EXPECT_EQ(h1, h2);
    EXPECT_GT(w1, 40);
    EXPECT_GT(w2, w1 + 40);

    text->draw(text->context, &q.s, 20, 4, 0xffffff, "1K bps : tcp");
    int bright = 0, other = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 200; ++x) {
            uint32_t p = q.At(x, y);
            if (((p >> 8) & 0xff) > 0x80) ++bright;
            if (p != 0x000080 && (x < 20 || x > 20 + w1 + 1 || y < 4 || y >= 4 + h1)) ++other;
        }
    EXPECT_GT(bright, 40);                                // glyphs in the label's colour
    EXPECT_EQ(other, 0);                                  // nothing outside the measured box
    EXPECT_EQ(q.At(20 + w1 / 2, 4 + h1 - 1), 0x000080u);  // no background box under the text

    // inside a frame one painter serves every label; the pixels are the same
    QtSurface r(200, 40);
    DrawSurfaceFill(&r.s, 0x000080);
    r.s.text->begin(r.s.text->context, &r.s);
    r.s.text->draw(r.s.text->context, &r.s, 20, 4, 0xffffff, "1K bps : tcp");
    r.s.text->end(r.s.text->context, &r.s);
    EXPECT_EQ(r.Image(), q.Image());
}

TEST(GraphQt, OfflineFrameLooksLikeTheReference) {
    FillStore();
    QtSurface q(640, 240);
    Settings settings = GraphTestSettings();
    ASSERT_EQ(settings.timeOfDay, 0);
    FilterEntry e[3] = {GraphTestEntry("tcp", UnitBps, kRed), GraphTestEntry("udp", UnitPps, kCyan),
                        GraphTestEntry("dns", UnitPacket, kYellow, 0, 4)};
    int visible[3] = {1, 1, 1};
    LegendRect rects[3] = {};
    ASSERT_EQ(TestDrawOffline(&q.s, settings, e, 3, 1, rects, visible, 50000, 31999999), 1);
    EXPECT_STREQ(GraphLegendLabel(2), "4 packets : dns");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rects[i].left, 20);
        EXPECT_EQ(rects[i].top, 4 + 16 * i);
        EXPECT_GT(rects[i].right, 60);
        EXPECT_LE(rects[i].bottom - rects[i].top, 16);
    }
    // the readout for a pointer outside the graph leaves the frame as designed
    for (auto [x, y] : {std::pair{-1, -1}, {640, 10}, {10, 240}}) {
        EXPECT_EQ(TestReadout(&q.s, settings, x, y), 0);
    }
    QImage got = q.Image();
    QString out = QStringLiteral(LUMO_TEST_TMP "/graph_frame.png");
    ASSERT_TRUE(got.save(out));

    QImage want(QStringLiteral(LUMO_SOURCE_DIR "/tests/qt/golden/graph_frame.png"));
    ASSERT_FALSE(want.isNull()) << "reference missing; the frame is in " << out.toStdString();
    want = want.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(want.size(), got.size());
    // traces, grid and boxes are exact; text may differ where fonts render
    // a shade apart, so a few pixels may move
    int differ = 0;
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x) {
            QRgb a = got.pixel(x, y), b = want.pixel(x, y);
            if (std::abs(qRed(a) - qRed(b)) > 48 || std::abs(qGreen(a) - qGreen(b)) > 48 ||
                std::abs(qBlue(a) - qBlue(b)) > 48)
                ++differ;
        }
    EXPECT_LT(differ, got.width() * got.height() / 1000) << "see " << out.toStdString();
    PacketStoreReset();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
