// SPDX-License-Identifier: GPL-2.0-or-later
// Rawshark manager: the command line, the verdict parser fed in any split,
// and real rawshark processes checked against tshark on the same records.
//
//   command      designed text, argv, -N letters, preferences
//   parser       verdicts, CR LF / LF, splits, messages, garbage, long lines
//   processes    counts against tshark (live and offline), rejected and
//                killed filters, missing executable, teardown bookkeeping
//   one pass     judge lines, one lumo_judge against tshark, a killed and a
//                stopped judge, a stopped rawshark in the per-filter mode;
//                several judges against tshark, one killed, one stopped
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/packetring.h"
#include "pipeline/packetstore.h"
#include "pipeline/rawsharkcommand.h"
#include "pipeline/rawsharkmngr_internal.h"
#include "platform/platform.h"
#include "support/offline_support.h"
#include "support/pipeline_packets.h"
#include "support/wait.h"

namespace {

using Clock = std::chrono::steady_clock;

RawsharkBlock Rawshark(const char* path = "/usr/bin/rawshark") {
    RawsharkBlock b{};
    snprintf(b.rawsharkPath, sizeof b.rawsharkPath, "%s", path);
    return b;
}

FilterEntry Filter(const char* text) {
    FilterEntry e{};
    snprintf(e.filterText, sizeof e.filterText, "%s", text);
    e.unit = 1;
    return e;
}

std::vector<std::string> Args(const RawsharkCommand& c) {
    std::vector<std::string> v;
    for (int i = 0; i < c.argc; ++i) v.push_back(c.argv[i]);
    EXPECT_EQ(c.argv[c.argc], nullptr);
    return v;
}

std::string Message(int n) {
    char m[256];
    RawsharkMngrLastMessage(n, m);
    return m;
}

// Every test starts from an empty list, ring and store, with its own data
// folder (no preferences file unless the test writes one).
class RawsharkMngrTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = PipelineTestTempDir("rawsharkmngr");
        setenv("LUMO_HOME", home_.c_str(), 1);
        RawsharkMngrListClear();
        PacketStoreReset();
        // ThreadSanitizer starts a thread of its own at the first thread
        // creation; one made here keeps it out of the thread counts below.
        std::thread([] {}).join();
        PacketRingSetInterval(50000);
        ASSERT_EQ(TotalCounterInit(65536), 1);
        PacketRingReset();
    }
    void TearDown() override {
        RawsharkMngrListClear();
        PlatformSetProgramFolder(nullptr);
        PacketStoreReset();
        PacketRingReset();
        TotalCounterFree();
        unsetenv("LUMO_HOME");
    }
    void WritePreferences(const std::string& text) {
        FILE* f = fopen((home_ + "/preferences").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    std::string home_;
};

// ---------------------------------------------------------------- command

TEST_F(RawsharkMngrTest, CommandLineAsDesignedWithoutLetterC) {
    auto c = std::make_unique<RawsharkCommand>();
    RawsharkBlock b = Rawshark();
    b.macResolution = b.networkResolution = b.transportResolution = b.concurrentDns = 1;
    ASSERT_EQ(RawsharkCommandBuild(&b, 1, "tcp", c.get()), 1);
    EXPECT_STREQ(c->text, "/usr/bin/rawshark -d encap:1 -l -r - -n -N mnt -R \"tcp\" ");
    EXPECT_EQ(Args(*c), (std::vector<std::string>{"/usr/bin/rawshark", "-d", "encap:1", "-l", "-r", "-", "-n", "-N",
                                                  "mnt", "-R", "tcp"}));

    b.macResolution = b.networkResolution = b.transportResolution = 0;
    ASSERT_EQ(RawsharkCommandBuild(&b, 113, "udp", c.get()), 1);
    EXPECT_STREQ(c->text, "/usr/bin/rawshark -d encap:113 -l -r - -n  -R \"udp\" ");
    // Only concurrent DNS on: no "-N" at all, or rawshark would eat "-R".
    EXPECT_EQ(Args(*c),
              (std::vector<std::string>{"/usr/bin/rawshark", "-d", "encap:113", "-l", "-r", "-", "-n", "-R", "udp"}));

    b.networkResolution = 1;
    ASSERT_EQ(RawsharkCommandBuild(&b, 1, "", c.get()), 1);
    EXPECT_STREQ(c->text, "/usr/bin/rawshark -d encap:1 -l -r - -n -N n ");
    EXPECT_EQ(c->argc, 9);
}

TEST_F(RawsharkMngrTest, PreferenceLinesBecomeOptionsOrAreDropped) {
    auto c = std::make_unique<RawsharkCommand>();
    RawsharkBlock b = Rawshark();
    ASSERT_EQ(RawsharkCommandBuild(&b, 1, "", c.get()), 1);
    EXPECT_EQ(RawsharkCommandAppendPreferenceLine(c.get(), "\t tcp.try_heuristic_first: TRUE  # comment\r\n"), 1);
    EXPECT_EQ(RawsharkCommandAppendPreferenceLine(c.get(), "gui.title: \"quoted\"\n"), 0);
    EXPECT_EQ(RawsharkCommandAppendPreferenceLine(c.get(), "no colon here\n"), 0);
    EXPECT_EQ(RawsharkCommandAppendPreferenceLine(c.get(), "# name: in a comment\n"), 0);
    EXPECT_EQ(RawsharkCommandAppendPreferenceLine(c.get(), "\n"), 0);
    EXPECT_EQ(RawsharkCommandAppendPreferenceLine(c.get(), "a:\x01\x7f\xe9z\n"), 1);
    EXPECT_STREQ(c->text,
                 "/usr/bin/rawshark -d encap:1 -l -r - -n   -o \"tcp.try_heuristic_first: TRUE\"  "
                 "-o \"a: \x7f z\" ");
    std::vector<std::string> args = Args(*c);
    ASSERT_EQ(args.size(), 11u);
    EXPECT_EQ(args[7], "-o");
    EXPECT_EQ(args[8], "tcp.try_heuristic_first: TRUE");
    EXPECT_EQ(args[10], "a: \x7f z");

    // From the file in the data folder; a 300-character line arrives as a
    // 255-character piece and the rest, each a line of its own.
    std::string longLine = "x.y:" + std::string(251, 'a') + "b:c" + std::string(42, 'd') + "\n";
    WritePreferences("p.one: 1\nskip me\r\n" + longLine + "p.two: a b\n");
    ASSERT_EQ(RawsharkCommandBuild(&b, 1, "", c.get()), 1);
    EXPECT_EQ(RawsharkCommandAppendPreferences(c.get()), 4);
    args = Args(*c);
    ASSERT_EQ(args.size(), 15u);
    EXPECT_EQ(args[8], "p.one: 1");
    EXPECT_EQ(args[10], "x.y:" + std::string(251, 'a'));
    EXPECT_EQ(args[12], "b:c" + std::string(42, 'd'));
    EXPECT_EQ(args[14], "p.two: a b");
}

// ---------------------------------------------------------------- parser

// An offline entry over `packets` stored items, fed as the reader would be.
struct ParsedEntry {
    std::unique_ptr<RawsharkEntry> entry{new RawsharkEntry()};
    explicit ParsedEntry(int packets, int index = 2) {
        entry->mode = RawsharkMngrOffline;
        entry->index = index;
        for (int k = 0; k < packets; ++k) PacketStoreAdd(k, 100);
    }
    // Hands `text` over in reads of the given sizes (the last size repeats).
    void Feed(const std::string& text, std::vector<int> reads = {1024}) {
        size_t at = 0, r = 0;
        while (at < text.size()) {
            int room = kRawsharkBufferSize - entry->lines.fill;
            int n = reads[r < reads.size() ? r : reads.size() - 1];
            ++r;
            if (n > room) n = room;
            if (static_cast<size_t>(n) > text.size() - at) n = static_cast<int>(text.size() - at);
            memcpy(entry->lines.buffer + entry->lines.fill, text.data() + at, static_cast<size_t>(n));
            at += static_cast<size_t>(n);
            RawsharkMngrTakeRead(entry.get(), n);
        }
    }
    std::string Bits(int count) const {
        std::string s;
        for (int k = 0; k < count; ++k) s += (PacketStoreItem(k)->matchBits.load() & (1u << entry->index)) ? '1' : '0';
        return s;
    }
    std::string Last() const {
        char m[256];
        RawsharkMessageLoad(&entry->LastMessage, m);
        return m;
    }
};

TEST_F(RawsharkMngrTest, VerdictLinesWithLfOrCrLfApplyInOrder) {
    ParsedEntry p(5);
    p.Feed("\n1 1 -\n2 0 -\r\n3 1 -\r\n4 0 -\n5 1 -\n");
    EXPECT_EQ(p.entry->cursor.load(), 5);
    EXPECT_EQ(p.Bits(5), "10101");
    EXPECT_EQ(p.entry->lines.fill, 0);
    // Nothing complete: nothing consumed.
    EXPECT_EQ(RawsharkMngrParseLines("6 1 -", 5, p.entry.get()), 0);
}

TEST_F(RawsharkMngrTest, VerdictSplitAcrossReadsCountsOnce) {
    const std::string out = "\n1 1 -\r\n2 0 -\n3 1 -\nrawshark: note\r\n4 1 -\n";
    for (size_t split = 1; split < out.size(); ++split) {
        PacketStoreReset();
        ParsedEntry p(4);
        p.Feed(out, {static_cast<int>(split), 1024});
        ASSERT_EQ(p.entry->cursor.load(), 4) << split;
        ASSERT_EQ(p.Bits(4), "1011") << split;
        ASSERT_EQ(p.Last(), "rawshark: note") << split;
    }
    PacketStoreReset();
    ParsedEntry bytewise(4);
    bytewise.Feed(out, {1});
    EXPECT_EQ(bytewise.Bits(4), "1011");
}

TEST_F(RawsharkMngrTest, RawsharkLineReplacesMessageAndCountsNothing) {
    ParsedEntry p(3);
    p.Feed("rawshark: first\n1 1 -\nrawshark: second -\r\n2 1 -\n");
    EXPECT_EQ(p.Last(), "rawshark: second -");  // a message, even ending in '-'
    EXPECT_EQ(p.entry->cursor.load(), 2);
    std::string longMessage = "rawshark: " + std::string(400, 'e');
    p.Feed(longMessage + "\n");
    EXPECT_EQ(p.Last(), longMessage.substr(0, 255));
}

TEST_F(RawsharkMngrTest, GarbageIsIgnoredAndLaterVerdictsKeepTheirOrder) {
    ParsedEntry p(4);
    p.Feed("hello\n-\n1 -\n\r\nRawshark: no\n1 1 -\nWARNING something 0\n2 0 -\n3 1 -\n4 1 -\n");
    EXPECT_EQ(p.Bits(4), "1011");
    EXPECT_EQ(p.Last(), "");
    // More verdicts than stored packets: the extra ones have nothing to mark.
    p.Feed("5 1 -\n");
    EXPECT_EQ(p.entry->cursor.load(), 4);
}

// Fault: a line longer than the 1024-byte buffer stalled the reader for good
// and every later verdict of the filter was lost.
TEST_F(RawsharkMngrTest, LinesLongerThanTheBufferDoNotStopLaterVerdicts) {
    ParsedEntry p(4);
    std::string garbage(3000, 'g');
    std::string message = "rawshark: " + std::string(2000, 'm') + " 1 -";
    p.Feed("1 1 -\n" + garbage + "\n" + message + "\r\n2 0 -\n" + garbage + " 3 1 -\n4 1 -\n", {700});
    EXPECT_EQ(p.entry->cursor.load(), 4);
    EXPECT_EQ(p.Bits(4), "1011");  // the long line ending like a verdict is one
    EXPECT_EQ(p.Last(), message.substr(0, 255));
}

TEST_F(RawsharkMngrTest, LiveVerdictsAdvanceTheCounterOverTheRing) {
    std::unique_ptr<RawsharkEntry> e(new RawsharkEntry());
    e->mode = RawsharkMngrLive;
    ASSERT_EQ(SampleCounterInit(&e->counter, 1024), 1);
    for (uint32_t k = 0; k < 3; ++k) {
        PacketRecordHeader h{1000, k * 10, 60, 100 + k};
        PacketRingStore(&h, nullptr);
    }
    const char out[] = "\n1 1 -\n2 0 -\n3 1 -\n";
    EXPECT_EQ(RawsharkMngrParseLines(out, sizeof out - 1, e.get()), static_cast<int>(sizeof out - 1));
    EXPECT_EQ(e->counter.matchedPackets.load(), 2u);
    EXPECT_EQ(e->counter.matchedBytes.load(), 100u + 102u);
    SampleCounterFree(&e->counter);
}

// ---------------------------------------------------------------- processes

// Sums of a tshark match list, and per bin of `interval` from `origin`.
struct Expected {
    uint64_t packets = 0, bytes = 0;
    std::map<int64_t, std::pair<uint64_t, uint64_t>> bins;  // bin -> packets, bytes
};

Expected Reference(const std::string& pcap, const std::string& filter, int64_t origin, int64_t interval) {
    std::vector<PipelineTestMatch> m;
    EXPECT_TRUE(PipelineTestTsharkMatches(pcap, filter, &m)) << filter;
    Expected e;
    for (const PipelineTestMatch& x : m) {
        e.packets += 1;
        e.bytes += x.length;
        auto& bin = e.bins[(x.usec - origin) / interval];
        bin.first += 1;
        bin.second += x.length;
    }
    return e;
}

int64_t UsecOf(const PacketRecordHeader& h) { return int64_t{h.ts_sec} * 1000000 + h.ts_usec; }

// Three filters, the second empty: two rawsharks; a writer thread feeds the
// packets while the reader threads count and a third thread reads the
// counters as the graph does; the counts equal tshark's on the same records.
TEST_F(RawsharkMngrTest, LiveCountsMatchTsharkWithTheSecondFilterEmpty) {
    const int kPackets = 3000;
    std::vector<PipelineTestPacket> packets = PipelineTestMakePackets(kPackets, 7);
    std::string pcap = home_ + "/live.pcap";
    ASSERT_TRUE(PipelineTestWritePcap(pcap, packets));
    const char* texts[3] = {"udp", "", "tcp.port == 80"};
    FilterEntry filters[3] = {Filter(texts[0]), Filter(texts[1]), Filter(texts[2])};
    RawsharkBlock b = Rawshark();
    int childrenBefore = PipelineTestChildren();

    ASSERT_EQ(RawsharkMngrListEdit(&b, 1, 3, filters, 65536), 1);
    ASSERT_EQ(RawsharkMngrCount(), 3);
    EXPECT_EQ(PipelineTestChildren(), childrenBefore + 2);
    EXPECT_NE(RawsharkMngrEntry(0)->console.process, 0);
    EXPECT_EQ(RawsharkMngrEntry(1)->console.process, 0);
    // The build returned only once every reader ran.
    EXPECT_NE(RawsharkMngrEntry(0)->ReaderState.load(), ReaderNotStarted);
    EXPECT_NE(RawsharkMngrEntry(2)->ReaderState.load(), ReaderNotStarted);

    std::atomic<bool> fed{false};
    std::thread writer([&] {
        for (const PipelineTestPacket& p : packets) {
            PacketRingStore(&p.header, p.data.data());
            RawsharkMngrWritePacket(&p.header, p.data.data());
        }
        fed = true;
    });
    std::atomic<bool> stop{false};
    std::thread graph([&] {
        std::vector<uint64_t> out(1920);
        char message[256];
        while (!stop.load()) {
            int64_t now = PerfCounter();
            for (int n = 0; n < RawsharkMngrCount(); ++n) {
                RawsharkMngrReadBytes(n, now, out.data(), 1920, message);
                RawsharkMngrReadPackets(n, now, out.data(), 1920, message);
            }
            TotalCounterReadBytes(now, out.data(), 1920);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    writer.join();
    bool done = TestWaitFor(
        [] {
            for (int n = 0; n < 3; ++n) {
                if (RawsharkMngrEntry(n)->counter.cursor.load() != kPackets) return false;
            }
            return true;
        },
        120000);
    stop = true;
    graph.join();
    ASSERT_TRUE(done) << RawsharkMngrEntry(0)->counter.cursor.load() << " "
                      << RawsharkMngrEntry(2)->counter.cursor.load();

    const int64_t origin = UsecOf(packets[0].header);
    const int64_t lastBin = (UsecOf(packets.back().header) - origin) / 50000;
    int64_t first = 0;
    ASSERT_EQ(PacketRingFirstStamp(&first), 1);
    const int64_t now = first + lastBin * 50000 * 1000;  // "now" in the last packet's bin
    const int bins = static_cast<int>(lastBin + 1);
    for (int n = 0; n < 3; ++n) {
        Expected e = Reference(pcap, texts[n], origin, 50000);
        const SampleCounter& c = RawsharkMngrEntry(n)->counter;
        EXPECT_EQ(c.matchedPackets.load(), e.packets) << texts[n];
        EXPECT_EQ(c.matchedBytes.load(), e.bytes) << texts[n];
        std::vector<uint64_t> bytes(bins), counts(bins);
        char message[256];
        ASSERT_EQ(RawsharkMngrReadBytes(n, now, bytes.data(), bins, message), 1);
        ASSERT_EQ(RawsharkMngrReadPackets(n, now, counts.data(), bins, message), 1);
        EXPECT_STREQ(message, "");
        for (int j = 0; j < bins; ++j) {
            auto it = e.bins.find(lastBin - j);
            uint64_t p = it == e.bins.end() ? 0 : it->second.first;
            uint64_t y = it == e.bins.end() ? 0 : it->second.second;
            ASSERT_EQ(counts[j], p) << texts[n] << " bin " << lastBin - j;
            ASSERT_EQ(bytes[j], y) << texts[n] << " bin " << lastBin - j;
        }
    }
    EXPECT_GT(RawsharkMngrEntry(0)->counter.matchedPackets.load(), 0u);
    EXPECT_EQ(RawsharkMngrReadBytes(3, now, nullptr, 0, nullptr), 0);  // no entry 3: nothing written

    RawsharkMngrListClear();
    EXPECT_EQ(RawsharkMngrCount(), 0);
    EXPECT_EQ(PipelineTestChildren(), childrenBefore);
}

// The offline program: verdicts mark the store; folding per filter equals
// tshark's counts, the 70000-byte packet included whole.
TEST_F(RawsharkMngrTest, OfflineMarksMatchTshark) {
    const int kPackets = 2500;
    std::vector<PipelineTestPacket> packets = PipelineTestMakePackets(kPackets, 11);
    std::string pcap = home_ + "/offline.pcap";
    ASSERT_TRUE(PipelineTestWritePcap(pcap, packets));
    const char* texts[4] = {"ip.dst == 10.0.1.3", "udp", "", "frame.len > 1000"};
    FilterEntry filters[4] = {Filter(texts[0]), Filter(texts[1]), Filter(texts[2]), Filter(texts[3])};
    RawsharkBlock b = Rawshark();
    ASSERT_EQ(RawsharkMngrListEditOffline(&b, 1, 4, filters), 1);
    const int64_t origin = UsecOf(packets[0].header);
    for (const PipelineTestPacket& p : packets) {
        ASSERT_EQ(PacketStoreAdd(UsecOf(p.header) - origin, p.header.orig_len), 1);
        RawsharkMngrWritePacket(&p.header, p.data.data());
    }
    ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrAllDone(kPackets) == 1; }, 120000));
    EXPECT_EQ(RawsharkMngrAllDone(kPackets + 1), 0);

    // One window over the whole file, 100 ms per column.
    const int64_t w = 100000, T = PacketStoreLastTime();
    const int n = static_cast<int>(T / w + 1);
    int64_t first, last;
    ASSERT_EQ(PacketStoreFindRange(T, w, n, &first, &last), 1);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, kPackets - 1);
    for (int f = 0; f < 4; ++f) {
        Expected e = Reference(pcap, texts[f], origin, w);
        std::vector<uint64_t> bytes(n), counts(n);
        PacketStoreAccumulate(f, T, w, n, first, last, bytes.data(), counts.data());
        for (int j = 0; j < n; ++j) {
            auto it = e.bins.find(T / w - j);
            ASSERT_EQ(counts[j], it == e.bins.end() ? 0 : it->second.first) << texts[f] << " column " << j;
            ASSERT_EQ(bytes[j], it == e.bins.end() ? 0 : it->second.second) << texts[f] << " column " << j;
        }
    }
    std::vector<uint64_t> all(n);
    PacketStoreAccumulate(-1, T, w, n, first, last, all.data(), nullptr);
    uint64_t sum = 0;
    for (uint64_t v : all) sum += v;
    EXPECT_EQ(sum, Reference(pcap, "", origin, w).bytes);
}

