// SPDX-License-Identifier: GPL-2.0-or-later
// pipeline_packets.cpp - test packets, pcap files, tshark reference, process
// bookkeeping for the pipeline tests.
#include "pipeline_packets.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <algorithm>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    v[at] = static_cast<uint8_t>(x >> 8);
    v[at + 1] = static_cast<uint8_t>(x);
}

// The IPv4 header's addresses (at 14 in the frame) and then its checksum.
void PutAddresses(std::vector<uint8_t>& f, uint32_t src, uint32_t dst) {
    for (int i = 0; i < 4; ++i) {
        f[26 + i] = static_cast<uint8_t>(src >> (24 - 8 * i));
        f[30 + i] = static_cast<uint8_t>(dst >> (24 - 8 * i));
    }
    uint32_t sum = 0;
    for (int i = 14; i < 34; i += 2) sum += (f[i] << 8) | f[i + 1];
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    Put16(f, 24, static_cast<uint16_t>(~sum));
}

// Ethernet + IPv4 (+ UDP or TCP) headers into a frame of `captured` bytes.
std::vector<uint8_t> IpFrame(uint32_t captured, uint32_t wire, int proto, uint16_t srcPort, uint16_t dstPort,
                             uint32_t src, uint32_t dst) {
    std::vector<uint8_t> f(captured, 0);
    if (captured < 14) return f;
    const uint8_t macs[12] = {0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2};
    memcpy(f.data(), macs, 12);
    Put16(f, 12, 0x0800);
    if (captured < 34) return f;
    uint32_t ipLen = wire - 14 > 65535 ? 65535 : wire - 14;
    f[14] = 0x45;
    Put16(f, 16, static_cast<uint16_t>(ipLen));
    f[22] = 64;
    f[23] = static_cast<uint8_t>(proto);
    PutAddresses(f, src, dst);
    if (proto == 17 && captured >= 42) {
        Put16(f, 34, srcPort);
        Put16(f, 36, dstPort);
        Put16(f, 38, static_cast<uint16_t>(ipLen - 20));
    } else if (proto == 6 && captured >= 54) {
        Put16(f, 34, srcPort);
        Put16(f, 36, dstPort);
        f[46] = 0x50;  // header length 20
        f[47] = 0x18;  // PSH ACK
        Put16(f, 48, 8192);
    }
    for (uint32_t i = 54; i < captured; ++i) f[i] = static_cast<uint8_t>(i * 7);
    return f;
}

std::vector<uint8_t> ArpFrame() {
    std::vector<uint8_t> f(42, 0);
    memset(f.data(), 0xff, 6);
    f[6] = 0x02;
    f[11] = 3;
    Put16(f, 12, 0x0806);
    Put16(f, 14, 1);
    Put16(f, 16, 0x0800);
    f[18] = 6;
    f[19] = 4;
    Put16(f, 20, 1);
    return f;
}

// Ethernet + IPv4 around an L4 part: id, fragment field (flags and offset
// in 8-byte units), protocol; the MACs follow the addresses.
std::vector<uint8_t> Ip4(uint32_t src, uint32_t dst, int proto, uint16_t id, uint16_t fragment,
                         const std::vector<uint8_t>& l4) {
    std::vector<uint8_t> f(34 + l4.size(), 0);
    const uint8_t macs[12] = {0x02, 0, 0, 0, static_cast<uint8_t>(dst >> 8), static_cast<uint8_t>(dst),
                              0x02, 0, 0, 0, static_cast<uint8_t>(src >> 8), static_cast<uint8_t>(src)};
    memcpy(f.data(), macs, 12);
    Put16(f, 12, 0x0800);
    f[14] = 0x45;
    Put16(f, 16, static_cast<uint16_t>(20 + l4.size()));
    Put16(f, 18, id);
    Put16(f, 20, fragment);
    f[22] = 64;
    f[23] = static_cast<uint8_t>(proto);
    PutAddresses(f, src, dst);
    memcpy(f.data() + 34, l4.data(), l4.size());
    return f;
}

