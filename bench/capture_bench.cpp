// SPDX-License-Identifier: GPL-2.0-or-later
// capture_bench.cpp - the packet rate the live capture path sustains on
// loopback without the capture library reporting drops (pcap_stats), with 0,
// 1, 4 and 16 filters judged in one pass (one lumo_judge) and per filter (one
// rawshark each), beside `tcpdump -w /dev/null` on the same traffic.
//
// Traffic: paced UDP datagrams (64 payload bytes) from a thread of this
// process to 127.0.0.1 only, captured on "lo" with "udp and port P". Each
// configuration climbs in rate until a trial loses packets, then bisects;
// the figure is the highest rate of a trial with no drop and every packet
// handled; ">=" marks a figure where the sender, not the capture, was the
// limit. A third reference is one rawshark fed the same frames from memory,
// the ceiling of any path that hands packets to rawshark. Needs root. Prints
// pps per configuration and its ratios to tcpdump and to rawshark alone, and
// one pass with 16 filters against one pass with 1.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture.h"
#include "filterset/filterset.h"
#include "pipeline/packetring.h"
#include "pipeline/rawsharkmngr.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "tests/support/udp.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTrialSeconds = 1.5;
constexpr int kPayload = 64;
constexpr uint64_t kMaxTrialPackets = 200000;  // stays below the ring's 262144 slots

struct TrialResult {
    uint64_t sent = 0;
    uint64_t handled = 0;  // packets that reached the consumer
    uint64_t dropped = 0;
    double achieved = 0;  // pps the generator reached
    bool Clean() const { return dropped == 0 && handled >= sent; }
};

// Sends `rate` datagrams per second for `seconds` to 127.0.0.1:port, in
// bursts every millisecond. Returns the count sent; achieved gets the rate.
// The datagrams come from 16 source addresses (127.0.0.10 to .25) in
// turn, so that several judges each get their share of the conversations.
constexpr int kSources = 16;

uint64_t SendPaced(int port, double rate, double seconds, double* achieved) {
    int fds[kSources];
    for (int s = 0; s < kSources; ++s) {
        fds[s] = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 9 + static_cast<uint32_t>(s));
        bind(fds[s], reinterpret_cast<sockaddr*>(&from), sizeof from);
    }
    unsigned turn = 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    char data[kPayload];
    memset(data, 'b', sizeof data);
    iovec iov = {data, sizeof data};
    mmsghdr messages[64];
    for (mmsghdr& m : messages) {
        memset(&m, 0, sizeof m);
        m.msg_hdr.msg_name = &a;
        m.msg_hdr.msg_namelen = sizeof a;
        m.msg_hdr.msg_iov = &iov;
        m.msg_hdr.msg_iovlen = 1;
    }
    uint64_t total = static_cast<uint64_t>(rate * seconds);
    if (total > kMaxTrialPackets) total = kMaxTrialPackets;
    uint64_t sent = 0;
    auto t0 = Clock::now();
    while (sent < total) {
        double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        uint64_t due = static_cast<uint64_t>(elapsed * rate) + 1;
        if (due > total) due = total;
        while (sent < due) {
            // Batches of up to 64 datagrams per system call keep the sender cheap.
            unsigned batch = static_cast<unsigned>(std::min<uint64_t>(due - sent, 64));
            int n = sendmmsg(fds[turn++ % kSources], messages, batch, 0);
            if (n > 0) sent += static_cast<uint64_t>(n);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(1000));
    }
    double took = std::chrono::duration<double>(Clock::now() - t0).count();
    *achieved = took > 0 ? sent / took : 0;
    for (int fd : fds) close(fd);
    return sent;
}

// Waits until value() stops growing for quietMs, or reaches target.
template <typename F>
uint64_t WaitSettled(F value, uint64_t target, int quietMs = 500) {
    uint64_t last = value();
    auto still = Clock::now();
    while (last < target) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        uint64_t now = value();
        if (now != last) {
            last = now;
            still = Clock::now();
        } else if (Clock::now() - still > std::chrono::milliseconds(quietMs)) {
            break;
        }
    }
    return last;
}

// ---------------------------------------------------------------- our path