// Shell characters in a filter and a preference reach rawshark as the one
// argument each is: the filter still matches exactly the packet holding that
// text, and rawshark accepts the preference.
TEST_F(RawsharkMngrTest, ShellCharactersReachRawsharkUnchanged) {
    const std::string odd = "a;b $HOME `id` 'q' & |x";
    WritePreferences("gui.window_title: " + odd + " ; $(id) `id`\n");
    std::string filterText = "frame contains \"" + odd + "\"";
    FilterEntry filters[1] = {Filter(filterText.c_str())};
    RawsharkBlock b = Rawshark();
    ASSERT_EQ(RawsharkMngrListEditOffline(&b, 1, 1, filters), 1);
    std::vector<PipelineTestPacket> packets = {PipelineTestUdpPacket(1000, 0, "xx" + odd + "yy"),
                                               PipelineTestUdpPacket(1000, 1, "a;b $HOME `id`"),
                                               PipelineTestUdpPacket(1000, 2, odd)};
    for (const PipelineTestPacket& p : packets) {
        PacketStoreAdd(p.header.ts_usec, p.header.orig_len);
        RawsharkMngrWritePacket(&p.header, p.data.data());
    }
    ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrAllDone(3) == 1; }, 60000));
    EXPECT_EQ(RawsharkMngrEntry(0)->cursor.load(), 3) << Message(0);
    EXPECT_EQ(PacketStoreItem(0)->matchBits.load(), 1u);
    EXPECT_EQ(PacketStoreItem(1)->matchBits.load(), 0u);
    EXPECT_EQ(PacketStoreItem(2)->matchBits.load(), 1u);
    EXPECT_EQ(Message(0), "");
}

