// SPDX-License-Identifier: GPL-2.0-or-later
// capture_dump_test.cpp - the traffic dump file: refusals, its header, its
// records as libpcap and capinfos read them back, and a full disk.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "pipeline/packetring.h"
#include "pipeline/rawsharkmngr.h"
#include "tests/capture_helpers.h"

namespace {

TEST(CaptureDumpRefusal, DumpBeforeAnyCaptureIsRefusedWithoutFile) {
    ScratchFolder scratch;
    CaptureBlock block = LoopbackBlock("");
    char text[kErrorLen] = "old";
    EXPECT_EQ(CaptureFileStart(scratch.File("early.pcap").c_str(), &block, text), 0);
    EXPECT_STREQ(text, "do not capture yet.");
    EXPECT_NE(access(scratch.File("early.pcap").c_str(), F_OK), 0);
    EXPECT_NE(scratch.Log().find("do not capture yet"), std::string::npos);
}

class CaptureDumpTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TotalCounterInit(65536);
        PacketRingSetInterval(50000);
    }
    static void TearDownTestSuite() { TotalCounterFree(); }
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "live capture on lo needs root (cap_net_raw, cap_net_admin)";
        PacketRingReset();
        CapturePacketHandlerControl(1);  // the ring tells when every packet went through the handler
    }
    void TearDown() override {
        CapturePacketHandlerControl(0);
        EXPECT_EQ(CaptureStopThread(), 1);
        CaptureFileStop();
    }

    // Captures on lo for the sink's port and dumps into path while the
    // datagrams of each payload size go out, one after another. Returns
    // CaptureFileStart's result (text holds its reason).
    int DumpTraffic(CaptureBlock block, const std::string& path, const std::vector<int>& payloads, char* text) {
        if (!block.captureFilter[0])
            TextCopy(block.captureFilter, sizeof block.captureFilter, PortFilter(sink.port).c_str());
        EXPECT_EQ(CaptureStartThread(&block), 1);
        EXPECT_TRUE(WaitCaptureOpen());
        int started = CaptureFileStart(path.c_str(), &block, text);
        for (int payload : payloads) SendUdp(sink.port, 1, payload);
        EXPECT_TRUE(TestWaitFor([&] { return PacketRingCount() == payloads.size(); }))
            << PacketRingCount() << " of " << payloads.size() << " packets captured";
        EXPECT_EQ(CaptureStopThread(), 1);  // the last handler call has returned
        CaptureFileStop();
        return started;
    }

    UdpSink sink;
};

TEST_F(CaptureDumpTest, MissingFolderGivesFopenError) {
    ScratchFolder scratch;
    char text[kErrorLen] = "";
    CaptureBlock block = LoopbackBlock(PortFilter(sink.port));
    EXPECT_EQ(DumpTraffic(block, scratch.File("no/such/folder.pcap"), {}, text), 0);
    EXPECT_STREQ(text, "fopen() error");
    EXPECT_NE(scratch.Log().find("fopen() err"), std::string::npos);
}