uint64_t CounterSum(int entry) {
    static uint64_t bins[2048];
    char message[256];
    if (!RawsharkMngrReadPackets(entry, PerfCounter(), bins, 2048, message)) return 0;
    uint64_t sum = 0;
    for (uint64_t b : bins) sum += b;
    return sum;
}

// Every filter matches every datagram of the trial, so each one's counts
// must catch up with the ring.
const char* const kFilters[16] = {"udp",
                                  "ip",
                                  "udp.length > 8",
                                  "frame.len > 0",
                                  "ip.src == 127.0.0.1",
                                  "ip.dst == 127.0.0.1",
                                  "udp.srcport > 0",
                                  "eth",
                                  "frame",
                                  "ip.ttl > 0",
                                  "udp.length >= 8",
                                  "ip.version == 4",
                                  "frame.cap_len > 0",
                                  "udp.dstport > 0",
                                  "ip.proto == 17",
                                  "ip.len > 20"};

TrialResult CaptureTrial(int filters, int onePass, int calc, int judges, double rate) {
    TrialResult r;
    UdpSink sink;

    RawsharkBlock rawshark{};
    PlatformFindRawshark(rawshark.rawsharkPath, sizeof rawshark.rawsharkPath);
    rawshark.onePass = onePass;
    rawshark.judges = judges;
    FilterEntry entries[16];
    memset(entries, 0, sizeof entries);
    for (int i = 0; i < filters; ++i) {
        TextCopy(entries[i].filterText, sizeof entries[i].filterText, kFilters[i]);
        if (calc) {
            // each filter also sums a field of its packets
            static const char* const kFields[] = {"udp.length", "ip.len", "frame.len", "udp.dstport"};
            entries[i].calc = CalcSum;
            TextCopy(entries[i].calcField, sizeof entries[i].calcField, kFields[i % 4]);
        }
    }

    PacketRingReset();
    if (!RawsharkMngrListEdit(&rawshark, DLT_EN10MB, filters, entries, 65536)) {
        fprintf(stderr, "RawsharkMngrListEdit failed\n");
        return r;
    }
    CapturePacketHandlerControl(1);
    CaptureBlock block{};
    TextCopy(block.iface.name, sizeof block.iface.name, "lo");
    block.iface.netmask = htonl(0xFF000000u);
    block.promiscuousMode = 1;
    block.limitBytes = 128;
    block.timeout = 10;
    snprintf(block.captureFilter, sizeof block.captureFilter, "udp and port %d", sink.port);
    CaptureStartThread(&block);
    while (CaptureLinkType() == -1) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    // Warm-up: a few packets judged by every filter, so that the trial
    // measures rawshark reading, not rawshark starting.
    double ignored;
    uint64_t warm = SendPaced(sink.port, 1000, 0.01, &ignored);
    for (int i = 0; i < filters; ++i) WaitSettled([i] { return CounterSum(i); }, warm, 5000);

    r.sent = SendPaced(sink.port, rate, kTrialSeconds, &r.achieved);
    r.handled = WaitSettled([] { return PacketRingCount(); }, warm + r.sent) - warm;
    // Every filter here matches every packet: its verdicts catch up with the ring.
    for (int i = 0; i < filters; ++i) {
        uint64_t judged = WaitSettled([i] { return CounterSum(i); }, warm + r.handled, 2000) - warm;
        if (judged < r.handled) r.handled = judged;
    }
    CapturePacketHandlerControl(0);
    CaptureStopThread();
    uint64_t received = 0;
    CaptureLastStats(&received, &r.dropped);
    RawsharkMngrListClear();
    return r;
}

// ---------------------------------------------------------------- tcpdump