// A filter rawshark rejects ends that entry at once with rawshark's line as
// its message and no counts; a rawshark killed mid-run freezes its entry;
// every other filter keeps counting.
TEST_F(RawsharkMngrTest, RejectedAndKilledFiltersStopAloneAndOthersGoOn) {
    FilterEntry filters[4] = {Filter("udp"), Filter("tcp.bogus"), Filter(""), Filter("tcp")};
    RawsharkBlock b = Rawshark();
    ASSERT_EQ(RawsharkMngrListEdit(&b, 1, 4, filters, 65536), 1);
    ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrEntry(1)->ReaderState.load() == ReaderEnded; }, 30000));
    EXPECT_EQ(Message(1), "rawshark: tcp.bogus is neither a field nor a protocol name.");

    std::vector<PipelineTestPacket> packets = PipelineTestMakePackets(2000, 3);
    size_t k = 0;
    for (; k < 1000; ++k) {
        PacketRingStore(&packets[k].header, packets[k].data.data());
        RawsharkMngrWritePacket(&packets[k].header, packets[k].data.data());
    }
    ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrEntry(3)->counter.cursor.load() == 1000; }, 60000));
    // Killed from outside, as a crash would. Packets keep coming at once:
    // until its reader sees the end, writes to it fail with EPIPE (logged,
    // never a signal).
    ASSERT_EQ(kill(RawsharkMngrEntry(3)->console.process, SIGKILL), 0);
    for (; k < packets.size(); ++k) {
        PacketRingStore(&packets[k].header, packets[k].data.data());
        RawsharkMngrWritePacket(&packets[k].header, packets[k].data.data());
    }
    ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrEntry(3)->ReaderState.load() == ReaderEnded; }, 30000));
    ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrEntry(0)->counter.cursor.load() == 2000; }, 60000));
    EXPECT_EQ(RawsharkMngrEntry(1)->counter.cursor.load(), 0u);
    EXPECT_EQ(RawsharkMngrEntry(1)->counter.matchedPackets.load(), 0u);
    EXPECT_EQ(RawsharkMngrEntry(2)->counter.matchedPackets.load(), 2000u);
    uint64_t frozen = RawsharkMngrEntry(3)->counter.cursor.load();
    EXPECT_GE(frozen, 1000u);
    EXPECT_LT(frozen, 2000u);
    EXPECT_EQ(Message(0), "");

    uint64_t expectUdp = 0;
    for (const PipelineTestPacket& p : packets) expectUdp += p.data.size() >= 24 && p.data[12] == 8 && p.data[23] == 17;
    EXPECT_EQ(RawsharkMngrEntry(0)->counter.matchedPackets.load(), expectUdp);
    uint64_t zeros[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    char message[256];
    ASSERT_EQ(RawsharkMngrReadPackets(1, PerfCounter(), zeros, 8, message), 1);
    for (uint64_t z : zeros) EXPECT_EQ(z, 0u);
    EXPECT_STREQ(message, "rawshark: tcp.bogus is neither a field nor a protocol name.");
}