std::vector<uint8_t> Tcp(uint16_t sp, uint16_t dp, uint32_t seq, uint32_t ack, uint8_t flags, uint32_t payload) {
    std::vector<uint8_t> t(20 + payload, 0);
    Put16(t, 0, sp);
    Put16(t, 2, dp);
    for (int i = 0; i < 4; ++i) {
        t[4 + i] = static_cast<uint8_t>(seq >> (24 - 8 * i));
        t[8 + i] = static_cast<uint8_t>(ack >> (24 - 8 * i));
    }
    t[12] = 0x50;
    t[13] = flags;
    Put16(t, 14, 65535);
    for (uint32_t i = 0; i < payload; ++i) t[20 + i] = static_cast<uint8_t>('a' + (seq + i) % 26);
    return t;
}

std::vector<uint8_t> Udp(uint16_t sp, uint16_t dp, const std::vector<uint8_t>& payload, uint32_t length = 0) {
    std::vector<uint8_t> u(8 + payload.size(), 0);
    Put16(u, 0, sp);
    Put16(u, 2, dp);
    Put16(u, 4, static_cast<uint16_t>(length ? length : 8 + payload.size()));
    memcpy(u.data() + 8, payload.data(), payload.size());
    return u;
}

// A DNS query for hN.example (A, IN), or its answer with one address.
std::vector<uint8_t> Dns(uint16_t id, int n, bool response) {
    std::vector<uint8_t> d(12, 0);
    Put16(d, 0, id);
    Put16(d, 2, response ? 0x8180 : 0x0100);
    Put16(d, 4, 1);
    Put16(d, 6, response ? 1 : 0);
    std::string label = "h" + std::to_string(n);
    d.push_back(static_cast<uint8_t>(label.size()));
    d.insert(d.end(), label.begin(), label.end());
    const char example[] =
        "\x07"
        "example";
    d.insert(d.end(), example, example + 8);
    d.push_back(0);
    for (uint8_t b : {0, 1, 0, 1}) d.push_back(b);
    if (response) {
        for (uint8_t b : {0xc0, 0x0c, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 192, 0, 2, 1}) d.push_back(b);
        d.back() = static_cast<uint8_t>(n);
    }
    return d;
}

}  // namespace

std::vector<PipelineTestPacket> PipelineTestMakePackets(int count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<PipelineTestPacket> out;
    out.reserve(static_cast<size_t>(count));
    int64_t t = 1000LL * 1000000;
    const uint16_t udpPorts[3] = {53, 5000, 80};
    const uint16_t tcpPorts[3] = {80, 443, 8080};
    for (int k = 0; k < count; ++k) {
        PipelineTestPacket p;
        int kind = static_cast<int>(rng() % 10);
        uint32_t wire = 60 + rng() % 1455;
        uint32_t captured = wire;
        if (rng() % 8 == 0) captured = wire < 96 ? wire : 96;  // a short snapshot
        if (k == count / 2) {
            wire = 70000;  // larger than 16 bits on the wire
            captured = 128;
            kind = 0;
        }
        uint32_t src = 0x0a000001 + rng() % 5, dst = 0x0a000101 + rng() % 5;
        if (kind < 4) {
            p.data =
                IpFrame(captured, wire, 17, static_cast<uint16_t>(30000 + rng() % 100), udpPorts[rng() % 3], src, dst);
        } else if (kind < 9) {
            p.data =
                IpFrame(captured, wire, 6, static_cast<uint16_t>(40000 + rng() % 100), tcpPorts[rng() % 3], src, dst);
        } else {
            p.data = ArpFrame();
            wire = captured = 42;
        }
        p.header = {static_cast<uint32_t>(t / 1000000), static_cast<uint32_t>(t % 1000000),
                    static_cast<uint32_t>(p.data.size()), wire};
        out.push_back(std::move(p));
        // mostly dense traffic, now and then a pause
        t += rng() % 50 == 0 ? 100000 + rng() % 150000 : rng() % 2000;
    }
    return out;
}