TEST_F(CaptureDumpTest, DumpWithoutTrafficIsExactlyTheHeader) {
    ScratchFolder scratch;
    char text[kErrorLen] = "old";
    EXPECT_EQ(DumpTraffic(LoopbackBlock(""), scratch.File("empty.pcap"), {}, text), 1);
    EXPECT_STREQ(text, "");
    std::string bytes = TestFileRead(scratch.File("empty.pcap"));
    ASSERT_EQ(bytes.size(), 24u);
    const uint8_t expected[24] = {0xD4, 0xC3, 0xB2, 0xA1, 2,    0,    4, 0, 0, 0, 0, 0,
                                  0,    0,    0,    0,    0xFF, 0xFF, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(memcmp(bytes.data(), expected, 24), 0);
}

TEST_F(CaptureDumpTest, RecordsReadBackByLibpcapAndCapinfos) {
    ScratchFolder scratch;
    std::vector<int> payloads;
    for (int i = 0; i < 40; ++i) payloads.push_back(10 + 37 * i);
    char text[kErrorLen];
    std::string path = scratch.File("dump.pcap");
    ASSERT_EQ(DumpTraffic(LoopbackBlock(""), path, payloads, text), 1);

    PcapFile file = ReadPcap(path);
    EXPECT_EQ(file.result, PCAP_ERROR_BREAK) << file.error;
    EXPECT_EQ(file.linkType, DLT_EN10MB);
    EXPECT_EQ(file.snapLength, 65535);
    ASSERT_EQ(file.records.size(), payloads.size());
    for (size_t i = 0; i < payloads.size(); ++i) {
        EXPECT_EQ(file.records[i].len, uint32_t(14 + 20 + 8 + payloads[i])) << "record " << i;
        EXPECT_EQ(file.records[i].caplen, file.records[i].len);
        if (i) {
            EXPECT_GE(file.records[i].usec, file.records[i - 1].usec);
        }
    }
    EXPECT_NE(scratch.Log().find("CaptureFileStart(" + path + ") info"), std::string::npos);

    std::string info = RunCommand("capinfos -T -r -c -E -l -M '" + path + "' 2>&1");
    EXPECT_NE(info.find("\tether\t65535\t"), std::string::npos) << info;
    EXPECT_NE(info.find("\t40\n"), std::string::npos) << info;
}

TEST_F(CaptureDumpTest, LimitBytesCutsRecordsButKeepsWireLength) {
    ScratchFolder scratch;
    CaptureBlock block = LoopbackBlock("");
    block.enableLimitBytes = 1;
    block.limitBytes = 128;
    char text[kErrorLen];
    std::string path = scratch.File("cut.pcap");
    ASSERT_EQ(DumpTraffic(block, path, {1000, 50, 1000}, text), 1);

    PcapFile file = ReadPcap(path);
    EXPECT_EQ(file.result, PCAP_ERROR_BREAK) << file.error;
    EXPECT_EQ(file.snapLength, 128);
    ASSERT_EQ(file.records.size(), 3u);
    EXPECT_EQ(file.records[0].caplen, 128u);
    EXPECT_EQ(file.records[0].len, 1042u);
    EXPECT_EQ(file.records[1].caplen, 92u);
    EXPECT_EQ(file.records[1].len, 92u);
    EXPECT_EQ(file.records[2].caplen, 128u);
}

// A filesystem of `bytes` bytes: a tmpfs mounted for the test, or, where
// mounting is not permitted, a file size limit on the process.
struct SmallFilesystem {
    std::string dir;
    bool mounted = false, limited = false;
    rlimit previous{};
    SmallFilesystem(const std::string& where, size_t bytes) : dir(where) {
        mkdir(dir.c_str(), 0755);
        std::string options = "size=" + std::to_string(bytes);
        mounted = mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted) {
            signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
            getrlimit(RLIMIT_FSIZE, &previous);
            rlimit small = {bytes, previous.rlim_max};
            limited = setrlimit(RLIMIT_FSIZE, &small) == 0;
        }
    }
    void Release() {
        if (mounted) umount2(dir.c_str(), MNT_DETACH);
        if (limited) setrlimit(RLIMIT_FSIZE, &previous);
        mounted = limited = false;
    }
    ~SmallFilesystem() { Release(); }
};

// Fault: a failed append ended the dump silently, possibly in the middle of
// a record, while the menu still showed it running.
class CaptureDumpFullDisk : public CaptureDumpTest, public ::testing::WithParamInterface<int> {};

TEST_P(CaptureDumpFullDisk, EndsCleanlyReportsAndKeepsWholeRecords) {
    const int payload = GetParam();  // 65507: records larger than the dump's buffer
    ScratchFolder scratch;
    SmallFilesystem small(scratch.File("small"), payload > 60000 ? 256 * 1024 : 64 * 1024);
    ASSERT_TRUE(small.mounted || small.limited) << "neither a tmpfs nor a file size limit";
    std::string path = small.dir + "/full.pcap";

    std::vector<int> payloads(payload > 60000 ? 8 : 200, payload);
    char text[kErrorLen];
    ASSERT_EQ(DumpTraffic(LoopbackBlock(""), path, payloads, text), 1);
    EXPECT_EQ(CaptureFileFailed(text), 1);
    EXPECT_STREQ(text, "fwrite() error");
    EXPECT_NE(scratch.Log().find("fwrite() err"), std::string::npos);

    PcapFile file = ReadPcap(path);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    small.Release();
    EXPECT_EQ(file.result, PCAP_ERROR_BREAK) << "libpcap: " << file.error;
    EXPECT_LT(file.records.size(), payloads.size());
    EXPECT_GE(file.records.size(), payload > 60000 ? 2u : 60u) << "whole records lost";
    size_t expectedSize = 24;
    for (const PcapRecord& r : file.records) expectedSize += 16 + r.caplen;
    EXPECT_EQ(static_cast<size_t>(st.st_size), expectedSize) << "bytes after the last whole record";

    // A new dump starts with a clean state.
    CaptureBlock block = LoopbackBlock(PortFilter(sink.port));
    ASSERT_EQ(CaptureStartThread(&block), 1);
    ASSERT_TRUE(WaitCaptureOpen());
    ASSERT_EQ(CaptureFileStart(scratch.File("next.pcap").c_str(), &block, text), 1);
    EXPECT_EQ(CaptureFileFailed(text), 0);
    EXPECT_STREQ(text, "");
}

INSTANTIATE_TEST_SUITE_P(RecordSizes, CaptureDumpFullDisk, ::testing::Values(1000, 65507));

}  // namespace