// Fault: the offline reader waited for every cursor to reach the packet
// count, so one rejected filter made it wait for ever.
TEST_F(RawsharkMngrTest, OfflineRunFinishesDespiteARejectedFilter) {
    FilterEntry filters[2] = {Filter("tcp.bogus"), Filter("udp")};
    RawsharkBlock b = Rawshark();
    ASSERT_EQ(RawsharkMngrListEditOffline(&b, 1, 2, filters), 1);
    std::vector<PipelineTestPacket> packets = PipelineTestMakePackets(200, 5);
    for (const PipelineTestPacket& p : packets) {
        PacketStoreAdd(UsecOf(p.header) - UsecOf(packets[0].header), p.header.orig_len);
        RawsharkMngrWritePacket(&p.header, p.data.data());
    }
    ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrAllDone(200) == 1; }, 60000));
    EXPECT_EQ(RawsharkMngrEntry(1)->cursor.load(), 200);
    EXPECT_EQ(Message(0), "rawshark: tcp.bogus is neither a field nor a protocol name.");
    for (int k = 0; k < 200; ++k) ASSERT_EQ(PacketStoreItem(k)->matchBits.load() & 1u, 0u);
}

TEST_F(RawsharkMngrTest, MissingExecutableFailsAndLeavesNothingRunning) {
    int fds = PipelineTestOpenFds(), threads = PipelineTestThreads(), children = PipelineTestChildren();
    FilterEntry filters[3] = {Filter("udp"), Filter(""), Filter("tcp")};
    RawsharkBlock missing = Rawshark("/nonexistent/rawshark");
    EXPECT_EQ(RawsharkMngrListEdit(&missing, 1, 3, filters, 65536), 0);
    EXPECT_EQ(RawsharkMngrCount(), 0);
    RawsharkBlock empty = Rawshark("");
    EXPECT_EQ(RawsharkMngrListEditOffline(&empty, 1, 3, filters), 0);
    FilterEntry emptyFirst[2] = {Filter(""), Filter("udp")};
    EXPECT_EQ(RawsharkMngrListEdit(&missing, 1, 2, emptyFirst, 65536), 0);  // entry 0 built, then taken down
    RawsharkBlock good = Rawshark();
    ASSERT_EQ(RawsharkMngrListEdit(&good, 1, 1, filters, 65536), 1);
    EXPECT_EQ(RawsharkMngrListEdit(&good, 1, 3, filters, 1000), 0);  // bins not a power of two
    EXPECT_EQ(RawsharkMngrCount(), 0);
    EXPECT_EQ(RawsharkMngrListEdit(&good, 1, FilterSetMax + 1, filters, 65536), 0);
    EXPECT_EQ(RawsharkMngrListEdit(&good, 1, 0, filters, 65536), 1);
    EXPECT_EQ(RawsharkMngrCount(), 0);
    EXPECT_EQ(PipelineTestOpenFds(), fds);
    EXPECT_EQ(PipelineTestThreads(), threads);
    EXPECT_EQ(PipelineTestChildren(), children);
}

