// SPDX-License-Identifier: GPL-2.0-or-later
// Offline packet store: chunks, range search, folding into columns, the
// sort by time after a run and the summary of wide columns.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "pipeline/packetstore.h"
#include "pipeline/packetsummary.h"

namespace {

class PacketStoreTest : public ::testing::Test {
protected:
    void SetUp() override { PacketStoreReset(); }
    void TearDown() override {
        PacketSummaryReset();
        PacketStoreReset();
    }
};

TEST_F(PacketStoreTest, SecondChunkOpensAtItem65536) {
    for (int64_t k = 0; k <= 65536; ++k) ASSERT_EQ(PacketStoreAdd(k * 10, 60), 1);
    EXPECT_EQ(PacketStoreCount(), 65537);
    ASSERT_NE(PacketStoreItem(65535), nullptr);
    ASSERT_NE(PacketStoreItem(65536), nullptr);
    EXPECT_EQ(PacketStoreItem(65536)->time, 655360);
    EXPECT_EQ(PacketStoreItem(65535)->time, 655350);
    EXPECT_EQ(PacketStoreItem(65537), nullptr);
    EXPECT_EQ(PacketStoreItem(-1), nullptr);
    EXPECT_EQ(PacketStoreLastTime(), 655360);
    PacketStoreMark(65536, 3);
    EXPECT_EQ(PacketStoreItem(65536)->matchBits.load(), 1u << 3);
    EXPECT_EQ(PacketStoreItem(65535)->matchBits.load(), 0u);

    PacketStoreReset();
    EXPECT_EQ(PacketStoreLastTime(), 0);
    EXPECT_EQ(PacketStoreCount(), 0);
    EXPECT_EQ(PacketStoreItem(0), nullptr);
    // Marks outside the items (or the 16 bits) are refused, not written.
    PacketStoreMark(0, 0);
    ASSERT_EQ(PacketStoreAdd(5, 1), 1);
    PacketStoreMark(1, 0);
    PacketStoreMark(0, 16);
    PacketStoreMark(0, -1);
    EXPECT_EQ(PacketStoreItem(0)->matchBits.load(), 0u);
}

TEST_F(PacketStoreTest, WindowFoldsItemsNewestFirst) {
    for (int64_t t : {0, 999, 1000, 99999}) PacketStoreAdd(t, static_cast<uint32_t>(100 + t % 7));
    int64_t first, last;
    ASSERT_EQ(PacketStoreFindRange(99999, 1000, 100, &first, &last), 1);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 3);
    std::vector<uint64_t> bytes(100), packets(100);
    PacketStoreAccumulate(-1, 99999, 1000, 100, first, last, bytes.data(), packets.data());
    EXPECT_EQ(packets[99], 2u);
    EXPECT_EQ(bytes[99], 100u + 100 + 999 % 7);
    EXPECT_EQ(packets[98], 1u);
    EXPECT_EQ(packets[0], 1u);
    uint64_t total = 0;
    for (uint64_t p : packets) total += p;
    EXPECT_EQ(total, 4u);

    // Bins 51 to 150: the items of bins 0 and 1 lie before the window.
    ASSERT_EQ(PacketStoreFindRange(150000, 1000, 100, &first, &last), 1);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(last, 3);
    PacketStoreAccumulate(-1, 150000, 1000, 100, first, last, nullptr, packets.data());
    EXPECT_EQ(packets[51], 1u);

    // Windows that hold nothing.
    EXPECT_EQ(PacketStoreFindRange(250000, 1000, 100, &first, &last), 0);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, -1);
    EXPECT_EQ(PacketStoreFindRange(-5000, 1000, 3, &first, &last), 0);
    // Items on both sides of a window but none inside (bins 2..50); bins 1..50 hold the item at 1000.
    EXPECT_EQ(PacketStoreFindRange(50000, 1000, 49, &first, &last), 0);
    ASSERT_EQ(PacketStoreFindRange(50000, 1000, 50, &first, &last), 1);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(last, 2);
}

TEST_F(PacketStoreTest, RangeSearchAgreesWithAScanOverManyChunks) {
    // 200000 items, 0..6 items per millisecond, across four chunks.
    int64_t t = 0;
    for (int k = 0; k < 200000; ++k) {
        PacketStoreAdd(t, 60);
        if (k % 7 == 0) t += 1000 + (k % 13) * 137;
    }
    const int64_t count = PacketStoreCount();
    for (int64_t T : {int64_t{0}, int64_t{1234567}, int64_t{9999999}, t, t + 5000}) {
        for (int64_t w : {1, 1000, 33333}) {
            for (int n : {1, 100, 1920}) {
                int64_t first, last;
                int found = PacketStoreFindRange(T, w, n, &first, &last);
                int64_t E = T / w;
                int64_t lo = -1, hi = -1;
                for (int64_t k = 0; k < count; ++k) {
                    int64_t b = PacketStoreItem(k)->time / w;
                    if (b > E - n && b <= E) {
                        if (lo < 0) lo = k;
                        hi = k;
                    }
                }
                ASSERT_EQ(found, lo >= 0 ? 1 : 0) << T << " " << w << " " << n;
                if (found) {
                    EXPECT_EQ(first, lo);
                    EXPECT_EQ(last, hi);
                }
            }
        }
    }
}

