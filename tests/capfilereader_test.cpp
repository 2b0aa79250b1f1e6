// SPDX-License-Identifier: GPL-2.0-or-later
// The capture-file reader: formats, time offsets, failures and their
// messages, real rawshark verdicts, and the serialising of runs.
#include "offline/capfilereader.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "filterset/filterset.h"
#include "tools/capgen/capgen.h"
#include "pipeline/packetstore.h"
#include "pipeline/rawsharkmngr.h"
#include "platform/platform.h"
#include "tests/support/offline_support.h"
#include "tests/support/wait.h"

namespace {

class CaptureFileReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = OfflineScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        setenv("LUMO_HOME", dir.c_str(), 1);
        rawshark = RawsharkBlock{};
        PlatformFindRawshark(rawshark.rawsharkPath, sizeof rawshark.rawsharkPath);
        ResetFilterEntries(entries, FilterSetMax);
        job = new CaptureFileJob{};
    }
    void TearDown() override {
        CaptureFileReadFinish(job);
        PacketStoreReset();
        delete job;
    }

    std::string Path(const char* name) { return dir + "/" + name; }

    // Runs one whole run of file with the first n entries and waits for it.
    int Run(const std::string& file, int n) {
        CaptureFileJobInit(job, file.c_str(), &rawshark, entries, n);
        EXPECT_EQ(CaptureFileReadStart(job), 1);
        return CaptureFileReadFinish(job);
    }

    void SetFilter(int i, const char* text) { snprintf(entries[i].filterText, 256, "%s", text); }

    std::string dir;
    RawsharkBlock rawshark;
    FilterEntry entries[FilterSetMax];
    CaptureFileJob* job;
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A pcap file of frames at the given offsets (microseconds) from second 1000.
void WriteStamped(const std::string& path, const std::vector<int64_t>& offsets) {
    CapGenWriter w;
    ASSERT_EQ(CapGenOpen(&w, path.c_str(), CapGenPcap, 1, kCapGenSnaplen), 1);
    uint8_t frame[100];
    for (size_t k = 0; k < offsets.size(); k++) {
        uint32_t n = CapGenFrame(frame, sizeof frame, CapGenUdp, 40000, 5000, static_cast<uint32_t>(k), 100, 0);
        CapGenWrite(&w, (1000 * 1000000LL + offsets[k]) * 1000, frame, n, 100);
    }
    ASSERT_EQ(CapGenClose(&w), 1);
}

TEST_F(CaptureFileReaderTest, PcapNanosecondPcapAndPcapngReadAlike) {
    CapGenMixedParams p;
    CapGenMixedDefaults(&p);
    p.packets = 3000;
    p.bigEvery = 100;
    p.gapAt = 1500;
    p.gapNs = 4000000000LL;
    std::vector<std::vector<std::pair<int64_t, uint32_t>>> seen;
    for (int format : {CapGenPcap, CapGenPcapNano, CapGenPcapng}) {
        std::string file = Path(("f" + std::to_string(format)).c_str());
        ASSERT_EQ(CapGenMixed(file.c_str(), format, &p), 1);
        ASSERT_EQ(Run(file, 0), CaptureFileFinished) << job->message;
        EXPECT_EQ(job->packetCount.load(), 3000);
        EXPECT_EQ(PacketStoreCount(), 3000);
        EXPECT_EQ(job->bytesRead.load(), job->fileSize.load());
        EXPECT_GT(job->fileSize.load(), 0);
        std::vector<std::pair<int64_t, uint32_t>> items;
        for (int64_t k = 0; k < PacketStoreCount(); k++) {
            items.emplace_back(PacketStoreItem(k)->time, PacketStoreItem(k)->length);
        }
        EXPECT_EQ(items[0].first, 0);
        EXPECT_EQ(PacketStoreLastTime(), items.back().first);
        EXPECT_GT(PacketStoreLastTime(), 4000000);  // the pause is in
        seen.push_back(items);
    }
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(seen[0], seen[2]);
    // Wire lengths above 65535 are kept whole.
    EXPECT_GT(seen[0][99].second, 65535u);
}