TEST_F(RawsharkMngrTest, TeardownOfEndedReadersDoesNotWait) {
    FilterEntry filters[3] = {Filter("tcp.bogus"), Filter("udp.nonsense"), Filter("")};
    RawsharkBlock b = Rawshark();
    ASSERT_EQ(RawsharkMngrListEdit(&b, 1, 3, filters, 65536), 1);
    ASSERT_TRUE(TestWaitFor(
        [] {
            return RawsharkMngrEntry(0)->ReaderState.load() == ReaderEnded &&
                   RawsharkMngrEntry(1)->ReaderState.load() == ReaderEnded;
        },
        30000));
    auto start = Clock::now();
    RawsharkMngrListClear();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(RawsharkMngrCount(), 0);
}

// Teardown right after a burst, with every rawshark busy and every reader
// mid-read, leaves no process, thread or descriptor behind.
TEST_F(RawsharkMngrTest, TeardownUnderLoadLeavesNothingBehind) {
    int fds = PipelineTestOpenFds(), threads = PipelineTestThreads(), children = PipelineTestChildren();
    std::vector<PipelineTestPacket> packets = PipelineTestMakePackets(4000, 9);
    FilterEntry filters[5] = {Filter("udp"), Filter("tcp"), Filter(""), Filter("arp"), Filter("ip")};
    RawsharkBlock b = Rawshark();
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(RawsharkMngrListEdit(&b, 1, 5, filters, 65536), 1);
        EXPECT_EQ(PipelineTestChildren(), children + 4);
        EXPECT_EQ(PipelineTestThreads(), threads + 4);
        for (const PipelineTestPacket& p : packets) {
            PacketRingStore(&p.header, p.data.data());
            RawsharkMngrWritePacket(&p.header, p.data.data());
        }
        auto start = Clock::now();
        RawsharkMngrListClear();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
        EXPECT_EQ(PipelineTestOpenFds(), fds);
        EXPECT_EQ(PipelineTestThreads(), threads);
        EXPECT_EQ(PipelineTestChildren(), children);
        PacketRingReset();
    }
}

