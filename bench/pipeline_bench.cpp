// SPDX-License-Identifier: GPL-2.0-or-later
// pipeline_bench.cpp - per-packet and per-frame costs of the pipeline's
// in-process parts, each beside a reference doing the bare minimum of the
// same work in the same process.
//
//   Ring/StoreAndAdvance     PacketRingStore (with the total counter) and
//                            one SampleCounterAdvance, per packet
//   Ring/Reference           one clock read, one division, a 32-byte copy
//   Store/Add                PacketStoreAdd per packet (chunks included)
//   Store/Reference          a 16-byte append to a reserved array
//   Counter/Read1920         SampleCounterRead of 1920 bins (one output)
//   Counter/Reference        copying 1920 64-bit values
//   Store/Accumulate16       one screen (1920 columns) for 16 filters:
//                            PacketStoreFindRange + 16 PacketStoreAccumulate
//   Store/SumReference       one plain pass summing the screen's lengths
//
// After the table it prints the ratios of CPU time (every case runs on one
// thread; wall time on a shared machine mostly measures the neighbours).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "pipeline/packetring.h"
#include "pipeline/packetstore.h"
#include "platform/platform.h"
#include "bench/ratio_reporter.h"

namespace {

PacketRecordHeader HeaderOf(uint64_t k) {
    // 20 packets per millisecond: a busy link, 1000 packets per 50 ms bin
    uint64_t usec = k * 50;
    return {static_cast<uint32_t>(1000 + usec / 1000000), static_cast<uint32_t>(usec % 1000000), 128,
            static_cast<uint32_t>(60 + k % 1400)};
}

void BM_RingStoreAndAdvance(benchmark::State& state) {
    TotalCounterInit(65536);
    PacketRingSetInterval(50000);
    PacketRingReset();
    SampleCounter counter;
    SampleCounterInit(&counter, 65536);
    uint64_t k = 0;
    for (auto _ : state) {
        PacketRecordHeader h = HeaderOf(k++);
        PacketRingStore(&h, nullptr);
        SampleCounterAdvance(&counter, 1);
    }
    benchmark::DoNotOptimize(counter.matchedBytes.load());
    SampleCounterFree(&counter);
    PacketRingReset();
    TotalCounterFree();
}

struct ReferenceSlot {
    PacketRecordHeader header;
    int64_t arrival, bin;
};

void BM_RingReference(benchmark::State& state) {
    static ReferenceSlot slots[0x40000];
    uint64_t k = 0;
    int64_t first = PerfCounter();
    volatile int64_t interval = 50000;
    for (auto _ : state) {
        PacketRecordHeader h = HeaderOf(k);
        ReferenceSlot& s = slots[k & 0x3FFFF];
        s.arrival = PerfCounter();
        s.header = h;
        s.bin = (static_cast<int64_t>(h.ts_sec - 1000) * 1000000 + h.ts_usec) / interval;
        benchmark::DoNotOptimize(&s);
        ++k;
    }
    benchmark::DoNotOptimize(first);
}

constexpr int64_t kStoreLimit = int64_t{1} << 22;  // reset every 4M items (64 MiB)

void BM_StoreAdd(benchmark::State& state) {
    PacketStoreReset();
    int64_t k = 0;
    for (auto _ : state) {
        if (!PacketStoreAdd(k * 50, static_cast<uint32_t>(60 + k % 1400))) state.SkipWithError("out of memory");
        if (++k == kStoreLimit) {
            state.PauseTiming();
            PacketStoreReset();
            k = 0;
            state.ResumeTiming();
        }
    }
    PacketStoreReset();
}

void BM_StoreReference(benchmark::State& state) {
    struct Item {
        int64_t time;
        uint32_t length;
        uint16_t bits, spare;
    };
    std::vector<Item> items;
    items.reserve(kStoreLimit);
    int64_t k = 0;
    for (auto _ : state) {
        items.push_back({k * 50, static_cast<uint32_t>(60 + k % 1400), 0, 0});
        if (++k == kStoreLimit) {
            state.PauseTiming();
            items.clear();
            k = 0;
            state.ResumeTiming();
        }
    }
    benchmark::DoNotOptimize(items.data());
}

void BM_CounterRead1920(benchmark::State& state) {
    // A counter with 100 s of traffic in every bin; "now" in its last bin.
    TotalCounterInit(65536);
    PacketRingSetInterval(50000);
    PacketRingReset();
    SampleCounter counter;
    SampleCounterInit(&counter, 65536);
    for (uint64_t k = 0; k < 200000; ++k) {
        PacketRecordHeader h = HeaderOf(k * 10);
        PacketRingStore(&h, nullptr);
        SampleCounterAdvance(&counter, 1);
    }
    int64_t first = 0;
    PacketRingFirstStamp(&first);
    int64_t now = first + counter.lastBin.load() * 50000 * 1000;
    std::vector<uint64_t> out(1920);
    for (auto _ : state) {
        SampleCounterRead(&counter, now, out.data(), nullptr, 1920);
        benchmark::DoNotOptimize(out.data());
    }
    SampleCounterFree(&counter);
    PacketRingReset();
    TotalCounterFree();
}

void BM_CounterReference(benchmark::State& state) {
    std::vector<uint64_t> ring(65536, 7), out(1920);
    for (auto _ : state) {
        memcpy(out.data(), ring.data() + 1000, 1920 * sizeof(uint64_t));
        benchmark::DoNotOptimize(out.data());
    }
}

// One million packets over 100 s, every filter bit pattern in use; the
// screen shows the whole file in 1920 columns.
void FillScreenStore() {
    PacketStoreReset();
    for (int64_t k = 0; k < 1000000; ++k) {
        PacketStoreAdd(k * 100, static_cast<uint32_t>(60 + k % 1400));
        for (int i = 0; i < 16; ++i) {
            if ((k * 2654435761u >> i) & 1) PacketStoreMark(k, i);
        }
    }
}

void BM_StoreAccumulate16(benchmark::State& state) {
    FillScreenStore();
    const int n = 1920;
    const int64_t T = PacketStoreLastTime(), w = T / n + 1;
    std::vector<uint64_t> bytes(n), packets(n);
    for (auto _ : state) {
        int64_t first, last;
        PacketStoreFindRange(T, w, n, &first, &last);
        for (int f = 0; f < 16; ++f) PacketStoreAccumulate(f, T, w, n, first, last, bytes.data(), packets.data());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetItemsProcessed(state.iterations() * PacketStoreCount());
    PacketStoreReset();
}

void BM_StoreSumReference(benchmark::State& state) {
    FillScreenStore();
    const int64_t count = PacketStoreCount();
    for (auto _ : state) {
        uint64_t sum = 0;
        for (int64_t k = 0; k < count; k += kPacketStoreChunkItems) {
            const PacketItem* item = PacketStoreItem(k);
            int64_t run = count - k < kPacketStoreChunkItems ? count - k : kPacketStoreChunkItems;
            for (int64_t r = 0; r < run; ++r) sum += item[r].length;
        }
        benchmark::DoNotOptimize(sum);
    }
    PacketStoreReset();
}

BENCHMARK(BM_RingStoreAndAdvance)->Name("Ring/StoreAndAdvance");
BENCHMARK(BM_RingReference)->Name("Ring/Reference");
BENCHMARK(BM_StoreAdd)->Name("Store/Add");
BENCHMARK(BM_StoreReference)->Name("Store/Reference");
BENCHMARK(BM_CounterRead1920)->Name("Counter/Read1920")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CounterReference)->Name("Counter/Reference")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StoreAccumulate16)->Name("Store/Accumulate16")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreSumReference)->Name("Store/SumReference")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(RatioReporter::kCpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& s = reporter.seconds;
    auto ratio = [&](const char* what, const char* a, const char* b) {
        if (s.count(a) && s.count(b)) printf("%-52s %8.2f\n", what, s[a] / s[b]);
    };
    printf("\nratios\n");
    ratio("ring store + advance / reference slot write", "Ring/StoreAndAdvance", "Ring/Reference");
    ratio("store add / reference 16-byte append", "Store/Add", "Store/Reference");
    ratio("counter read 1920 bins / copy of 1920 values", "Counter/Read1920", "Counter/Reference");
    ratio("accumulate 16 filters / one plain sum pass", "Store/Accumulate16", "Store/SumReference");
    if (s.count("Store/Accumulate16") && s.count("Store/SumReference"))
        printf("%-52s %8.2f\n", "accumulate per filter / one plain sum pass",
               s["Store/Accumulate16"] / 16 / s["Store/SumReference"]);
    return 0;
}