// Merged captures stamp packets before their predecessors and before the
// first packet; a file stopped by a full disk ends inside a record. Every
// packet read is kept, each in the interval of its own time (negative
// before the first packet), in time order once the run is over; the cut
// is a warning, not a failure.
TEST_F(CaptureFileReaderTest, PacketsOutOfOrderBeforeTheFirstAndBeforeACutAreKept) {
    std::string file = Path("order.pcap");
    WriteStamped(file, {500, 2000, 1000, 500, 3000, 499});
    ASSERT_EQ(Run(file, 0), CaptureFileFinished);
    ASSERT_EQ(PacketStoreCount(), 6);
    std::vector<int64_t> times;
    for (int64_t k = 0; k < 6; ++k) times.push_back(PacketStoreItem(k)->time);
    EXPECT_EQ(times, (std::vector<int64_t>{-1, 0, 0, 500, 1500, 2500}));
    EXPECT_EQ(PacketStoreFirstTime(), -1);
    EXPECT_EQ(PacketStoreLastTime(), 2500);
    EXPECT_STREQ(job->warning, "");

    std::string truncated = Path("truncated.pcap");
    WriteStamped(truncated, {0, 10, 20, 30});
    std::vector<uint8_t> bytes = ReadBytes(truncated);
    bytes.resize(bytes.size() - 30);
    WriteBytes(truncated, bytes);
    SetFilter(0, "udp");
    ASSERT_EQ(Run(truncated, 1), CaptureFileFinished);
    EXPECT_EQ(PacketStoreCount(), 3);
    EXPECT_EQ(job->cutShort, 1);
    EXPECT_NE(std::string(job->warning).find("cut short"), std::string::npos) << job->warning;
    EXPECT_NE(std::string(job->warning).find(" 3 packets"), std::string::npos) << job->warning;
    EXPECT_EQ(RawsharkMngrCount(), 0);
}

TEST_F(CaptureFileReaderTest, FailuresGiveTheirMessageAndLeaveTheStoreEmpty) {
    struct Case {
        const char* name;
        std::string file;
        const char* message;  // prefix
    };
    std::string garbage = Path("garbage.pcap");
    WriteBytes(garbage, std::vector<uint8_t>(5000, 0x5a));
    std::string text = Path("notes.txt");
    WriteBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'});
    std::string empty = Path("empty.pcap");
    WriteBytes(empty, {});

    const Case cases[] = {
        {"missing", Path("missing.pcap"), "\nError opening the input file: "},
        {"empty path", "", "\nError opening the input file: "},
        {"zero-byte file", empty, "\nError opening the input file: "},
        {"garbage", garbage, "\nError opening the input file: "},
        {"text", text, "\nError opening the input file: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // One filter, so that a rawshark is released on the failure path too.
        SetFilter(0, "udp");
        EXPECT_EQ(Run(c.file, 1), CaptureFileFailed);
        EXPECT_EQ(std::string(job->message).rfind(c.message, 0), 0u) << job->message;
        EXPECT_EQ(PacketStoreCount(), 0);
        EXPECT_EQ(PacketStoreLastTime(), 0);
        EXPECT_EQ(RawsharkMngrCount(), 0);
    }
}

TEST_F(CaptureFileReaderTest, RawsharkThatCannotStartFailsTheRun) {
    std::string file = Path("ok.pcap");
    WriteStamped(file, {0, 1, 2});
    snprintf(rawshark.rawsharkPath, sizeof rawshark.rawsharkPath, "%s/no/such/rawshark", dir.c_str());
    SetFilter(0, "udp");
    EXPECT_EQ(Run(file, 1), CaptureFileFailed);
    EXPECT_STREQ(job->message, "RawsharkMngrListEdit() error");
    EXPECT_EQ(PacketStoreCount(), 0);
}

TEST_F(CaptureFileReaderTest, ZeroPacketsFinishAtOnce) {
    std::string file = Path("none.pcap");
    WriteStamped(file, {});
    SetFilter(0, "tcp");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(file, 1), CaptureFileFinished);
    // No wait for verdicts: none is due (generous bound for a loaded machine).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(PacketStoreCount(), 0);
    EXPECT_EQ(job->allJudged, 1);
}

TEST_F(CaptureFileReaderTest, VerdictsOfRealRawsharkMarkTheStore) {
    CapGenMixedParams p;
    CapGenMixedDefaults(&p);
    p.packets = 2000;
    std::string file = Path("mixed.pcap");
    ASSERT_EQ(CapGenMixed(file.c_str(), CapGenPcap, &p), 1);
    SetFilter(0, "tcp");
    SetFilter(1, "");  // matches every packet without a process
    SetFilter(2, "udp");
    ASSERT_EQ(Run(file, 3), CaptureFileFinished) << job->message;
    EXPECT_EQ(job->allJudged, 1);
    ASSERT_EQ(PacketStoreCount(), 2000);
    int64_t tcp = 0, udp = 0;
    for (int64_t k = 0; k < PacketStoreCount(); k++) {
        uint16_t bits = PacketStoreItem(k)->matchBits.load();
        ASSERT_TRUE(bits & 2) << k;
        // Every generated packet is TCP or UDP, never both.
        ASSERT_EQ(((bits >> 0) & 1) + ((bits >> 2) & 1), 1) << k;
        tcp += bits & 1;
        udp += (bits >> 2) & 1;
    }
    EXPECT_GT(tcp, 800);
    EXPECT_GT(udp, 800);
    // The processes are gone once the thread has ended.
    EXPECT_EQ(RawsharkMngrCount(), 0);
}

