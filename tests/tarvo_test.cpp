// SPDX-License-Identifier: GPL-2.0-or-later
// tarvo_test.cpp - the replay tool sends a capture file's records onto a
// real interface.
//
// Every replay happens inside a network namespace that the fixture creates
// (`ip netns add`) and removes: tarvo sends on veth0 of a veth pair inside
// it, and a capture thread that has joined the namespace (setns) listens on
// the peer veth1. No host interface is touched.
#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "pipeline/childconsole.h"
#include "support/testdir.h"
#include "support/wait.h"

namespace {

const std::string kTarvo = std::string(LUMO_BIN_DIR) + "/tarvo";
constexpr int kUdpPort = 9999;

struct Record {
    int64_t stampUs;             // capture time stamp in microseconds
    std::vector<uint8_t> bytes;  // the frame
};

// Runs argv to its end; stdout and stderr joined into *output. Returns the
// exit status, or -1 when it could not be started.
int RunTool(const std::vector<std::string>& args, std::string* output) {
    std::vector<const char*> argv;
    std::string line;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
        line += a + " ";
    }
    argv.push_back(nullptr);
    ChildConsole child{};
    if (!ChildConsoleNewArgv(line.c_str(), argv.data(), &child, nullptr)) return -1;
    close(child.input);
    child.input = 0;
    char buf[4096];
    for (;;) {
        ssize_t n = read(child.output, buf, sizeof buf);
        if (n > 0) {
            output->append(buf, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (!TestWaitFor([&] { return ChildConsoleExited(&child) != 0; }, 600000)) {
        ADD_FAILURE() << line << "did not end";
        ChildConsoleRelease(&child);
        return -1;
    }
    int status = child.exitStatus;
    ChildConsoleRelease(&child);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An Ethernet/IPv4/UDP frame to kUdpPort whose payload carries seq and is
// padded to frameLen bytes.
std::vector<uint8_t> MakeFrame(int seq, size_t frameLen) {
    std::vector<uint8_t> f(frameLen, 0);
    const uint8_t dst[6] = {0x02, 0, 0, 0, 0, 0x02}, src[6] = {0x02, 0, 0, 0, 0, 0x01};
    memcpy(&f[0], dst, 6);
    memcpy(&f[6], src, 6);
    f[12] = 0x08;
    f[13] = 0x00;
    uint8_t* ip = &f[14];
    size_t ipLen = frameLen - 14;
    ip[0] = 0x45;
    ip[2] = static_cast<uint8_t>(ipLen >> 8);
    ip[3] = static_cast<uint8_t>(ipLen);
    ip[4] = static_cast<uint8_t>(seq >> 8);
    ip[5] = static_cast<uint8_t>(seq);
    ip[8] = 64;
    ip[9] = 17;
    const uint8_t sa[4] = {10, 199, 0, 1}, da[4] = {10, 199, 0, 2};
    memcpy(ip + 12, sa, 4);
    memcpy(ip + 16, da, 4);
    uint32_t sum = 0;
    for (int i = 0; i < 20; i += 2) sum += (ip[i] << 8) | ip[i + 1];
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    sum = ~sum & 0xffff;
    ip[10] = static_cast<uint8_t>(sum >> 8);
    ip[11] = static_cast<uint8_t>(sum);
    uint8_t* udp = ip + 20;
    size_t udpLen = ipLen - 20;
    udp[0] = 0x9c;  // source port 40000
    udp[1] = 0x40;
    udp[2] = static_cast<uint8_t>(kUdpPort >> 8);
    udp[3] = static_cast<uint8_t>(kUdpPort);
    udp[4] = static_cast<uint8_t>(udpLen >> 8);
    udp[5] = static_cast<uint8_t>(udpLen);
    char text[32];
    int n = snprintf(text, sizeof text, "lumo-tarvo seq=%05d", seq);
    memcpy(udp + 8, text, std::min<size_t>(static_cast<size_t>(n), udpLen - 8));
    for (size_t i = 8 + static_cast<size_t>(n); i < udpLen; ++i) udp[i] = static_cast<uint8_t>(seq + i);
    return f;
}

// count frames of varying length; gaps of 0..15 ms from a fixed generator,
// with a burst of back-to-back frames every 50 and one pause of 120 ms.
std::vector<Record> MakeRecords(int count) {
    std::vector<Record> records;
    uint32_t lcg = 12345;
    int64_t stamp = 1700000000LL * 1000000LL + 250000;
    for (int i = 0; i < count; ++i) {
        lcg = lcg * 1103515245u + 12345u;
        int64_t gapUs = static_cast<int64_t>((lcg >> 8) % 16000);
        if (i % 50 < 3) gapUs = 0;
        if (i == count / 2) gapUs = 120000;
        if (i > 0) stamp += gapUs;
        size_t len = 60 + (lcg >> 4) % 1400;
        records.push_back({stamp, MakeFrame(i, len)});
    }
    return records;
}

int WritePcap(const std::string& path, const std::vector<Record>& records, int linkType) {
    pcap_t* dead = pcap_open_dead(linkType, 65535);
    if (!dead) return 0;
    pcap_dumper_t* d = pcap_dump_open(dead, path.c_str());
    if (!d) {
        pcap_close(dead);
        return 0;
    }
    for (const Record& r : records) {
        pcap_pkthdr h{};
        h.ts.tv_sec = static_cast<time_t>(r.stampUs / 1000000);
        h.ts.tv_usec = static_cast<suseconds_t>(r.stampUs % 1000000);
        h.caplen = h.len = static_cast<bpf_u_int32>(r.bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(d), &h, r.bytes.data());
    }
    pcap_dump_close(d);
    pcap_close(dead);
    return 1;
}

// A capture on one interface of a namespace, run on a thread of its own
// that joins the namespace; it keeps the UDP frames to kUdpPort.
class NamespaceCapture {
public:
    int Start(const std::string& ns, const std::string& iface) {
        thread_ = std::thread([this, ns, iface] { Run(ns, iface); });
        if (!TestWaitFor([this] { return state_.load(std::memory_order_acquire) != 0; }, 20000)) {
            Stop();
            error_ = "the capture on " + iface + " did not open";
            return 0;
        }
        return state_.load(std::memory_order_acquire) == 1;
    }
    ~NamespaceCapture() { Stop(); }
    void Stop() {
        stop_.store(1, std::memory_order_relaxed);
        if (thread_.joinable()) thread_.join();
    }
    size_t Count() const { return count_.load(std::memory_order_acquire); }
    // Valid after Stop.
    const std::vector<Record>& Records() const { return records_; }
    const std::string& Error() const { return error_; }

private:
    void Run(const std::string& ns, const std::string& iface) {
        std::string path = "/var/run/netns/" + ns;
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
            error_ = "cannot join " + path + ": " + strerror(errno);
            if (fd >= 0) close(fd);
            state_.store(-1, std::memory_order_release);
            return;
        }
        close(fd);
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        pcap_t* p = pcap_create(iface.c_str(), errbuf);
        bpf_program prog{};
        std::string filter = "udp dst port " + std::to_string(kUdpPort);
        if (!p || pcap_set_snaplen(p, 65535) != 0 || pcap_set_timeout(p, 10) != 0 ||
            pcap_set_immediate_mode(p, 1) != 0 || pcap_set_buffer_size(p, 8 << 20) != 0 || pcap_activate(p) < 0 ||
            pcap_compile(p, &prog, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0 || pcap_setfilter(p, &prog) != 0) {
            error_ = std::string("capture on ") + iface + ": " + (p ? pcap_geterr(p) : errbuf);
            if (p) pcap_close(p);
            state_.store(-1, std::memory_order_release);
            return;
        }
        pcap_freecode(&prog);
        // Non-blocking reads with our own poll, so that Stop is seen within
        // 10 ms even when nothing arrives.
        pcap_setnonblock(p, 1, errbuf);
        pollfd pfd{pcap_get_selectable_fd(p), POLLIN, 0};
        state_.store(1, std::memory_order_release);
        int got = 0;
        while (!stop_.load(std::memory_order_relaxed) && got >= 0) {  // < 0: the interface went away
            poll(&pfd, 1, 10);
            got = pcap_dispatch(
                p, -1,
                [](u_char* user, const pcap_pkthdr* h, const u_char* bytes) {
                    auto* self = reinterpret_cast<NamespaceCapture*>(user);
                    Record r;
                    r.stampUs = static_cast<int64_t>(h->ts.tv_sec) * 1000000 + h->ts.tv_usec;
                    r.bytes.assign(bytes, bytes + h->caplen);
                    self->records_.push_back(std::move(r));
                    self->count_.fetch_add(1, std::memory_order_release);
                },
                reinterpret_cast<u_char*>(this));
        }
        pcap_close(p);
    }

    std::thread thread_;
    std::atomic<int> state_{0};  // 0 opening, 1 capturing, -1 failed
    std::atomic<int> stop_{0};
    std::atomic<size_t> count_{0};
    std::vector<Record> records_;  // written by the capture thread until Stop
    std::string error_;
};

class TarvoTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "replaying needs root (network namespaces, raw sockets)";
        static int serial = 0;
        ns_ = "lumo_tarvo_" + std::to_string(getpid()) + "_" + std::to_string(++serial);
        std::string out;
        if (RunTool({"ip", "netns", "add", ns_}, &out) != 0) {
            GTEST_SKIP() << "cannot create a network namespace (CAP_SYS_ADMIN missing?): " << out;
        }
        created_ = true;
        ASSERT_EQ(0, RunTool({"ip", "-n", ns_, "link", "add", "veth0", "mtu", "1500", "type", "veth", "peer", "name",
                              "veth1", "mtu", "1500"},
                             &out))
            << out;
        ASSERT_EQ(0, RunTool({"ip", "-n", ns_, "link", "set", "veth0", "up"}, &out)) << out;
        ASSERT_EQ(0, RunTool({"ip", "-n", ns_, "link", "set", "veth1", "up"}, &out)) << out;
        // The kernel attaches a link's queue a moment after it comes up and
        // drops what is sent before; wait until both ends have theirs.
        int listed = 0;
        const bool up = TestWaitFor(
            [&] {
                out.clear();
                listed = RunTool({"ip", "-n", ns_, "-o", "link", "show"}, &out);
                if (listed != 0) return true;
                size_t ends = 0, pos = 0;
                while ((pos = out.find("state UP", pos)) != std::string::npos) ++ends, ++pos;
                return ends == 2 && out.find("qdisc noop state UP") == std::string::npos;
            },
            5000);
        ASSERT_EQ(0, listed) << out;
        ASSERT_TRUE(up) << "veth pair did not come up: " << out;
        dir_ = TestDirNew();
    }
    void TearDown() override {
        if (created_) {
            std::string out;
            EXPECT_EQ(0, RunTool({"ip", "netns", "del", ns_}, &out)) << out;
        }
    }
    // Runs tarvo inside the namespace.
    int Replay(const std::vector<std::string>& args, std::string* output) {
        std::vector<std::string> all = {"ip", "netns", "exec", ns_, kTarvo};
        all.insert(all.end(), args.begin(), args.end());
        return RunTool(all, output);
    }
    // Replays file onto veth0 while capturing on veth1; waits until
    // `expected` frames arrived, then 300 ms more in which strays could.
    void ReplayAndCapture(const std::string& file, size_t expected, std::string* output, int* status,
                          std::vector<Record>* seen) {
        NamespaceCapture cap;
        ASSERT_TRUE(cap.Start(ns_, "veth1")) << cap.Error();
        *status = Replay({file, "veth0", "s"}, output);
        EXPECT_TRUE(TestWaitFor([&] { return cap.Count() >= expected; }, 5000))
            << cap.Count() << " of " << expected << " frames arrived";
        usleep(300000);  // a pause on purpose: a stray frame has the chance to arrive
        cap.Stop();
        *seen = cap.Records();
    }

    std::string ns_, dir_;
    bool created_ = false;
};

// The last line of a tool's output, without its line end.
std::string LastLine(const std::string& output) {
    size_t end = output.find_last_not_of('\n');
    if (end == std::string::npos) return "";
    size_t begin = output.rfind('\n', end);
    return output.substr(begin == std::string::npos ? 0 : begin + 1,
                         end + 1 - (begin == std::string::npos ? 0 : begin + 1));
}

void ExpectSameFrames(const std::vector<Record>& sent, const std::vector<Record>& seen) {
    ASSERT_EQ(sent.size(), seen.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(sent[i].bytes, seen[i].bytes) << "frame " << i;
    }
}

TEST_F(TarvoTest, SendsEveryRecordKeepingRecordedGaps) {
    std::vector<Record> records = MakeRecords(300);
    std::string file = dir_ + "/sample capture.pcap";  // a blank in the path
    ASSERT_TRUE(WritePcap(file, records, DLT_EN10MB));

    std::string output;
    int status = -1;
    std::vector<Record> seen;
    ReplayAndCapture(file, records.size(), &output, &status, &seen);
    EXPECT_EQ(0, status) << output;
    EXPECT_EQ(0u, output.find("Start Transmission\n")) << output;
    EXPECT_NE(std::string::npos, output.find("Sent 300 packets.")) << output;
    ExpectSameFrames(records, seen);
    if (HasFatalFailure() || seen.size() != records.size()) return;

    // Tolerance: measured from the first frame seen, a frame's lateness is
    // its offset on the wire minus its offset in the file. None may be more
    // than 20 ms early (only the first frame's own delay can make them look
    // early), none more than 250 ms late, and the median within 5 ms; the
    // whole replay spans the recorded span (2 s and more) within -20/+250 ms.
    std::vector<int64_t> lateness;
    for (size_t i = 0; i < seen.size(); ++i) {
        int64_t wire = seen[i].stampUs - seen[0].stampUs;
        int64_t inFile = records[i].stampUs - records[0].stampUs;
        lateness.push_back(wire - inFile);
    }
    for (size_t i = 0; i < lateness.size(); ++i) {
        EXPECT_GE(lateness[i], -20000) << "frame " << i << " left early";
        EXPECT_LE(lateness[i], 250000) << "frame " << i << " left late";
    }
    std::vector<int64_t> sorted = lateness;
    std::sort(sorted.begin(), sorted.end(), [](int64_t a, int64_t b) { return std::llabs(a) < std::llabs(b); });
    EXPECT_LE(std::llabs(sorted[sorted.size() / 2]), 5000) << "median lateness";
    int64_t recordedSpan = records.back().stampUs - records.front().stampUs;
    ASSERT_GT(recordedSpan, 2000000);
    EXPECT_GE(seen.back().stampUs - seen.front().stampUs, recordedSpan - 20000);
}

TEST_F(TarvoTest, ReadsPcapngFiles) {
    std::vector<Record> records = MakeRecords(40);
    std::string pcap = dir_ + "/ng.pcap", pcapng = dir_ + "/ng.pcapng";
    ASSERT_TRUE(WritePcap(pcap, records, DLT_EN10MB));
    std::string out;
    ASSERT_EQ(0, RunTool({"editcap", "-F", "pcapng", pcap, pcapng}, &out)) << out;

    std::string output;
    int status = -1;
    std::vector<Record> seen;
    ReplayAndCapture(pcapng, records.size(), &output, &status, &seen);
    EXPECT_EQ(0, status) << output;
    ExpectSameFrames(records, seen);
}

// Fault: the first frame larger than the interface's MTU ended the replay
// ("send: Message too long", exit 1) and the rest of the file was never sent.
TEST_F(TarvoTest, SkipsFramesTheInterfaceRefusesAndSendsTheRest) {
    std::vector<Record> records = MakeRecords(60), fit;
    for (int i : {20, 40}) records[i].bytes = MakeFrame(i, 9000);  // jumbo frames on an MTU of 1500
    for (size_t i = 0; i < records.size(); ++i) {
        if (i != 20 && i != 40) fit.push_back(records[i]);
    }
    std::string file = dir_ + "/jumbo.pcap";
    ASSERT_TRUE(WritePcap(file, records, DLT_EN10MB));

    std::string output;
    int status = -1;
    std::vector<Record> seen;
    ReplayAndCapture(file, fit.size(), &output, &status, &seen);
    EXPECT_EQ(0, status) << output;
    EXPECT_EQ("Sent 58 packets, 2 not sent (first: record 21, send: Message too long).", LastLine(output)) << output;
    ExpectSameFrames(fit, seen);
}

// An interface that goes away is no refused frame: the replay stops at the
// next record with exit 1 and the reason as the last line.
TEST_F(TarvoTest, StopsWhenTheInterfaceGoesAway) {
    std::vector<Record> records = MakeRecords(5);  // then 2000 more, 5 ms apart
    for (int i = 0; i < 2000; ++i) records.push_back({records.back().stampUs + 5000, MakeFrame(5 + i, 100)});
    std::string file = dir_ + "/long.pcap";
    ASSERT_TRUE(WritePcap(file, records, DLT_EN10MB));
    NamespaceCapture cap;
    ASSERT_TRUE(cap.Start(ns_, "veth1")) << cap.Error();
    bool sending = false;
    std::thread remover([&] {
        sending = TestWaitFor([&] { return cap.Count() >= 5; }, 10000);
        std::string out;
        RunTool({"ip", "-n", ns_, "link", "del", "veth0"}, &out);
    });
    std::string output;
    int status = Replay({file, "veth0", "s"}, &output);
    remover.join();
    cap.Stop();
    EXPECT_TRUE(sending) << "the first frames did not arrive before the interface was removed";
    EXPECT_EQ(1, status) << output;
    EXPECT_EQ(0u, LastLine(output).find("tarvo: sending on veth0 stopped at record ")) << output;
}

TEST_F(TarvoTest, RefusesWhatItCannotOpen) {
    std::vector<Record> records = MakeRecords(5);
    std::string good = dir_ + "/good.pcap", raw = dir_ + "/raw.pcap";
    ASSERT_TRUE(WritePcap(good, records, DLT_EN10MB));
    ASSERT_TRUE(WritePcap(raw, records, DLT_RAW));
    struct Case {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{dir_ + "/missing.pcap", "veth0", "s"}, "cannot open capture file"},
        {{good, "nosuch0", "s"}, "cannot open interface nosuch0"},
        {{raw, "veth0", "s"}, "link type"},
        {{good, "veth0", "fast"}, "usage"},
        {{good}, "usage"},
    };
    NamespaceCapture cap;
    ASSERT_TRUE(cap.Start(ns_, "veth1")) << cap.Error();
    for (const Case& c : cases) {
        std::string output;
        EXPECT_EQ(1, Replay(c.args, &output)) << c.says;
        EXPECT_NE(std::string::npos, output.find(c.says)) << output;
        EXPECT_EQ(std::string::npos, output.find("Start Transmission")) << output;
    }
    usleep(200000);  // a pause on purpose: a frame sent after a refusal has the chance to arrive
    cap.Stop();
    EXPECT_EQ(0u, cap.Records().size()) << "nothing may be sent after a refusal";
}

}  // namespace
