// SPDX-License-Identifier: GPL-2.0-or-later
// graph_bench.cpp - cost of one graph frame at 1920 x 1080 beside a plain
// fill of the same surface.
//
//   Fill                   DrawSurfaceFill: the reference
//   LiveFrame/steady/qt    a live frame (rows filled, then drawn), 16 visible
//                          filters, every one of the
//                          counters' 65536 bins holding traffic that varies
//                          by about a tenth from bin to bin (a bulk
//                          transfer), labels through the Qt text backend
//   LiveFrame/bursty/qt    the same with every bin drawn at random (1 to 3
//                          packets of 60 to 1514 bytes): each column jumps,
//                          the worst case for the vertical joins
//   LiveFrame/*/notext     the same frames without text
//   OfflineFrame/*/qt      an offline frame (rows folded, then drawn) over
//                          10 million stored packets (16 filters with match
//                          bits) with the store's summary, at the zoom step
//                          that fits the whole file into the width and at
//                          four finer ones, in the middle of the file
//
// Live counters are the real ones: packets go through PacketRingStore and
// the rawshark manager with 16 empty filters (each counts every packet), on
// a fake performance counter. After the table it prints the ratios.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "filterset/filterset.h"
#include "graph/drawtext_qt.h"
#include "graph/graph.h"
#include "offline/offlinerows.h"
#include "pipeline/packetring.h"
#include "pipeline/packetstore.h"
#include "pipeline/packetsummary.h"
#include "pipeline/rawsharkmngr.h"
#include "platform/platform.h"
#include "shell/liverows.h"
#include "shell/settings.h"
#include "bench/ratio_reporter.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kBins = 65536;
constexpr int64_t kTick = 1000;  // counter ticks per microsecond
constexpr int64_t kBase = 1000000 * 1000000LL;

int64_t FakeNow;
int64_t FakeClock() { return FakeNow; }

uint32_t Seed = 1;
uint32_t Next() { return Seed = Seed * 1103515245u + 12345u; }

Settings BenchSettings() {
    Settings s;
    memset(&s, 0, sizeof s);
    s.binCount = kBins;
    s.lineColor = 0x0000a0;
    s.charColor = 0xa0a0ff;
    s.samplingInterval = 50000;
    return s;
}

const uint32_t kColors[16] = {0x00ff00, 0xff0000, 0xffff00, 0x00ffff, 0xff00ff, 0x0080ff, 0xff8000, 0x80ff80,
                              0xff8080, 0x8080ff, 0xc0c0c0, 0x808000, 0x008080, 0x800080, 0xffffff, 0x80ff00};

struct Frame {
    Settings settings = BenchSettings();
    GraphStyle style = SettingsGraphStyle(&settings);
    FilterEntry entries[16];
    int visible[16];
    LegendRect rects[16];
    DrawSurface surface{};
    GraphView view{};
    GraphRows rows{};
    Frame() {
        for (int i = 0; i < 16; ++i) {
            memset(&entries[i], 0, sizeof entries[i]);
            entries[i].color = kColors[i];
            entries[i].autoScale = 1;
            entries[i].unit = i % 4;
            visible[i] = 1;
        }
        DrawSurfaceCreate(&surface, kWidth, kHeight);
    }
    ~Frame() {
        DrawSurfaceRelease(&surface);
        GraphRowsFree(&rows);
    }
};

Frame* Live;
int LiveBursty = -1;
Frame* Offline;
int64_t OfflineColumn, OfflineRight;

// Every bin of the counters gets traffic; "now" is the last bin. Bursty: 1
// to 3 packets of 60 to 1514 bytes drawn at random. Steady: 2 packets whose
// size wanders by a few percent per bin around 1000 bytes.
void SetUpLive(int bursty) {
    if (Live) {
        RawsharkMngrListClear();
        TotalCounterFree();
        delete Live;
    }
    Live = new Frame;
    LiveBursty = bursty;
    int64_t level = 1000;
    PerfSetClock(&FakeClock);
    FakeNow = kBase;
    TotalCounterInit(kBins);
    PacketRingSetInterval(50000);
    PacketRingReset();
    RawsharkBlock block;
    memset(&block, 0, sizeof block);
    RawsharkMngrListEdit(&block, 1, 16, Live->entries, kBins);
    static const uint8_t data[64] = {};
    for (int64_t bin = 0; bin < kBins; ++bin) {
        int packets = bursty ? 1 + Next() % 3 : 2;
        level += static_cast<int64_t>(Next() % 61) - 30;
        if (level < 800) level = 800;
        if (level > 1200) level = 1200;
        for (int p = 0; p < packets; ++p) {
            int64_t usec = bin * 50000 + p * 10000;
            int64_t t = 1600000000LL * 1000000 + usec;
            uint32_t wire = bursty ? 60 + Next() % 1455 : static_cast<uint32_t>(level + Next() % 41 - 20);
            PacketRecordHeader h{static_cast<uint32_t>(t / 1000000), static_cast<uint32_t>(t % 1000000), 64, wire};
            FakeNow = kBase + usec * kTick;
            PacketRingStore(&h, data);
            RawsharkMngrWritePacket(&h, data);
        }
    }
}