TEST_F(CaptureFileReaderTest, RefusedFilterKeepsItsRawsharkLineAfterTheRelease) {
    CapGenMixedParams p;
    CapGenMixedDefaults(&p);
    p.packets = 200;
    std::string file = Path("mixed.pcap");
    ASSERT_EQ(CapGenMixed(file.c_str(), CapGenPcap, &p), 1);
    SetFilter(0, "tcp.port ==");
    SetFilter(1, "udp");
    ASSERT_EQ(Run(file, 2), CaptureFileFinished);
    EXPECT_EQ(job->allJudged, 0);
    EXPECT_EQ(std::string(job->lastMessages[0]).rfind("rawshark:", 0), 0u) << job->lastMessages[0];
    EXPECT_STREQ(job->lastMessages[1], "");
}

// Fault guarded: a next run that started while the previous thread still
// released its processes could tear down the new list or reset the store
// under the old pipe readers.
TEST_F(CaptureFileReaderTest, BackToBackRunsWaitForThePreviousThread) {
    CapGenMixedParams p;
    CapGenMixedDefaults(&p);
    p.packets = 3000;
    std::string file = Path("mixed.pcap");
    ASSERT_EQ(CapGenMixed(file.c_str(), CapGenPcap, &p), 1);
    SetFilter(0, "tcp");
    SetFilter(1, "udp");
    for (int run = 0; run < 3; run++) {
        CaptureFileJobInit(job, file.c_str(), &rawshark, entries, 2);
        ASSERT_EQ(CaptureFileReadStart(job), 1);
        // Poll like the dialog, then start the next run at once without
        // waiting for the thread.
        ASSERT_TRUE(TestWaitFor([&] { return job->state.load() >= CaptureFileFinished; }, 60000))
            << "run " << run << " did not end";
        EXPECT_EQ(job->state.load(), CaptureFileFinished);
        EXPECT_EQ(PacketStoreCount(), 3000);
    }
    EXPECT_EQ(CaptureFileReadFinish(job), CaptureFileFinished);
    EXPECT_FALSE(CaptureFileReadActive());
    EXPECT_EQ(RawsharkMngrCount(), 0);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LUMO_UNDER_SANITIZER 1
#else
#define LUMO_UNDER_SANITIZER 0
#endif

// Current virtual size of this process in bytes, from /proc/self/status.
long VirtualBytes() {
    std::ifstream in("/proc/self/status");
    std::string key;
    long kb = 0;
    while (in >> key) {
        if (key == "VmSize:") {
            in >> kb;
            return kb * 1024;
        }
    }
    return 0;
}

// Reads file with the address space capped a few MiB above its size now and
// exits 0 when the run failed with "malloc() error" after storing some
// packets, and the store ended empty.
void ReadUnderAddressLimit(CaptureFileJob* job) {
    // Every chunk from its own mapping, so that each one grows the address
    // space.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    struct rlimit lim;
    lim.rlim_cur = lim.rlim_max = static_cast<rlim_t>(VirtualBytes() + 6 * 1024 * 1024);
    setrlimit(RLIMIT_AS, &lim);
    CaptureFileReadThread(job);  // on this thread: no new thread's stack to map
    int failed = job->state.load() == CaptureFileFailed && strcmp(job->message, "malloc() error") == 0;
    int reached = PacketStoreCount() > 0;
    int emptied = CaptureFileReadFinish(job) == CaptureFileFailed && PacketStoreCount() == 0;
    fprintf(stderr, "state %d, message \"%s\"\n", job->state.load(), job->message);
    _exit(failed && reached && emptied ? 0 : 1);
}

TEST_F(CaptureFileReaderTest, ExhaustedMemoryGivesMallocErrorAndEmptiesTheStore) {
    if (LUMO_UNDER_SANITIZER) {
        GTEST_SKIP() << "an address-space limit cannot be combined with a sanitizer's allocator";
    }
    // One million records of no captured bytes: 16 MiB of store, while the
    // reading may grow the address space by 6 MiB only. The read runs in a
    // fresh process of this test alone, whose allocations are not served
    // from space that earlier tests' threads left mapped.
    std::string file = Path("many.pcap");
    {
        CapGenWriter w;
        ASSERT_EQ(CapGenOpen(&w, file.c_str(), CapGenPcap, 1, kCapGenSnaplen), 1);
        for (int64_t k = 0; k < 1000000; k++) CapGenWrite(&w, k * 1000, nullptr, 0, 60);
        ASSERT_EQ(CapGenClose(&w), 1);
    }
    CaptureFileJobInit(job, file.c_str(), &rawshark, entries, 0);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ReadUnderAddressLimit(job), testing::ExitedWithCode(0), "malloc\\(\\) error");
}

}  // namespace