std::vector<PipelineTestPacket> PipelineTestMakeConversations(int conversations, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> timeline;  // microseconds, frame
    uint16_t ipId = 1;
    for (int c = 0; c < conversations; ++c) {
        uint32_t client = 0x0a010001 + rng() % 12, server = 0x0a020001 + rng() % 4;
        int64_t t = 1000LL * 1000000 + static_cast<int64_t>(rng() % 4000000);
        auto at = [&](uint32_t from, uint32_t to, int proto, uint16_t fragment, const std::vector<uint8_t>& l4) {
            timeline.push_back({t, Ip4(from, to, proto, ipId++, fragment, l4)});
            t += 200 + rng() % 3000;
        };
        int kind = static_cast<int>(rng() % 3);
        if (kind == 0) {  // a TCP connection: handshake, data with a resend and a duplicate ack, close
            uint16_t port = static_cast<uint16_t>(40000 + rng() % 20000), sport = (rng() & 1) ? 80 : 443;
            uint32_t cs = rng(), ss = rng();
            at(client, server, 6, 0x4000, Tcp(port, sport, cs, 0, 0x02, 0));
            at(server, client, 6, 0x4000, Tcp(sport, port, ss, cs + 1, 0x12, 0));
            at(client, server, 6, 0x4000, Tcp(port, sport, cs + 1, ss + 1, 0x10, 0));
            uint32_t seq = cs + 1;
            int segments = 3 + static_cast<int>(rng() % 8);
            for (int k = 0; k < segments; ++k) {
                uint32_t len = 100 + rng() % 1300;
                at(client, server, 6, 0x4000, Tcp(port, sport, seq, ss + 1, 0x18, len));
                if (rng() % 4 == 0) at(client, server, 6, 0x4000, Tcp(port, sport, seq, ss + 1, 0x18, len));
                seq += len;
                at(server, client, 6, 0x4000, Tcp(sport, port, ss + 1, seq, 0x10, 0));
                if (rng() % 5 == 0) at(server, client, 6, 0x4000, Tcp(sport, port, ss + 1, seq, 0x10, 0));
            }
            at(client, server, 6, 0x4000, Tcp(port, sport, seq, ss + 1, 0x11, 0));
            at(server, client, 6, 0x4000, Tcp(sport, port, ss + 1, seq + 1, 0x11, 0));
            at(client, server, 6, 0x4000, Tcp(port, sport, seq + 1, ss + 2, 0x10, 0));
        } else if (kind == 1) {  // DNS queries, most answered
            uint16_t port = static_cast<uint16_t>(30000 + rng() % 20000);
            for (int q = 0; q < 2 + static_cast<int>(rng() % 3); ++q) {
                uint16_t id = static_cast<uint16_t>(rng());
                int n = static_cast<int>(rng() % 200);
                at(client, server, 17, 0, Udp(port, 53, Dns(id, n, false)));
                if (rng() % 5 != 0) at(server, client, 17, 0, Udp(53, port, Dns(id, n, true)));
            }
        } else {  // a 3000-byte datagram in three fragments, now and then the last first
            std::vector<uint8_t> payload(3000 - 8);
            for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
            std::vector<uint8_t> whole = Udp(static_cast<uint16_t>(20000 + rng() % 1000), 7000, payload);
            uint16_t id = ipId++;
            std::vector<uint8_t> parts[3] = {std::vector<uint8_t>(whole.begin(), whole.begin() + 1480),
                                             std::vector<uint8_t>(whole.begin() + 1480, whole.begin() + 2960),
                                             std::vector<uint8_t>(whole.begin() + 2960, whole.end())};
            bool swap = rng() % 3 == 0;
            for (int k = 0; k < 3; ++k) {
                int part = swap ? 2 - k : k;
                uint16_t fragment = static_cast<uint16_t>((part < 2 ? 0x2000 : 0) | (part * 1480 / 8));
                timeline.push_back({t, Ip4(client, server, 17, id, fragment, parts[part])});
                t += 100 + rng() % 500;
            }
        }
    }
    std::stable_sort(timeline.begin(), timeline.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<PipelineTestPacket> out;
    for (auto& [t, frame] : timeline) {
        PipelineTestPacket p;
        uint32_t length = static_cast<uint32_t>(frame.size() < 60 ? 60 : frame.size());
        frame.resize(length, 0);
        p.header = {static_cast<uint32_t>(t / 1000000), static_cast<uint32_t>(t % 1000000), length, length};
        p.data = std::move(frame);
        out.push_back(std::move(p));
    }
    return out;
}

PipelineTestPacket PipelineTestUdpPacket(uint32_t tsSec, uint32_t tsUsec, const std::string& payload) {
    uint32_t wire = static_cast<uint32_t>(42 + payload.size());
    if (wire < 60) wire = 60;
    PipelineTestPacket p;
    p.data = IpFrame(wire, wire, 17, 1234, 9, 0x7f000001, 0x7f000001);
    memcpy(p.data.data() + 42, payload.data(), payload.size());
    p.header = {tsSec, tsUsec, wire, wire};
    return p;
}

bool PipelineTestWritePcap(const std::string& path, const std::vector<PipelineTestPacket>& packets) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const uint32_t head[6] = {0xa1b2c3d4, 0x00040002, 0, 0, 262144, 1};
    bool ok = fwrite(head, sizeof head, 1, f) == 1;
    for (const PipelineTestPacket& p : packets) {
        ok = ok && fwrite(&p.header, sizeof p.header, 1, f) == 1;
        ok = ok && (p.data.empty() || fwrite(p.data.data(), p.data.size(), 1, f) == 1);
    }
    return fclose(f) == 0 && ok;
}

