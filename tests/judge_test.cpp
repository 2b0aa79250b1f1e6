// SPDX-License-Identifier: GPL-2.0-or-later
// lumo_judge: its verdict stream against tshark on well-formed, malformed,
// empty and oversized frames with 16 filters, and its answers to a refused
// filter, a live requester, a stream cut inside a record and bad usage.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "pipeline/childconsole.h"
#include "support/pipeline_packets.h"
#include "support/wait.h"

namespace {

const std::string kJudge = std::string(LUMO_BIN_DIR) + "/lumo_judge";

std::string Stream(const std::vector<PipelineTestPacket>& packets) {
    std::string s;
    for (const PipelineTestPacket& p : packets) {
        s.append(reinterpret_cast<const char*>(&p.header), sizeof p.header);
        s.append(reinterpret_cast<const char*>(p.data.data()), p.data.size());
    }
    return s;
}

struct JudgeRun {
    std::string output;
    int exitCode = -1;
};

// Starts lumo_judge with args, writes input from a thread of its own (then
// closes stdin), reads everything it prints and reaps it.
JudgeRun RunJudge(const std::vector<std::string>& args, const std::string& input) {
    std::vector<const char*> argv = {kJudge.c_str()};
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    ChildConsole c;
    JudgeRun run;
    if (!ChildConsoleNewArgv("lumo_judge", argv.data(), &c, nullptr)) return run;
    std::thread writer([&] {
        size_t at = 0;
        while (at < input.size()) {
            ssize_t n = write(c.input, input.data() + at, input.size() - at);
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
        close(c.input);
        c.input = 0;
    });
    char buffer[65536];
    ssize_t n;
    while ((n = read(c.output, buffer, sizeof buffer)) > 0) run.output.append(buffer, static_cast<size_t>(n));
    writer.join();
    EXPECT_TRUE(TestWaitFor([&] { return ChildConsoleExited(&c) != 0; }, 30000)) << "lumo_judge did not end";
    if (c.reaped && WIFEXITED(c.exitStatus)) run.exitCode = WEXITSTATUS(c.exitStatus);
    ChildConsoleRelease(&c);
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0, lf;
    while ((lf = text.find('\n', at)) != std::string::npos) {
        lines.push_back(text.substr(at, lf - at));
        at = lf + 1;
    }
    if (at < text.size()) lines.push_back(text.substr(at));
    return lines;
}

// Test packets plus frames meant to throw in the dissectors: random bytes
// behind Ethernet and IPv4 headers, an IPv4 header claiming more than was
// captured, records with a wire length of 0 and one with no bytes at all,
// and frames of 65536 bytes and more captured whole. Each gets a capture
// time of its own, so tshark's answers map back to their records.
std::vector<PipelineTestPacket> MixedPackets() {
    std::vector<PipelineTestPacket> packets = PipelineTestMakePackets(1200, 21);
    std::mt19937 rng(4);
    for (int k = 0; k < 300; ++k) {
        PipelineTestPacket p = packets[static_cast<size_t>(rng() % packets.size())];
        for (size_t i = 14 + rng() % 30; i < p.data.size(); ++i) p.data[i] = static_cast<uint8_t>(rng());
        if (k % 7 == 0 && p.data.size() > 15) p.data[14] = 0x4f;  // header longer than the frame
        if (k % 11 == 0) p.header.orig_len = 0;
        packets.insert(packets.begin() + static_cast<long>(rng() % packets.size()), p);
    }
    PipelineTestPacket empty;
    empty.header = {0, 0, 0, 60};
    packets.insert(packets.begin() + 700, empty);
    for (uint32_t size : {65536u, 70000u}) {
        PipelineTestPacket big = PipelineTestUdpPacket(0, 0, std::string(size - 42, 'b'));
        big.data.resize(size);
        big.header.incl_len = big.header.orig_len = size;
        packets.insert(packets.begin() + 300, big);
    }
    for (size_t k = 0; k < packets.size(); ++k) {
        packets[k].header.ts_sec = 1000 + static_cast<uint32_t>(k / 1000);
        packets[k].header.ts_usec = static_cast<uint32_t>(k % 1000) * 1000;
    }
    return packets;
}

TEST(JudgeTest, EveryRecordGetsOneLineOfSixteenVerdictsAsTsharkJudgesThem) {
    std::string dir = PipelineTestTempDir("judge");
    std::vector<PipelineTestPacket> packets = MixedPackets();
    std::string pcap = dir + "/mixed.pcap";
    ASSERT_TRUE(PipelineTestWritePcap(pcap, packets));
    const std::vector<std::string> texts = {
        "udp", "tcp.port == 80", "frame.len > 1000", "ip.len > 100 && !tcp", "_ws.malformed", "arp || frame.len == 0"};
    std::vector<std::string> args = {"-d", "encap:1", "-n"};
    for (int i = 0; i < 16; ++i) {
        args.push_back("-R");
        args.push_back(texts[static_cast<size_t>(i) % texts.size()]);
    }
    JudgeRun run = RunJudge(args, Stream(packets));
    EXPECT_EQ(run.exitCode, 0);
    std::vector<std::string> lines = Lines(run.output);
    ASSERT_EQ(lines.size(), packets.size());

    for (size_t f = 0; f < texts.size(); ++f) {
        std::vector<PipelineTestMatch> matches;
        ASSERT_TRUE(PipelineTestTsharkMatches(pcap, texts[f], &matches)) << texts[f];
        std::set<int64_t> matched;
        for (const PipelineTestMatch& m : matches) matched.insert(m.usec);
        int ones = 0;
        for (size_t k = 0; k < packets.size(); ++k) {
            ASSERT_EQ(lines[k].size(), 16u) << k;
            int64_t usec = int64_t{packets[k].header.ts_sec} * 1000000 + packets[k].header.ts_usec;
            char expect = matched.count(usec) ? '1' : '0';
            for (size_t i = f; i < 16; i += texts.size()) {
                ASSERT_EQ(lines[k][i], expect) << texts[f] << " record " << k;
            }
            ones += expect == '1';
        }
        EXPECT_GT(ones, 0) << texts[f];  // each filter matches something here
    }
}

TEST(JudgeTest, RefusedFilterLiveAnswersCutStreamAndBadUsage) {
    std::vector<const char*> argv = {kJudge.c_str(), "-d", "encap:1", "-n", "-R", "udp", "-R", "tcp.bogus", nullptr};
    ChildConsole c;
    ASSERT_EQ(ChildConsoleNewArgv("lumo_judge", argv.data(), &c, nullptr), 1);
    std::vector<PipelineTestPacket> packets = {PipelineTestUdpPacket(1000, 0, "one"),
                                               PipelineTestUdpPacket(1000, 1, "two")};
    std::string first = Stream({packets[0]});
    ASSERT_EQ(write(c.input, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    // The verdict of a live record arrives while the input stays open.
    std::string out;
    char buffer[4096];
    while (out.find("\n10\n") == std::string::npos) {
        ssize_t n = read(c.output, buffer, sizeof buffer);
        ASSERT_GT(n, 0) << out;
        out.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(out, "lumo_judge: filter 2: tcp.bogus is neither a field nor a protocol name.\n10\n");

    // The second record loses its last bytes: it is still judged.
    std::string second = Stream({packets[1]});
    second.resize(second.size() - 20);
    ASSERT_EQ(write(c.input, second.data(), second.size()), static_cast<ssize_t>(second.size()));
    close(c.input);
    c.input = 0;
    out.clear();
    ssize_t n;
    while ((n = read(c.output, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    EXPECT_EQ(Lines(out), (std::vector<std::string>{"lumo_judge: input ends inside record 2 (40 of 60 bytes)", "10"}));
    EXPECT_TRUE(TestWaitFor([&] { return ChildConsoleExited(&c) != 0; }, 30000)) << "lumo_judge did not end";
    EXPECT_TRUE(WIFEXITED(c.exitStatus) && WEXITSTATUS(c.exitStatus) == 1);
    ChildConsoleRelease(&c);

    JudgeRun noLink = RunJudge({"-n", "-R", "udp"}, "");
    EXPECT_EQ(noLink.exitCode, 1);
    EXPECT_EQ(Lines(noLink.output).back(), "lumo_judge: -d encap:N is required") << noLink.output;
    std::vector<std::string> tooMany = {"-d", "encap:1"};
    for (int i = 0; i < 17; ++i) tooMany.insert(tooMany.end(), {"-R", "udp"});
    EXPECT_EQ(RunJudge(tooMany, "").exitCode, 1);
    // No record at all: nothing printed, a normal end.
    JudgeRun none = RunJudge({"-d", "encap:1", "-R", "udp"}, "");
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.output, "");
}

}  // namespace