// Fault: only the low 16 bits of the wire length were kept, so a 70000-byte
// packet counted as 4464 bytes.
TEST_F(PacketStoreTest, PacketAbove65535BytesCountsWhole) {
    PacketStoreAdd(0, 70000);
    PacketStoreAdd(10, 0xFFFFFFFFu);
    int64_t first, last;
    ASSERT_EQ(PacketStoreFindRange(0, 1000, 1, &first, &last), 1);
    uint64_t bytes[1];
    PacketStoreAccumulate(-1, 0, 1000, 1, first, last, bytes, nullptr);
    EXPECT_EQ(bytes[0], uint64_t{70000} + 0xFFFFFFFFu);
}

TEST_F(PacketStoreTest, FilterBitsSelectItemsAndMinusOneTakesAll) {
    for (int k = 0; k < 10; ++k) PacketStoreAdd(k * 100, 10 + k);
    for (int k = 0; k < 10; k += 3) PacketStoreMark(k, 15);
    PacketStoreMark(4, 0);
    uint64_t bytes[1], packets[1];
    PacketStoreAccumulate(15, 999, 1000, 1, 0, 9, bytes, packets);
    EXPECT_EQ(packets[0], 4u);
    EXPECT_EQ(bytes[0], 10u + 13 + 16 + 19);
    PacketStoreAccumulate(0, 999, 1000, 1, 0, 9, bytes, packets);
    EXPECT_EQ(bytes[0], 14u);
    PacketStoreAccumulate(-1, 999, 1000, 1, 0, 9, bytes, packets);
    EXPECT_EQ(packets[0], 10u);
    PacketStoreAccumulate(16, 999, 1000, 1, 0, 9, bytes, packets);  // no such filter
    EXPECT_EQ(packets[0], 0u);
}

// Fault: an item out of time order inside the range has a bin outside the
// window and was written outside the outputs.
TEST_F(PacketStoreTest, OutOfOrderItemsAreSkippedNotWrittenOutside) {
    for (int64_t t : {1000, 2000, 500000, 3000, 0, 4000, 9000}) PacketStoreAdd(t, 1);
    std::vector<uint64_t> bytes(10 + 4, 77), packets(10 + 4, 77);  // 4 guard elements
    int64_t first, last;
    ASSERT_EQ(PacketStoreFindRange(9999, 1000, 10, &first, &last), 1);
    PacketStoreAccumulate(-1, 9999, 1000, 10, first, last, bytes.data(), packets.data());
    PacketStoreAccumulate(-1, 9999, 1000, 10, 0, PacketStoreCount() - 1, bytes.data(), packets.data());
    for (int g = 10; g < 14; ++g) {
        EXPECT_EQ(bytes[g], 77u);
        EXPECT_EQ(packets[g], 77u);
    }
    const uint64_t expect[10] = {1, 0, 0, 0, 0, 1, 1, 1, 1, 1};  // bins 9, 4, 3, 2, 1, 0
    for (int j = 0; j < 10; ++j) EXPECT_EQ(packets[j], expect[j]) << j;
    // A window of bins 3..5 (first/last from a caller that trusts order).
    std::vector<uint64_t> three(3 + 2, 77);
    PacketStoreAccumulate(-1, 5000, 1000, 3, 0, 6, nullptr, three.data());
    EXPECT_EQ(three[0], 0u);
    EXPECT_EQ(three[1], 1u);
    EXPECT_EQ(three[2], 1u);
    EXPECT_EQ(three[3], 77u);
    EXPECT_EQ(three[4], 77u);
}

// Sixteen filters mark bits of the same items at once; no bit is lost.
TEST_F(PacketStoreTest, ConcurrentMarksOfOneItemKeepEveryBit) {
    constexpr int kItems = 70000;
    std::thread adder([] {
        for (int k = 0; k < kItems; ++k) PacketStoreAdd(k, 1);
    });
    std::vector<std::thread> markers;
    for (int i = 0; i < 16; ++i) {
        markers.emplace_back([i] {
            int64_t k = 0;
            while (k < kItems) {
                if (k < PacketStoreCount()) {
                    if ((k + i) % 2 == 0 || i == 7) PacketStoreMark(k, i);
                    ++k;
                } else {
                    std::this_thread::yield();
                }
            }
        });
    }
    adder.join();
    for (std::thread& m : markers) m.join();
    for (int64_t k = 0; k < kItems; ++k) {
        uint16_t expect = 0;
        for (int i = 0; i < 16; ++i) {
            if ((k + i) % 2 == 0 || i == 7) expect |= static_cast<uint16_t>(1u << i);
        }
        ASSERT_EQ(PacketStoreItem(k)->matchBits.load(), expect) << k;
    }
}