// ---------------------------------------------------------------- one pass

RawsharkBlock OnePass(int judges = 1) {
    RawsharkBlock b = Rawshark();
    b.onePass = 1;
    b.judges = judges;
    PlatformSetProgramFolder(LUMO_BIN_DIR);  // where lumo_judge is built
    return b;
}

void Feed(const std::vector<PipelineTestPacket>& packets, size_t from, size_t to, bool live) {
    for (size_t k = from; k < to; ++k) {
        if (live) {
            PacketRingStore(&packets[k].header, packets[k].data.data());
        } else {
            PacketStoreAdd(UsecOf(packets[k].header) - UsecOf(packets[0].header), packets[k].header.orig_len);
        }
        RawsharkMngrWritePacket(&packets[k].header, packets[k].data.data());
    }
}

TEST_F(RawsharkMngrTest, JudgeLinesSplitAtAnyByteReachTheirEntries) {
    const std::string out =
        "lumo_judge: filter 2: bad\n10\n01\r\n1\n101\n1x\nlumo_judge: filter 9: none\n11\nlumo_judge: note\n00\n";
    FilterEntry empty[3] = {Filter(""), Filter(""), Filter("")};
    RawsharkBlock b = Rawshark();
    for (size_t split = 1; split < out.size(); ++split) {
        PacketStoreReset();
        ASSERT_EQ(RawsharkMngrListEditOffline(&b, 1, 3, empty), 1);  // three entries, no process
        ParsedEntry judge(4);
        judge.entry->servedCount = 2;
        judge.entry->served[0] = 0;
        judge.entry->served[1] = 2;
        judge.Feed(out, {static_cast<int>(split), 1024});
        ASSERT_EQ(RawsharkMngrEntry(0)->cursor.load(), 4) << split;
        ASSERT_EQ(RawsharkMngrEntry(1)->cursor.load(), 0) << split;
        std::string bits0, bits2;
        for (int k = 0; k < 4; ++k) {
            bits0 += (PacketStoreItem(k)->matchBits.load() & 1u) ? '1' : '0';
            bits2 += (PacketStoreItem(k)->matchBits.load() & 4u) ? '1' : '0';
        }
        ASSERT_EQ(bits0, "1010") << split;
        ASSERT_EQ(bits2, "0110") << split;
        ASSERT_EQ(Message(2), "lumo_judge: filter 2: bad") << split;
        ASSERT_EQ(Message(0), "") << split;
        ASSERT_EQ(judge.Last(), "lumo_judge: note") << split;
    }
}

// One lumo_judge serves every non-empty filter: one child, one write per
// packet (with several, one child each), counts equal tshark's; the filter it refuses stays at zero with
// the judge's line as its message while it still decides every packet.
TEST_F(RawsharkMngrTest, OnePassLiveCountsMatchTsharkAndARefusedFilterStaysAtZero) {
    const int kPackets = 3000;
    std::vector<PipelineTestPacket> packets = PipelineTestMakePackets(kPackets, 13);
    std::string pcap = home_ + "/onepass.pcap";
    ASSERT_TRUE(PipelineTestWritePcap(pcap, packets));
    const char* texts[5] = {"udp", "", "tcp.bogus", "tcp.port == 80", "frame.len > 1000"};
    FilterEntry filters[5] = {Filter(texts[0]), Filter(texts[1]), Filter(texts[2]), Filter(texts[3]), Filter(texts[4])};
    int children = PipelineTestChildren();
    for (int judges : {1, 2, 3}) {
        SCOPED_TRACE(judges);
        RawsharkBlock b = OnePass(judges);
        PacketRingReset();
        ASSERT_EQ(RawsharkMngrListEdit(&b, 1, 5, filters, 65536), 1);
        ASSERT_NE(RawsharkMngrJudge(judges - 1), nullptr);
        EXPECT_EQ(RawsharkMngrJudge(judges - 1)->servedCount, 4);
        EXPECT_EQ(PipelineTestChildren(), children + judges);
        for (int n = 0; n < 5; ++n) EXPECT_EQ(RawsharkMngrEntry(n)->console.process, 0);

        Feed(packets, 0, packets.size(), true);
        ASSERT_TRUE(TestWaitFor(
            [] {
                for (int n = 0; n < 5; ++n) {
                    if (RawsharkMngrEntry(n)->counter.cursor.load() != kPackets) return false;
                }
                return true;
            },
            120000));
        for (int n : {0, 1, 3, 4}) {
            Expected e = Reference(pcap, texts[n], UsecOf(packets[0].header), 50000);
            EXPECT_EQ(RawsharkMngrEntry(n)->counter.matchedPackets.load(), e.packets) << texts[n];
            EXPECT_EQ(RawsharkMngrEntry(n)->counter.matchedBytes.load(), e.bytes) << texts[n];
            EXPECT_EQ(Message(n), "") << texts[n];
        }
        EXPECT_EQ(RawsharkMngrEntry(2)->counter.matchedPackets.load(), 0u);
        EXPECT_EQ(Message(2), "lumo_judge: filter 2: tcp.bogus is neither a field nor a protocol name.");
        RawsharkMngrListClear();
        EXPECT_EQ(RawsharkMngrJudge(), nullptr);
        EXPECT_EQ(PipelineTestChildren(), children);
    }
}