TrialResult TcpdumpTrial(double rate) {
    TrialResult r;
    UdpSink sink;
    int err[2];
    if (pipe(err) != 0) return r;
    std::string filter = "udp and port " + std::to_string(sink.port);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(err[1], 2);
        close(err[0]);
        close(err[1]);
        execlp("tcpdump", "tcpdump", "-n", "-i", "lo", "-w", "/dev/null", filter.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(err[1]);
    std::string text;
    char buf[512];
    while (text.find("listening on") == std::string::npos) {
        ssize_t n = read(err[0], buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    r.sent = SendPaced(sink.port, rate, kTrialSeconds, &r.achieved);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // its read time-out is 1000 ms
    kill(pid, SIGINT);
    ssize_t n;
    while ((n = read(err[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    close(err[0]);
    waitpid(pid, nullptr, 0);
    unsigned long long captured = 0, dropped = 0;
    const char* c = strstr(text.c_str(), " packets captured");
    const char* d = strstr(text.c_str(), " packets dropped by kernel");
    if (c) {
        const char* s = c;
        while (s > text.c_str() && s[-1] >= '0' && s[-1] <= '9') --s;
        captured = strtoull(s, nullptr, 10);
    }
    if (d) {
        const char* s = d;
        while (s > text.c_str() && s[-1] >= '0' && s[-1] <= '9') --s;
        dropped = strtoull(s, nullptr, 10);
    }
    r.handled = captured;
    r.dropped = d ? dropped : 1;  // no report counts as a failed trial
    return r;
}

// ---------------------------------------------------------------- rawshark alone

// The rate one rawshark judges the same frames at when fed from memory as
// fast as it reads: the ceiling of any path that hands it packets.
double RawsharkAloneRate(uint64_t count) {
    char path[kPathMax] = "";
    PlatformFindRawshark(path, sizeof path);
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return 0;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[0]), close(in[1]), close(out[0]), close(out[1]);
        execl(path, path, "-d", "encap:1", "-l", "-r", "-", "-n", "-R", "udp", (char*)nullptr);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    uint8_t frame[14 + 20 + 8 + kPayload] = {};
    const uint8_t head[] = {0, 0,  0,  0, 0, 0,   0, 0, 0, 0,   0, 0, 0x08, 0x00, 0x45, 0,    0,    92, 0,  0, 0x40,
                            0, 64, 17, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1,    0x04, 0xD2, 0x16, 0x2E, 0,  72, 0, 0};
    memcpy(frame, head, sizeof head);
    std::thread writer([&] {
        PacketRecordHeader h = {1700000000, 0, sizeof frame, sizeof frame};
        std::vector<uint8_t> block;
        for (uint64_t i = 0; i < count; ++i) {
            h.ts_usec = static_cast<uint32_t>(i % 1000000);
            block.insert(block.end(), reinterpret_cast<uint8_t*>(&h), reinterpret_cast<uint8_t*>(&h) + sizeof h);
            block.insert(block.end(), frame, frame + sizeof frame);
            if (block.size() > 60000 || i + 1 == count) {
                if (write(in[1], block.data(), block.size()) < 0) break;
                block.clear();
            }
        }
    });
    auto t0 = Clock::now();
    uint64_t verdicts = 0;
    char buf[65536];
    ssize_t n;
    while (verdicts < count && (n = read(out[0], buf, sizeof buf)) > 0)
        for (ssize_t i = 0; i < n; ++i) verdicts += buf[i] == '-';
    double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    writer.join();
    close(in[1]);
    close(out[0]);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return verdicts == count && seconds > 0 ? count / seconds : 0;
}

// ---------------------------------------------------------------- search

struct Figure {
    double rate = 0;
    bool generatorBound = false;  // the sender, not the capture, was the limit
};

template <typename Trial>
Figure SustainedRate(Trial trial, const char* name) {
    Figure f;
    double bad = 0;
    for (double rate = 10000; rate <= 640000; rate *= 2) {
        TrialResult t = trial(rate);
        fprintf(stderr, "  %-10s %8.0f pps: sent %llu handled %llu dropped %llu (generator %.0f pps)\n", name, rate,
                (unsigned long long)t.sent, (unsigned long long)t.handled, (unsigned long long)t.dropped, t.achieved);
        if (!t.Clean()) {
            bad = rate;
            break;
        }
        f.rate = t.achieved;
        if (t.achieved < 0.9 * rate) {
            f.generatorBound = true;
            break;
        }
    }
    for (int step = 0; bad > 0 && step < 3; ++step) {
        double rate = (f.rate + bad) / 2;
        TrialResult t = trial(rate);
        fprintf(stderr, "  %-10s %8.0f pps: sent %llu handled %llu dropped %llu\n", name, rate,
                (unsigned long long)t.sent, (unsigned long long)t.handled, (unsigned long long)t.dropped);
        if (t.Clean())
            f.rate = t.achieved;
        else
            bad = rate;
    }
    return f;
}

std::map<std::string, Figure> Figures;

double TcpdumpRate() {
    auto it = Figures.find("tcpdump");
    if (it != Figures.end()) return it->second.rate;
    return (Figures["tcpdump"] = SustainedRate(TcpdumpTrial, "tcpdump")).rate;
}

void BM_RawsharkAlone(benchmark::State& state) {
    for (auto _ : state) {
        Figure f;
        f.rate = RawsharkAloneRate(100000);
        Figures["rawshark alone"] = f;
        state.counters["pps"] = f.rate;
    }
}

void BM_TcpdumpLoopback(benchmark::State& state) {
    if (geteuid() != 0) {
        state.SkipWithError("needs root to capture on lo");
        return;
    }
    for (auto _ : state) state.counters["pps"] = TcpdumpRate();
}

void BM_CaptureLoopback(benchmark::State& state) {
    if (geteuid() != 0) {
        state.SkipWithError("needs root to capture on lo");
        return;
    }
    int filters = static_cast<int>(state.range(0));
    int onePass = static_cast<int>(state.range(1));
    int calc = state.range(2) != 0;
    int judges = static_cast<int>(state.range(3));
    double reference = TcpdumpRate();
    for (auto _ : state) {
        std::string name;
        if (filters)
            name = std::to_string(filters) + (filters == 1 ? " filter" : " filters") +
                   (onePass ? ", one pass" : ", per filter") + (calc ? ", sums" : "") +
                   (judges > 1 ? ", " + std::to_string(judges) + " judges" : "");
        else
            name = "0 filters";
        Figure f =
            SustainedRate([=](double r) { return CaptureTrial(filters, onePass, calc, judges, r); }, name.c_str());
        Figures[name] = f;
        state.counters["pps"] = f.rate;
        state.counters["vs_tcpdump"] = reference > 0 ? f.rate / reference : 0;
    }
}

}  // namespace

BENCHMARK(BM_RawsharkAlone)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_TcpdumpLoopback)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_CaptureLoopback)
    ->Args({0, 1, 0, 1})
    ->Args({1, 1, 0, 1})
    ->Args({4, 1, 0, 1})
    ->Args({4, 1, 1, 1})
    ->Args({16, 1, 0, 1})
    ->Args({16, 1, 0, 2})
    ->Args({1, 0, 0, 1})
    ->Args({4, 0, 0, 1})
    ->Args({16, 0, 0, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    PlatformSetProgramFolder(LUMO_BIN_DIR);  // where lumo_judge is built
    TotalCounterInit(65536);
    PacketRingSetInterval(50000);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    TotalCounterFree();
    double reference = Figures.count("tcpdump") ? Figures["tcpdump"].rate : 0;
    double ceiling = Figures.count("rawshark alone") ? Figures["rawshark alone"].rate : 0;
    printf("\nsustained pps without drops (\">=\": the sender was the limit)\n");
    printf("  %-16s %12s %12s %14s\n", "path", "pps", "/ tcpdump", "/ rawshark alone");
    for (const auto& [name, f] : Figures) {
        printf("  %-16s %2s%10.0f", name.c_str(), f.generatorBound ? ">=" : "", f.rate);
        printf(" %12.3f", reference > 0 ? f.rate / reference : 0.0);
        printf(" %14.3f\n", ceiling > 0 ? f.rate / ceiling : 0.0);
    }
    double one = Figures.count("1 filter, one pass") ? Figures["1 filter, one pass"].rate : 0;
    double sixteen = Figures.count("16 filters, one pass") ? Figures["16 filters, one pass"].rate : 0;
    if (one > 0) printf("  one pass, 16 filters / 1 filter: %.3f\n", sixteen / one);
    double four = Figures.count("4 filters, one pass") ? Figures["4 filters, one pass"].rate : 0;
    double sums = Figures.count("4 filters, one pass, sums") ? Figures["4 filters, one pass, sums"].rate : 0;
    if (four > 0) printf("  one pass, 4 filters with a sum each / without (goal >= 0.8): %.3f\n", sums / four);
    double two = Figures.count("16 filters, one pass, 2 judges") ? Figures["16 filters, one pass, 2 judges"].rate : 0;
    if (sixteen > 0) printf("  one pass, 16 filters, 2 judges / 1 judge (goal >= 1.3): %.3f\n", two / sixteen);
    return 0;
}