// 10 million packets, one every 100 us on average (1000 s of capture), each
// matched by a random set of the 16 filters; the column width is the
// smallest zoom step that fits the file into the width.
void SetUpOffline() {
    Offline = new Frame;
    PacketStoreReset();
    int64_t t = 0;
    for (int64_t k = 0; k < 10000000; ++k) {
        t += 50 + Next() % 100;
        PacketStoreAdd(t, 60 + Next() % 1455);
        uint32_t bits = Next() >> 16;
        for (int i = 0; i < 16; ++i)
            if (bits & (1u << i)) PacketStoreMark(k, i);
    }
    static const int64_t kZoom[] = {1,      2,      5,       10,      20,      50,      100,   200,
                                    500,    1000,   2000,    5000,    10000,   20000,   50000, 100000,
                                    200000, 500000, 1000000, 2000000, 5000000, 10000000};
    for (int64_t c : kZoom) {
        OfflineColumn = c;
        if (c * kWidth > PacketStoreLastTime()) break;
    }
    OfflineRight = OfflineColumn * kWidth - 1;
    // as a finished reading run leaves the store
    PacketStoreSortByTime();
    PacketSummaryBuild(16);
}

void BM_Fill(benchmark::State& state) {
    Frame f;
    for (auto _ : state) {
        DrawSurfaceFill(&f.surface, 0);
        benchmark::DoNotOptimize(f.surface.pixels[0]);
    }
}

void BM_LiveFrame(benchmark::State& state) {
    if (LiveBursty != state.range(0)) SetUpLive(static_cast<int>(state.range(0)));
    Live->surface.text = state.range(1) ? DrawTextQt() : nullptr;
    for (auto _ : state) {
        Frame* f = Live;
        const int64_t now = PerfCounter();
        LiveViewAt(&f->view, now, f->settings.samplingInterval, kWidth);
        LiveRowsFill(&f->rows, &f->view, now, f->settings.binCount, f->entries, 16, f->visible, 3);
        GraphDraw(&f->surface, &f->style, &f->view, &f->rows, f->rects);
        benchmark::DoNotOptimize(Live->surface.pixels[0]);
    }
}

// Arg: the column width in microseconds, 0 for the zoom step that fits the
// file; the view stands in the middle of the file.
void BM_OfflineFrame(benchmark::State& state) {
    if (!Offline) SetUpOffline();
    Offline->surface.text = DrawTextQt();
    const int64_t column = state.range(0) ? state.range(0) : OfflineColumn;
    const int64_t right = PacketStoreLastTime() / 2 + column * kWidth / 2;
    for (auto _ : state) {
        Frame* f = Offline;
        OfflineViewOf(&f->view, kWidth, column, right);
        OfflineRowsFill(&f->rows, &f->view, f->entries, 16, f->visible, 3, nullptr);
        GraphDraw(&f->surface, &f->style, &f->view, &f->rows, f->rects);
        benchmark::DoNotOptimize(f->surface.pixels[0]);
    }
    state.counters["column_us"] = static_cast<double>(column);
    state.counters["bytes_per_packet"] =
        static_cast<double>(16 * PacketStoreCount() + PacketSummaryBytes()) / static_cast<double>(PacketStoreCount());
}

BENCHMARK(BM_Fill)->Name("Fill")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LiveFrame)->Name("LiveFrame/steady/qt")->Args({0, 1})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LiveFrame)->Name("LiveFrame/steady/notext")->Args({0, 0})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LiveFrame)->Name("LiveFrame/bursty/qt")->Args({1, 1})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LiveFrame)->Name("LiveFrame/bursty/notext")->Args({1, 0})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OfflineFrame)->Name("OfflineFrame/fit/qt")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OfflineFrame)->Name("OfflineFrame/20ms/qt")->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OfflineFrame)->Name("OfflineFrame/100us/qt")->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OfflineFrame)->Name("OfflineFrame/20us/qt")->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OfflineFrame)->Name("OfflineFrame/2us/qt")->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(RatioReporter::kCpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& s = reporter.seconds;
    auto ratio = [&](const char* what, const char* a) {
        for (const auto& [name, value] : s)
            if (name.rfind(a, 0) == 0 && s.count("Fill")) printf("%-40s %8.2f\n", what, value / s["Fill"]);
    };
    printf("\nratios to one fill of the 1920 x 1080 surface (goal for a live frame: <= 2)\n");
    ratio("live frame, steady, Qt text / fill", "LiveFrame/steady/qt");
    ratio("live frame, steady, no text / fill", "LiveFrame/steady/notext");
    ratio("live frame, bursty, Qt text / fill", "LiveFrame/bursty/qt");
    ratio("live frame, bursty, no text / fill", "LiveFrame/bursty/notext");
    printf("offline frames over 10M packets (goal: <= 10 at every zoom step)\n");
    ratio("offline frame, fitting zoom / fill", "OfflineFrame/fit/qt");
    ratio("offline frame, 20 ms columns / fill", "OfflineFrame/20ms/qt");
    ratio("offline frame, 100 us columns / fill", "OfflineFrame/100us/qt");
    ratio("offline frame, 20 us columns / fill", "OfflineFrame/20us/qt");
    ratio("offline frame, 2 us columns / fill", "OfflineFrame/2us/qt");
    printf("stored bytes per packet (goal: <= 20)      %8.2f\n",
           static_cast<double>(16 * PacketStoreCount() + PacketSummaryBytes()) /
               static_cast<double>(PacketStoreCount() > 0 ? PacketStoreCount() : 1));
    RawsharkMngrListClear();
    TotalCounterFree();
    PacketSummaryReset();
    PacketStoreReset();
    return 0;
}