// A judge that dies mid-capture ends every entry it served as a dead
// rawshark's would, saying how; an empty filter goes on counting.
TEST_F(RawsharkMngrTest, KilledJudgeEndsEveryEntryItServedLive) {
    std::vector<PipelineTestPacket> packets = PipelineTestMakePackets(2000, 17);
    FilterEntry filters[3] = {Filter("udp"), Filter(""), Filter("tcp")};
    RawsharkBlock b = OnePass();
    ASSERT_EQ(RawsharkMngrListEdit(&b, 1, 3, filters, 65536), 1);
    Feed(packets, 0, 1000, true);
    ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrEntry(2)->counter.cursor.load() == 1000; }, 60000));
    ASSERT_EQ(kill(RawsharkMngrJudge()->console.process, SIGKILL), 0);
    Feed(packets, 1000, packets.size(), true);
    ASSERT_TRUE(TestWaitFor(
        [] {
            return RawsharkMngrEntry(0)->ReaderState.load() == ReaderEnded &&
                   RawsharkMngrEntry(2)->ReaderState.load() == ReaderEnded;
        },
        30000));
    for (int n : {0, 2}) {
        EXPECT_EQ(Message(n), "lumo_judge ended (killed by signal 9)");
        EXPECT_LT(RawsharkMngrEntry(n)->counter.cursor.load(), 2000u);
    }
    EXPECT_EQ(RawsharkMngrEntry(1)->counter.matchedPackets.load(), 2000u);
    EXPECT_EQ(Message(1), "");
}

// Fault: a judging process that stopped reading blocked the packet source in
// its pipe write for good. Now it is stopped after the bound, the entries it
// served end with the reason, and an offline run can finish.
TEST_F(RawsharkMngrTest, StoppedJudgeIsKilledAfterTheBoundOffline) {
    std::vector<PipelineTestPacket> packets = PipelineTestMakePackets(3000, 19);
    FilterEntry filters[3] = {Filter("udp"), Filter(""), Filter("tcp")};
    RawsharkBlock b = OnePass();
    int children = PipelineTestChildren();
    ASSERT_EQ(RawsharkMngrListEditOffline(&b, 1, 3, filters), 1);
    ASSERT_EQ(kill(RawsharkMngrJudge()->console.process, SIGSTOP), 0);
    Feed(packets, 0, packets.size(), false);  // returns: the writes give up on the stopped judge
    ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrAllDone(3000) == 1; }, 30000));
    EXPECT_EQ(RawsharkMngrEntry(1)->cursor.load(), 3000);
    for (int n : {0, 2}) {
        EXPECT_EQ(RawsharkMngrEntry(n)->ReaderState.load(), ReaderEnded);
        EXPECT_EQ(Message(n), "lumo_judge not responding for 2 s, stopped");
    }
    RawsharkMngrListClear();
    EXPECT_EQ(PipelineTestChildren(), children);
}

// The per-filter mode: one stopped rawshark is stopped alone; the other
// filter keeps counting every packet.
TEST_F(RawsharkMngrTest, StoppedRawsharkStopsAloneWhileTheOtherCounts) {
    std::vector<PipelineTestPacket> packets = PipelineTestMakePackets(3000, 23);
    FilterEntry filters[2] = {Filter("udp"), Filter("tcp")};
    RawsharkBlock b = Rawshark();
    ASSERT_EQ(RawsharkMngrListEdit(&b, 1, 2, filters, 65536), 1);
    ASSERT_EQ(RawsharkMngrJudge(), nullptr);
    ASSERT_EQ(kill(RawsharkMngrEntry(0)->console.process, SIGSTOP), 0);
    Feed(packets, 0, packets.size(), true);
    ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrEntry(1)->counter.cursor.load() == 3000; }, 60000));
    ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrEntry(0)->ReaderState.load() == ReaderEnded; }, 30000));
    EXPECT_EQ(Message(0), "rawshark not responding for 2 s, stopped");
    EXPECT_EQ(Message(1), "");
}

