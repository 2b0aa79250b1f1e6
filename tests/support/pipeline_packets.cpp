// SPDX-License-Identifier: GPL-2.0-or-later
// pipeline_packets.cpp - test packets, pcap files, tshark reference, process
// bookkeeping for the pipeline tests.
#include "pipeline_packets.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    v[at] = static_cast<uint8_t>(x >> 8);
    v[at + 1] = static_cast<uint8_t>(x);
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
    for (int i = 0; i < 4; ++i) {
        f[26 + i] = static_cast<uint8_t>(src >> (24 - 8 * i));
        f[30 + i] = static_cast<uint8_t>(dst >> (24 - 8 * i));
    }
    uint32_t sum = 0;
    for (int i = 14; i < 34; i += 2) sum += (f[i] << 8) | f[i + 1];
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    Put16(f, 24, static_cast<uint16_t>(~sum));
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