bool PipelineTestTsharkMatches(const std::string& path, const std::string& filter,
                               std::vector<PipelineTestMatch>* out) {
    out->clear();
    std::string cmd = "tshark -n -r '" + path + "'";
    if (!filter.empty()) cmd += " -Y '" + filter + "'";
    cmd += " -T fields -e frame.time_epoch -e frame.len 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return false;
    char line[256];
    while (fgets(line, sizeof line, p)) {
        // "1000.020000000\t1514": seconds, nine fraction digits, length
        char* dot = strchr(line, '.');
        char* tab = strchr(line, '\t');
        if (!dot || !tab) continue;
        int64_t sec = strtoll(line, nullptr, 10);
        int64_t nsec = strtoll(std::string(dot + 1, tab).c_str(), nullptr, 10);
        out->push_back({sec * 1000000 + nsec / 1000, strtoull(tab + 1, nullptr, 10)});
    }
    int status = pclose(p);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

static int CountEntries(const char* dir) {
    DIR* d = opendir(dir);
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
    return n - (strcmp(dir, "/proc/self/fd") == 0 ? 1 : 0);  // opendir's own descriptor
}

int PipelineTestOpenFds() { return CountEntries("/proc/self/fd"); }

int PipelineTestThreads() { return CountEntries("/proc/self/task"); }

int PipelineTestChildren() {
    DIR* d = opendir("/proc");
    if (!d) return -1;
    int n = 0;
    pid_t self = getpid();
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        char path[300], buf[512];
        snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
        FILE* f = fopen(path, "r");
        if (!f) continue;
        size_t got = fread(buf, 1, sizeof buf - 1, f);
        fclose(f);
        buf[got] = '\0';
        char* close = strrchr(buf, ')');  // the command name may hold blanks
        char state;
        int ppid;
        if (close && sscanf(close + 1, " %c %d", &state, &ppid) == 2 && ppid == self) ++n;
    }
    closedir(d);
    return n;
}

std::string PipelineTestTempDir(const std::string& name) {
    std::string dir = std::string(LUMO_TEST_TMP) + "/" + name + "." + std::to_string(getpid());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}