// Merged captures hold packets stamped before their predecessors, some
// before the first packet (negative times). The sort puts every item in time
// order with its length and bits, equal times in file order, and bins stay
// aligned at the first packet on both sides of it.
TEST_F(PacketStoreTest, SortPutsStragglersInTimeOrderKeepingFileOrderOfTies) {
    std::mt19937 rng(5);
    std::vector<std::tuple<int64_t, uint32_t, uint16_t>> added;
    for (uint32_t k = 0; k < 150000; ++k) {
        int64_t t = static_cast<int64_t>(k) * 40;
        if (rng() % 10 == 0) t -= static_cast<int64_t>(rng() % 3000000);  // up to 3 s late, some before time 0
        if (rng() % 50 == 0) t = 1000;                                    // ties with other items
        ASSERT_EQ(PacketStoreAdd(t, k), 1);
        uint16_t bits = static_cast<uint16_t>(rng());
        for (int i = 0; i < 16; ++i)
            if (bits & (1u << i)) PacketStoreMark(k, i);
        added.emplace_back(t, k, bits);
    }
    EXPECT_FALSE(PacketStoreInTimeOrder());
    EXPECT_LT(PacketStoreFirstTime(), 0);
    const uint64_t before = PacketStoreGeneration();
    ASSERT_EQ(PacketStoreSortByTime(), 1);
    EXPECT_TRUE(PacketStoreInTimeOrder());
    EXPECT_NE(PacketStoreGeneration(), before);
    std::stable_sort(added.begin(), added.end(),
                     [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
    for (size_t k = 0; k < added.size(); ++k) {
        const PacketItem* item = PacketStoreItem(static_cast<int64_t>(k));
        ASSERT_EQ(item->time, std::get<0>(added[k])) << k;
        ASSERT_EQ(item->length, std::get<1>(added[k])) << k;  // the file order among equal times
        ASSERT_EQ(item->matchBits.load(), std::get<2>(added[k])) << k;
    }
    EXPECT_EQ(PacketStoreBinOf(-1, 1000), -1);
    EXPECT_EQ(PacketStoreBinOf(-1000, 1000), -1);
    EXPECT_EQ(PacketStoreBinOf(-1001, 1000), -2);
    EXPECT_EQ(PacketStoreBinOf(999, 1000), 0);
}

// The summary must give exactly what folding every item gives, at every
// zoom and position: bursts dense enough for busy bins at every level, quiet
// stretches folded item by item, columns that cut a burst, packets before
// time 0, and filters that match some of a bin's items.
TEST_F(PacketStoreTest, SummaryFoldsExactlyAsEveryItemAtAnyZoomAndPosition) {
    std::mt19937_64 rng(11);
    int64_t t = -2000000;
    for (int k = 0; k < 400000; ++k) {
        int64_t r = static_cast<int64_t>(rng() % 1000);
        t += r < 700 ? static_cast<int64_t>(rng() % 3) : (r < 990 ? static_cast<int64_t>(rng() % 5000) : 40000000);
        ASSERT_EQ(PacketStoreAdd(t, 60 + static_cast<uint32_t>(rng() % 1400)), 1);
        for (int i = 0; i < 3; ++i)
            if (rng() % 3 == 0) PacketStoreMark(k, i);
    }
    ASSERT_EQ(PacketSummaryBuild(3), 1);
    EXPECT_GT(PacketSummaryBytes(), 0);
    EXPECT_LE(PacketSummaryBytes(), std::max<int64_t>(4 << 20, int64_t{kSummaryBytesPerItem} * PacketStoreCount()));
    const int64_t widths[] = {1, 7, 10, 50, 1000, 20000, 500000, 10000000, 120000000, 3600000000LL};
    const int64_t span = PacketStoreLastTime() - PacketStoreFirstTime();
    for (int round = 0; round < 60; ++round) {
        const int64_t w = widths[round % 10];
        const int n = 1 + static_cast<int>(rng() % 700);
        const int64_t T = PacketStoreFirstTime() + static_cast<int64_t>(rng() % static_cast<uint64_t>(span + 1));
        std::vector<std::vector<uint64_t>> got(8, std::vector<uint64_t>(static_cast<size_t>(n), 0));
        SummaryFoldOut out{};
        out.rows = 4;
        for (int r = 0; r < 4; ++r) {
            out.bytes[r] = got[2 * r].data();
            out.packets[r] = got[2 * r + 1].data();
        }
        PacketSummaryFold(T, w, n, &out);
        std::vector<std::vector<uint64_t>> want(8, std::vector<uint64_t>(static_cast<size_t>(n), 0));
        const int64_t E = PacketStoreBinOf(T, w);
        for (int64_t k = 0; k < PacketStoreCount(); ++k) {
            const PacketItem* item = PacketStoreItem(k);
            int64_t j = E - PacketStoreBinOf(item->time, w);
            if (j < 0 || j >= n) continue;
            uint16_t bits = item->matchBits.load();
            for (int r = 0; r < 4; ++r) {
                if (r > 0 && !(bits & (1u << (r - 1)))) continue;
                want[2 * r][static_cast<size_t>(j)] += item->length;
                want[2 * r + 1][static_cast<size_t>(j)] += 1;
            }
        }
        ASSERT_EQ(got, want) << "w " << w << " n " << n << " T " << T;
    }
}

}  // namespace
