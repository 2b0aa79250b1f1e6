// SPDX-License-Identifier: GPL-2.0-or-later
// Packet ring and sample counters: bins from capture time, "now" from a fake
// performance counter, clearing of skipped bins, reads newest first.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "pipeline/packetring.h"
#include "platform/platform.h"

namespace {

std::atomic<int64_t> FakeNow{0};
int64_t FakeClock() { return FakeNow.load(std::memory_order_relaxed); }

constexpr int64_t kSecond = 1000000000;  // performance-counter ticks
constexpr int64_t kBase = 5000 * kSecond;

class PacketRingTest : public ::testing::Test {
protected:
    void SetUp() override {
        PerfSetClock(&FakeClock);
        FakeNow = kBase;
        ASSERT_EQ(TotalCounterInit(65536), 1);
        PacketRingSetInterval(50000);
        PacketRingReset();
    }
    void TearDown() override {
        PacketRingReset();
        TotalCounterFree();
        PerfSetClock(nullptr);
    }
    // Stores a packet captured `usec` after 1000.0 s whose arrival is the
    // same offset after kBase, as with a capture that keeps up.
    static void Store(int64_t usec, uint32_t wire, uint32_t captured = 0) {
        int64_t t = 1000LL * 1000000 + usec;
        PacketRecordHeader h{static_cast<uint32_t>(t / 1000000), static_cast<uint32_t>(t % 1000000),
                             captured ? captured : wire, wire};
        FakeNow = kBase + usec * 1000;
        PacketRingStore(&h, nullptr);
    }
    // now such that the bin of "now" is nowBin
    static int64_t NowAtBin(int64_t nowBin) { return kBase + nowBin * 50000 * 1000; }
};

TEST_F(PacketRingTest, BinsFollowCaptureTimeAndCountWireLength) {
    SampleCounter all;
    ASSERT_EQ(SampleCounterInit(&all, 1024), 1);
    Store(0, 100);
    SampleCounterAdvance(&all, 1);
    Store(20000, 1514, 128);  // captured 128 bytes of a 1514-byte packet
    SampleCounterAdvance(&all, 1);
    Store(70000, 60);
    SampleCounterAdvance(&all, 1);

    uint64_t bytes[4], packets[4];
    SampleCounterRead(&all, NowAtBin(1), bytes, packets, 4);
    EXPECT_EQ(packets[0], 1u);
    EXPECT_EQ(bytes[0], 60u);
    EXPECT_EQ(packets[1], 2u);
    EXPECT_EQ(bytes[1], 1614u);
    EXPECT_EQ(packets[2], 0u);  // before packet 0
    EXPECT_EQ(all.matchedBytes.load(), 1674u);
    EXPECT_EQ(TotalCounterGet()->matchedPackets.load(), 3u);
    SampleCounterFree(&all);
}

TEST_F(PacketRingTest, NegativeAndDistantBinsAndUnmatchedPackets) {
    SampleCounter c;
    ASSERT_EQ(SampleCounterInit(&c, 1024), 1);
    Store(0, 10);
    SampleCounterAdvance(&c, 1);
    Store(1260000, 20);  // 1.26 s: bin 25
    SampleCounterAdvance(&c, 1);
    Store(1270000, 40);  // bin 25 as well, not matched
    SampleCounterAdvance(&c, 0);
    uint64_t bytes[27];
    SampleCounterRead(&c, NowAtBin(25), bytes, nullptr, 27);
    EXPECT_EQ(bytes[0], 20u);
    for (int j = 1; j < 25; ++j) EXPECT_EQ(bytes[j], 0u) << j;
    EXPECT_EQ(bytes[25], 10u);
    EXPECT_EQ(bytes[26], 0u);
    EXPECT_EQ(c.matchedPackets.load(), 2u);

    // 30 ms before packet 0 is bin 0; 60 ms before is bin -1, which reads as
    // nothing but, as the latest bin, makes the next packet clear from bin 0.
    Store(-30000, 5);
    SampleCounterAdvance(&c, 1);
    SampleCounterRead(&c, NowAtBin(25), bytes, nullptr, 27);
    EXPECT_EQ(bytes[25], 15u);
    Store(-60000, 7);
    SampleCounterAdvance(&c, 1);
    EXPECT_EQ(c.lastBin.load(), -1);
    Store(0, 1);
    SampleCounterAdvance(&c, 1);
    SampleCounterRead(&c, NowAtBin(0), bytes, nullptr, 2);
    EXPECT_EQ(bytes[0], 1u);
    SampleCounterFree(&c);
}

TEST_F(PacketRingTest, GapClearsExactlyTheSkippedBins) {
    SampleCounter c;
    ASSERT_EQ(SampleCounterInit(&c, 8), 1);
    for (int b = 0; b < 8; ++b) {
        Store(b * 50000, 100 + b);
        SampleCounterAdvance(&c, 1);
    }
    Store(10 * 50000, 7);  // bins 8 and 9 skipped: ring slots 0, 1 (and 2 for bin 10) cleared
    SampleCounterAdvance(&c, 1);
    uint64_t bytes[8];
    SampleCounterRead(&c, NowAtBin(10), bytes, nullptr, 8);
    const uint64_t expect[8] = {7, 0, 0, 107, 106, 105, 104, 103};
    for (int j = 0; j < 8; ++j) EXPECT_EQ(bytes[j], expect[j]) << j;

    // A gap wider than the ring clears every slot once.
    Store(100 * 50000, 9);
    SampleCounterAdvance(&c, 1);
    SampleCounterRead(&c, NowAtBin(100), bytes, nullptr, 8);
    EXPECT_EQ(bytes[0], 9u);
    for (int j = 1; j < 8; ++j) EXPECT_EQ(bytes[j], 0u) << j;
    SampleCounterFree(&c);
}

TEST_F(PacketRingTest, OlderBinCountsThereAndNextPacketClearsAfterIt) {
    SampleCounter c;
    ASSERT_EQ(SampleCounterInit(&c, 64), 1);
    Store(0, 1);  // bin 0
    SampleCounterAdvance(&c, 1);
    Store(120000, 2);  // bin 2
    SampleCounterAdvance(&c, 1);
    Store(60000, 4);  // bin 1, older than its predecessor: clears nothing
    SampleCounterAdvance(&c, 1);
    uint64_t bytes[4];
    SampleCounterRead(&c, NowAtBin(2), bytes, nullptr, 3);
    EXPECT_EQ(bytes[0], 0u);  // after the counter's latest bin: shown empty
    EXPECT_EQ(bytes[1], 4u);
    EXPECT_EQ(bytes[2], 1u);
    Store(160000, 8);  // bin 3 clears bins 2 and 3, everything after the older bin
    SampleCounterAdvance(&c, 1);
    SampleCounterRead(&c, NowAtBin(3), bytes, nullptr, 4);
    const uint64_t expect[4] = {8, 0, 4, 1};
    for (int j = 0; j < 4; ++j) EXPECT_EQ(bytes[j], expect[j]) << j;
    SampleCounterFree(&c);
}

TEST_F(PacketRingTest, SilenceShowsLeadingZerosThenTheLastTraffic) {
    SampleCounter c;
    ASSERT_EQ(SampleCounterInit(&c, 65536), 1);
    for (int b = 0; b < 10; ++b) {
        Store(b * 50000, 1000 + b);
        SampleCounterAdvance(&c, 1);
    }
    // 2 s after the last packet (bin 9) "now" is bin 49.
    uint64_t bytes[60], packets[60];
    SampleCounterRead(&c, NowAtBin(9) + 2 * kSecond, bytes, packets, 60);
    for (int j = 0; j < 40; ++j) ASSERT_EQ(bytes[j], 0u) << j;
    for (int j = 40; j < 50; ++j) {
        EXPECT_EQ(bytes[j], static_cast<uint64_t>(1000 + 49 - j)) << j;
        EXPECT_EQ(packets[j], 1u) << j;
    }
    for (int j = 50; j < 60; ++j) EXPECT_EQ(bytes[j], 0u) << j;
    // Silence as wide as the read leaves nothing to show.
    SampleCounterRead(&c, NowAtBin(9) + 3 * kSecond, bytes, nullptr, 60);
    for (int j = 0; j < 60; ++j) ASSERT_EQ(bytes[j], 0u) << j;
    SampleCounterFree(&c);
}

// Fault: (now - first) * 1000000 overflowed 64 bits after 2.5 hours of a
// nanosecond counter, putting "now" in the wrong bin.
TEST_F(PacketRingTest, NowBinStaysRightAfterHoursOfCapture) {
    SampleCounter c;
    ASSERT_EQ(SampleCounterInit(&c, 65536), 1);
    Store(0, 1);
    SampleCounterAdvance(&c, 1);
    const int64_t threeHours = 3LL * 3600 * 1000000;
    Store(threeHours, 77);
    SampleCounterAdvance(&c, 1);
    uint64_t bytes[2];
    SampleCounterRead(&c, kBase + threeHours * 1000, bytes, nullptr, 2);
    EXPECT_EQ(bytes[0], 77u);
    SampleCounterFree(&c);
}

TEST_F(PacketRingTest, ReadsBeforeAnyPacketAndOfIdleCountersAreZero) {
    uint64_t bytes[8], packets[8];
    int64_t first = -5;
    EXPECT_EQ(PacketRingFirstStamp(&first), 0);
    for (uint64_t& v : bytes) v = 99;
    TotalCounterReadBytes(NowAtBin(3), bytes, 8);
    for (uint64_t v : bytes) EXPECT_EQ(v, 0u);

    SampleCounter idle;
    ASSERT_EQ(SampleCounterInit(&idle, 16), 1);
    Store(0, 10);
    EXPECT_EQ(PacketRingFirstStamp(&first), 1);
    EXPECT_EQ(first, kBase);
    for (uint64_t& v : packets) v = 99;
    SampleCounterRead(&idle, NowAtBin(0), nullptr, packets, 8);
    for (uint64_t v : packets) EXPECT_EQ(v, 0u);
    // More bins than the ring holds: the excess reads as zero.
    uint64_t wide[40];
    TotalCounterReadBytes(NowAtBin(0), bytes, 8);
    EXPECT_EQ(bytes[0], 10u);
    SampleCounter small;
    ASSERT_EQ(SampleCounterInit(&small, 16), 1);
    SampleCounterAdvance(&small, 1);
    for (uint64_t& v : wide) v = 99;
    SampleCounterRead(&small, NowAtBin(20), wide, nullptr, 40);
    for (int j = 0; j < 40; ++j) EXPECT_EQ(wide[j], j == 20 ? 10u : 0u) << j;
    SampleCounterFree(&small);
    SampleCounterFree(&idle);
}

TEST_F(PacketRingTest, ResetStartsAtPacketZeroAndForgetsTotals) {
    Store(0, 10);
    Store(300000, 20);
    EXPECT_EQ(PacketRingCount(), 2u);
    PacketRingReset();
    EXPECT_EQ(PacketRingCount(), 0u);
    EXPECT_EQ(TotalCounterGet()->matchedPackets.load(), 0u);
    FakeNow = kBase + 7 * kSecond;
    PacketRecordHeader h{2000, 500000, 30, 30};
    PacketRingStore(&h, nullptr);
    uint64_t bytes[8];
    TotalCounterReadBytes(kBase + 7 * kSecond, bytes, 8);
    EXPECT_EQ(bytes[0], 30u);
    EXPECT_EQ(TotalCounterGet()->matchedBytes.load(), 30u);  // nothing from before the reset
}

TEST_F(PacketRingTest, ZeroIntervalKeepsOnlyTheFirstPacket) {
    PacketRingSetInterval(0);
    Store(0, 10);
    Store(10, 10);
    EXPECT_EQ(PacketRingCount(), 1u);
    uint64_t bytes[2];
    TotalCounterReadBytes(kBase + kSecond, bytes, 2);
    EXPECT_EQ(bytes[0], 10u);  // "now" is bin 0
}

TEST_F(PacketRingTest, VerdictBeyondStoredPacketsIsDropped) {
    SampleCounter c;
    ASSERT_EQ(SampleCounterInit(&c, 16), 1);
    Store(0, 10);
    SampleCounterAdvance(&c, 1);
    SampleCounterAdvance(&c, 1);  // no packet 1 yet
    EXPECT_EQ(c.cursor.load(), 1u);
    EXPECT_EQ(c.matchedPackets.load(), 1u);
    SampleCounterFree(&c);
    EXPECT_EQ(SampleCounterInit(&c, 100), 0);  // not a power of two
    EXPECT_EQ(c.bytes, nullptr);
    SampleCounterFree(&c);
}

// A capture thread stores and counts, a consumer thread follows the ring as
// verdicts would, a third thread reads both counters all the while.
TEST_F(PacketRingTest, CaptureConsumerAndReaderRunTogether) {
    PerfSetClock(nullptr);
    SampleCounter c;
    ASSERT_EQ(SampleCounterInit(&c, 4096), 1);
    constexpr uint64_t kPackets = 100000;
    std::atomic<bool> done{false};
    std::thread capture([] {
        for (uint64_t k = 0; k < kPackets; ++k) {
            PacketRecordHeader h{static_cast<uint32_t>(k / 1000), static_cast<uint32_t>(k % 1000) * 1000, 60,
                                 static_cast<uint32_t>(60 + k % 3)};
            PacketRingStore(&h, nullptr);
        }
    });
    std::thread consumer([&c] {
        uint64_t k = 0;
        while (k < kPackets) {
            if (k < PacketRingCount()) {
                SampleCounterAdvance(&c, k % 2 == 0);
                ++k;
            } else {
                std::this_thread::yield();
            }
        }
    });
    std::thread reader([&] {
        std::vector<uint64_t> bytes(1920), packets(1920);
        while (!done.load()) {
            int64_t now = PerfCounter();
            SampleCounterRead(&c, now, bytes.data(), packets.data(), 1920);
            TotalCounterReadBytes(now, bytes.data(), 1920);
            int64_t first;
            PacketRingFirstStamp(&first);
        }
    });
    capture.join();
    consumer.join();
    done = true;
    reader.join();
    uint64_t expectBytes = 0;
    for (uint64_t k = 0; k < kPackets; k += 2) expectBytes += 60 + k % 3;
    EXPECT_EQ(c.matchedPackets.load(), kPackets / 2);
    EXPECT_EQ(c.matchedBytes.load(), expectBytes);
    EXPECT_EQ(TotalCounterGet()->matchedPackets.load(), kPackets);
    SampleCounterFree(&c);
}

}  // namespace
