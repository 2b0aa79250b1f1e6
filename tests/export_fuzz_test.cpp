// SPDX-License-Identifier: GPL-2.0-or-later
// Mutated capture files through the export (read, CSV, fitted graph): no
// crash, no hang, and a failure always leaves the store empty. Run under
// AddressSanitizer+UBSan by `make test`. LUMO_FUZZ_CASES sets the number of
// cases (default 300; thousands for a long run), LUMO_FUZZ_SEED the seed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "graph/drawsurface.h"
#include "tools/capgen/capgen.h"
#include "offline/export.h"
#include "pipeline/packetstore.h"
#include "tests/support/offline_support.h"

namespace {

uint32_t Next(uint32_t* s) {
    uint32_t x = *s;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return *s = x;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One mutation of the seed file: byte flips, a header word set to a value
// that tends to matter (lengths, stamps, block sizes), a cut, a repeated or
// dropped stretch.
std::vector<uint8_t> Mutate(const std::vector<uint8_t>& seed, uint32_t* rnd) {
    std::vector<uint8_t> f = seed;
    static const uint32_t words[] = {0,          1,          0xffffffff, 0x7fffffff, 0x80000000, 65535,
                                     65536,      262144,     262145,     16,         0x0A0D0D0A, 6,
                                     0xa1b2c3d4, 0xa1b23c4d, 999999,     1000000,    1000000000, 12};
    int steps = 1 + static_cast<int>(Next(rnd) % 3);
    for (int s = 0; s < steps && !f.empty(); s++) {
        uint32_t r = Next(rnd);
        size_t at = Next(rnd) % f.size();
        switch (r % 12) {
            case 0:
            case 1:
            case 2:
            case 3:
            case 4: f[at] ^= static_cast<uint8_t>(1u << (Next(rnd) % 8)); break;
            case 5:
            case 6:
            case 7:
                if (at + 4 <= f.size()) {
                    uint32_t v = (r >> 8) % 3 == 0 ? Next(rnd) : words[Next(rnd) % (sizeof words / sizeof words[0])];
                    memcpy(&f[at & ~size_t{3}], &v, 4);
                }
                break;
            case 8: f.resize(at); break;
            case 9:
            case 10: {
                size_t len = Next(rnd) % 64;
                if (at + len <= f.size())
                    f.insert(f.begin() + static_cast<long>(at), f.begin() + static_cast<long>(at),
                             f.begin() + static_cast<long>(at + len));
                break;
            }
            default: {
                size_t len = Next(rnd) % 64;
                if (at + len <= f.size())
                    f.erase(f.begin() + static_cast<long>(at), f.begin() + static_cast<long>(at + len));
                break;
            }
        }
    }
    return f;
}

TEST(ExportFuzz, MutatedCaptureFilesNeitherCrashNorHang) {
    std::string dir = OfflineScratchDir("fuzz");
    setenv("LUMO_HOME", dir.c_str(), 1);
    int cases = 300;
    if (const char* e = getenv("LUMO_FUZZ_CASES")) cases = atoi(e);
    uint32_t rnd = 0x1234567;
    if (const char* e = getenv("LUMO_FUZZ_SEED")) rnd = static_cast<uint32_t>(strtoul(e, nullptr, 0)) | 1;

    std::vector<std::vector<uint8_t>> seeds;
    for (int format : {CapGenPcap, CapGenPcapNano, CapGenPcapng}) {
        CapGenMixedParams p;
        CapGenMixedDefaults(&p);
        p.packets = 24;
        p.bigEvery = 11;
        p.snaplen = format == CapGenPcapNano ? 200 : kCapGenSnaplen;  // one seed with cut frames
        p.outOfOrderEvery = 5;
        std::string path = dir + "/seed" + std::to_string(format);
        ASSERT_EQ(CapGenMixed(path.c_str(), format, &p), 1);
        seeds.push_back(ReadAll(path));
    }
    std::string fs = dir + "/one.fs";
    std::ofstream(fs, std::ios::binary) << "\"udp\",packet,,\r\n\"\",bps,,\r\n";

    DrawSurface surface;
    ASSERT_EQ(DrawSurfaceCreate(&surface, 320, 100), 1);
    surface.text = nullptr;
    int failed = 0, succeeded = 0;
    for (int c = 0; c < cases; c++) {
        std::vector<uint8_t> bytes = Mutate(seeds[static_cast<size_t>(c) % seeds.size()], &rnd);
        std::string file = dir + "/case.pcap";
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        OfflineArgs args{};
        snprintf(args.capture, sizeof args.capture, "%s", file.c_str());
        // Every 40th case goes through a real rawshark as well.
        if (c % 40 == 0) snprintf(args.filterSet, sizeof args.filterSet, "%s", fs.c_str());
        auto ex = std::make_unique<OfflineExport>();
        ex->maxRows = 100000;
        char error[kErrorLen];
        auto start = std::chrono::steady_clock::now();
        if (OfflineExportRead(ex.get(), &args, error)) {
            FILE* out = fopen((dir + "/case.csv").c_str(), "wb");
            ASSERT_NE(out, nullptr);
            OfflineExportWriteCsv(ex.get(), out, 1000000, error);
            fclose(out);
            OfflineExportRender(ex.get(), &surface);
            succeeded++;
        } else {
            EXPECT_EQ(PacketStoreCount(), 0) << "case " << c << ": " << error;
            failed++;
        }
        PacketStoreReset();
        auto took = std::chrono::steady_clock::now() - start;
        // A hang shows as a case far beyond any normal read (rawshark's start
        // and the verdict wait included).
        ASSERT_LT(took, std::chrono::seconds(60)) << "case " << c;
    }
    DrawSurfaceRelease(&surface);
    printf("fuzz: %d cases, %d read, %d refused\n", cases, succeeded, failed);
    EXPECT_EQ(succeeded + failed, cases);
}

}  // namespace