// Several judges share real conversations (TCP analysis, DNS matching, IP
// fragments, frame numbers and times since the first packet): every
// counter advances over every packet and counts what tshark counts, as one
// judge does; a set that names tcp.stream gets one judge.
TEST_F(RawsharkMngrTest, SeveralJudgesCountAsTsharkAndTcpStreamKeepsOne) {
    std::vector<PipelineTestPacket> packets = PipelineTestMakeConversations(400, 41);
    const uint64_t kPackets = packets.size();
    std::string pcap = home_ + "/conversations.pcap";
    ASSERT_TRUE(PipelineTestWritePcap(pcap, packets));
    const std::vector<std::string> texts = {"tcp.analysis.retransmission",
                                            "tcp.analysis.duplicate_ack",
                                            "dns.response_to",
                                            "dns.time > 0.001",
                                            "udp.port == 7000",
                                            "ip.flags.mf == 1",
                                            "frame.number > 1500 && tcp",
                                            "frame.time_relative >= 2",
                                            ""};
    // and the sum of tcp.len over tcp, as tshark's fields add up
    std::string lengths;
    ASSERT_EQ(OfflineRunCommand("tshark -n -r " + pcap + " -Y tcp -T fields -e tcp.len 2>/dev/null", &lengths), 0);
    uint64_t segments = 0, payload = 0;
    for (size_t at = 0; at < lengths.size();) {
        size_t lf = lengths.find('\n', at);
        if (lf == std::string::npos) lf = lengths.size();
        if (lf > at) {
            payload += std::stoull(lengths.substr(at, lf - at));
            ++segments;
        }
        at = lf + 1;
    }
    for (int judges : {2, 3}) {
        SCOPED_TRACE(judges);
        FilterEntry filters[FilterSetMax];
        for (size_t n = 0; n < texts.size(); ++n) filters[n] = Filter(texts[n].c_str());
        const int sum = static_cast<int>(texts.size());
        filters[sum] = Filter("tcp");
        filters[sum].calc = CalcSum;
        snprintf(filters[sum].calcField, sizeof filters[sum].calcField, "tcp.len");
        RawsharkBlock b = OnePass(judges);
        PacketRingReset();
        ASSERT_EQ(RawsharkMngrListEdit(&b, 1, sum + 1, filters, 65536), 1);
        ASSERT_NE(RawsharkMngrJudge(judges - 1), nullptr);
        Feed(packets, 0, packets.size(), true);
        ASSERT_TRUE(TestWaitFor(
            [&] {
                for (int n = 0; n <= sum; ++n) {
                    if (RawsharkMngrEntry(n)->counter.cursor.load() != kPackets) return false;
                }
                return true;
            },
            120000));
        for (size_t n = 0; n < texts.size(); ++n) {
            Expected e = Reference(pcap, texts[n], UsecOf(packets[0].header), 50000);
            EXPECT_GT(e.packets, 0u) << texts[n];
            EXPECT_EQ(RawsharkMngrEntry(static_cast<int>(n))->counter.matchedPackets.load(), e.packets) << texts[n];
            EXPECT_EQ(RawsharkMngrEntry(static_cast<int>(n))->counter.matchedBytes.load(), e.bytes) << texts[n];
            EXPECT_EQ(Message(static_cast<int>(n)), "") << texts[n];
        }
        const SampleCounter* c = &RawsharkMngrEntry(sum)->counter;
        uint64_t count = 0;
        double total = 0;
        for (uint32_t bin = 0; bin < c->size; ++bin) {
            count += c->calc[bin].count.load();
            total += c->calc[bin].sum.load();
        }
        EXPECT_EQ(count, segments);
        EXPECT_EQ(total, static_cast<double>(payload));
        RawsharkMngrListClear();
    }
    FilterEntry stream[2] = {Filter("tcp.stream == 3"), Filter("udp")};
    RawsharkBlock b = OnePass(3);
    PacketRingReset();
    ASSERT_EQ(RawsharkMngrListEdit(&b, 1, 2, stream, 65536), 1);
    EXPECT_NE(RawsharkMngrJudge(0), nullptr);
    EXPECT_EQ(RawsharkMngrJudge(1), nullptr);
    Feed(packets, 0, packets.size(), true);
    ASSERT_TRUE(TestWaitFor([&] { return RawsharkMngrEntry(0)->counter.cursor.load() == kPackets; }, 120000));
    EXPECT_EQ(RawsharkMngrEntry(0)->counter.matchedPackets.load(),
              Reference(pcap, "tcp.stream == 3", UsecOf(packets[0].header), 50000).packets);
}

// Of several judges, one killed or one stopped ends every filter they
// served, once, saying how; the empty filter counts on.
TEST_F(RawsharkMngrTest, AKilledOrStoppedJudgeAmongSeveralEndsEveryEntry) {
    std::vector<PipelineTestPacket> packets = PipelineTestMakePackets(3000, 43);
    for (int signal : {SIGKILL, SIGSTOP}) {
        SCOPED_TRACE(signal);
        FilterEntry filters[3] = {Filter("udp"), Filter(""), Filter("tcp")};
        RawsharkBlock b = OnePass(3);
        PacketRingReset();
        ASSERT_EQ(RawsharkMngrListEdit(&b, 1, 3, filters, 65536), 1);
        Feed(packets, 0, 1000, true);
        ASSERT_TRUE(TestWaitFor([] { return RawsharkMngrEntry(2)->counter.cursor.load() == 1000; }, 60000));
        ASSERT_EQ(kill(RawsharkMngrJudge(1)->console.process, signal), 0);
        Feed(packets, 1000, packets.size(), true);
        ASSERT_TRUE(TestWaitFor(
            [] {
                return RawsharkMngrEntry(0)->ReaderState.load() == ReaderEnded &&
                       RawsharkMngrEntry(2)->ReaderState.load() == ReaderEnded;
            },
            30000));
        const char* said =
            signal == SIGKILL ? "lumo_judge ended (killed by signal 9)" : "lumo_judge not responding for 2 s, stopped";
        for (int n : {0, 2}) {
            EXPECT_EQ(Message(n), said);
            EXPECT_LT(RawsharkMngrEntry(n)->counter.cursor.load(), 3000u);
        }
        EXPECT_EQ(RawsharkMngrEntry(1)->counter.matchedPackets.load(), 3000u);
        RawsharkMngrListClear();
    }
}

}  // namespace
