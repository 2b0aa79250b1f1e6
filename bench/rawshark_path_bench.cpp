// SPDX-License-Identifier: GPL-2.0-or-later
// rawshark_path_bench.cpp - throughput of the whole offline path: records
// stored, written to N real rawshark processes, verdicts read back and
// marked, for N = 1, 4 and 16 on 200,000 generated packets, beside rawshark
// alone reading the same records.
//
//   OfflinePath/N            build the list, PacketStoreAdd and
//                            RawsharkMngrWritePacket per packet, wait until
//                            RawsharkMngrAllDone, tear down
//   RawsharkAlone            one rawshark with the same filter fed the same
//                            records by plain large writes, its output drained
//
// Each case runs once (a run is seconds long). After the table it prints
// each path's time over rawshark alone and over N rawsharks sharing this
// machine's cores (N x alone / cores), which is the floor the path cannot
// beat.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "filterset/filterset.h"
#include "pipeline/childconsole.h"
#include "pipeline/packetstore.h"
#include "pipeline/rawsharkmngr_internal.h"
#include "platform/platform.h"
#include "bench/ratio_reporter.h"

namespace {

constexpr int kPackets = 200000;
const char* const kFilter = "udp || tcp.port == 80";

struct Records {
    std::vector<uint8_t> bytes;   // header + data, back to back
    std::vector<size_t> offsets;  // where each record starts
};

void Put16(uint8_t* p, uint16_t x) {
    p[0] = static_cast<uint8_t>(x >> 8);
    p[1] = static_cast<uint8_t>(x);
}

// Ethernet / IPv4 / UDP or TCP frames of 60..1514 bytes, 20 per
// millisecond, in 512 flows whose TCP sequence numbers advance as in a real
// transfer (a repeated sequence number sends rawshark's TCP analysis into
// retransmission bookkeeping that grows with the capture).
const Records& Generated() {
    static const Records records = [] {
        Records r;
        std::mt19937 rng(42);
        std::map<uint32_t, uint32_t> sequence;
        const uint16_t ports[4] = {80, 443, 5000, 8080};
        for (int k = 0; k < kPackets; ++k) {
            uint32_t len = 60 + rng() % 1455;
            bool udp = rng() % 3 == 0;
            uint8_t src = static_cast<uint8_t>(1 + rng() % 8);
            uint16_t sport = static_cast<uint16_t>(40000 + rng() % 16);
            uint16_t dport = ports[rng() % 4];
            uint8_t f[1514] = {};
            f[0] = 2;
            f[11] = 1;
            Put16(f + 12, 0x0800);
            f[14] = 0x45;
            Put16(f + 16, static_cast<uint16_t>(len - 14));
            Put16(f + 18, static_cast<uint16_t>(k));
            f[22] = 64;
            f[23] = udp ? 17 : 6;
            f[26] = 10, f[29] = src;
            f[30] = 10, f[32] = 1, f[33] = 2;
            Put16(f + 34, sport);
            Put16(f + 36, dport);
            size_t payload = 42;
            if (udp) {
                Put16(f + 38, static_cast<uint16_t>(len - 34));
            } else {
                uint32_t& seq = sequence[(uint32_t{src} << 24) | (uint32_t{sport} << 8) | (dport & 0xff)];
                if (seq == 0) seq = 1000;
                for (int i = 0; i < 4; ++i) f[38 + i] = static_cast<uint8_t>(seq >> (24 - 8 * i));
                f[45] = 1;     // ack 1
                f[46] = 0x50;  // header length 20
                f[47] = 0x10;  // ACK
                Put16(f + 48, 65535);
                seq += len - 54;
                payload = 54;
            }
            for (size_t i = payload; i < len; ++i) f[i] = static_cast<uint8_t>(i * 7);
            uint64_t usec = static_cast<uint64_t>(k) * 50;
            PacketRecordHeader h{static_cast<uint32_t>(1000 + usec / 1000000), static_cast<uint32_t>(usec % 1000000),
                                 len, len};
            r.offsets.push_back(r.bytes.size());
            r.bytes.insert(r.bytes.end(), reinterpret_cast<uint8_t*>(&h), reinterpret_cast<uint8_t*>(&h) + sizeof h);
            r.bytes.insert(r.bytes.end(), f, f + len);
        }
        return r;
    }();
    return records;
}

void BM_OfflinePath(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const Records& r = Generated();
    RawsharkBlock rawshark{};
    PlatformFindRawshark(rawshark.rawsharkPath, sizeof rawshark.rawsharkPath);
    std::vector<FilterEntry> filters(static_cast<size_t>(n));
    for (FilterEntry& f : filters) snprintf(f.filterText, sizeof f.filterText, "%s", kFilter);
    for (auto _ : state) {
        PacketStoreReset();
        if (!RawsharkMngrListEditOffline(&rawshark, 1, n, filters.data())) {
            state.SkipWithError("RawsharkMngrListEditOffline failed");
            break;
        }
        for (size_t offset : r.offsets) {
            const auto* h = reinterpret_cast<const PacketRecordHeader*>(r.bytes.data() + offset);
            PacketStoreAdd(static_cast<int64_t>(h->ts_sec - 1000) * 1000000 + h->ts_usec, h->orig_len);
            RawsharkMngrWritePacket(h, r.bytes.data() + offset + sizeof *h);
        }
        while (!RawsharkMngrAllDone(kPackets)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int i = 0; i < n; ++i) {
            if (RawsharkMngrEntry(i)->cursor.load() != kPackets) state.SkipWithError("a rawshark ended early");
        }
        RawsharkMngrListClear();
    }
    PacketStoreReset();
    state.SetItemsProcessed(state.iterations() * kPackets);
}

// rawshark reads records only from a pipe or stdin: a thread writes the
// whole capture into its stdin in large writes, as `cat` would.
void BM_RawsharkAlone(benchmark::State& state) {
    const Records& r = Generated();
    char path[kPathMax] = "";
    PlatformFindRawshark(path, sizeof path);
    const char* argv[] = {path, "-d", "encap:1", "-l", "-r", "-", "-n", "-R", kFilter, nullptr};
    for (auto _ : state) {
        ChildConsole console;
        if (!ChildConsoleNewArgv("rawshark", argv, &console, nullptr)) {
            state.SkipWithError("rawshark not startable");
            break;
        }
        std::thread feeder([&] {
            size_t at = 0;
            while (at < r.bytes.size()) {
                ssize_t put = write(console.input, r.bytes.data() + at, r.bytes.size() - at);
                if (put <= 0) break;
                at += static_cast<size_t>(put);
            }
            close(console.input);
            console.input = 0;
        });
        char buffer[65536];
        long lines = 0;
        ssize_t got;
        while ((got = read(console.output, buffer, sizeof buffer)) > 0) {
            for (ssize_t i = 0; i < got; ++i) lines += buffer[i] == '\n';
        }
        feeder.join();
        while (!ChildConsoleExited(&console)) usleep(1000);
        ChildConsoleRelease(&console);
        if (lines < kPackets) state.SkipWithError("rawshark judged fewer packets than written");
    }
    state.SetItemsProcessed(state.iterations() * kPackets);
}

BENCHMARK(BM_RawsharkAlone)->Name("RawsharkAlone")->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_OfflinePath)
    ->Name("OfflinePath")
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(RatioReporter::kWallTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& s = reporter.seconds;
    const std::string alone = "RawsharkAlone/iterations:1/real_time";
    if (!s.count(alone)) return 0;
    const double cores =
        static_cast<double>(std::thread::hardware_concurrency() ? std::thread::hardware_concurrency() : 1);
    printf("\nratios (rawshark alone: %.0f packets/s; %g cores)\n", kPackets / s[alone], cores);
    printf("%-12s %12s %14s %22s\n", "filters", "packets/s", "time / alone", "time / (N x alone/cores)");
    for (int n : {1, 4, 16}) {
        std::string name = "OfflinePath/" + std::to_string(n) + "/iterations:1/real_time";
        if (!s.count(name)) continue;
        double floor = s[alone] * (n < cores ? 1.0 : n / cores);
        printf("%-12d %12.0f %14.2f %22.2f\n", n, kPackets / s[name], s[name] / s[alone], s[name] / floor);
    }
    return 0;
}
