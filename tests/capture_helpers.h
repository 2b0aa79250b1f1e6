// SPDX-License-Identifier: GPL-2.0-or-later
// capture_helpers.h - what the capture tests share: loopback traffic to
// 127.0.0.1 only, a capture block for "lo", reading a pcap file back with
// libpcap, descriptor counts and a scratch folder with its own debug log.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture.h"
#include "platform/text.h"
#include "shell/debuglog.h"
#include "tests/support/testdir.h"
#include "tests/support/udp.h"
#include "tests/support/wait.h"

#define SKIP_UNLESS_ROOT() \
    if (geteuid() != 0) GTEST_SKIP() << "live capture on lo needs root (cap_net_raw, cap_net_admin)"

inline CaptureBlock LoopbackBlock(const std::string& filter, int timeout = 10) {
    CaptureBlock block{};
    TextCopy(block.iface.name, sizeof block.iface.name, "lo");
    block.iface.netmask = htonl(0xFF000000u);
    block.iface.linkType = DLT_EN10MB;
    block.promiscuousMode = 1;
    block.limitBytes = 128;
    block.timeout = timeout;
    TextCopy(block.captureFilter, sizeof block.captureFilter, filter.c_str());
    return block;
}

inline std::string PortFilter(int port) { return "udp and port " + std::to_string(port); }

// Waits until the capture thread has opened its interface.
inline bool WaitCaptureOpen(int ms = 5000) {
    return TestWaitFor([] { return CaptureLinkType() != -1; }, ms);
}

inline int64_t MillisSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

inline int OpenDescriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

struct PcapRecord {
    uint32_t caplen, len;
    int64_t usec;  // capture time in microseconds
};

struct PcapFile {
    int result = 0;  // last pcap_next_ex result: -2 (end) when read without error
    std::string error;
    int linkType = -1, snapLength = -1;
    std::vector<PcapRecord> records;
};

inline PcapFile ReadPcap(const std::string& path) {
    PcapFile f;
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline(path.c_str(), errbuf);
    if (!p) {
        f.result = -1;
        f.error = errbuf;
        return f;
    }
    f.linkType = pcap_datalink(p);
    f.snapLength = pcap_snapshot(p);
    pcap_pkthdr* h;
    const u_char* data;
    while ((f.result = pcap_next_ex(p, &h, &data)) == 1)
        f.records.push_back({h->caplen, h->len, int64_t(h->ts.tv_sec) * 1000000 + h->ts.tv_usec});
    if (f.result == -1) f.error = pcap_geterr(p);
    pcap_close(p);
    return f;
}

inline std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) out += buf;
    if (p) pclose(p);
    return out;
}

// A fresh scratch folder; the test runs in it, so its "debuglog.txt" is its
// own. Logging is on while it lives.
struct ScratchFolder {
    std::string path = TestDirNew();
    TestCwd cwd{path};
    ScratchFolder() {
        setenv("LUMO_HOME", path.c_str(), 1);
        DebugLogEnabled.store(1);
    }
    ~ScratchFolder() { DebugLogEnabled.store(0); }
    std::string File(const std::string& name) const { return path + "/" + name; }
    std::string Log() const { return TestFileRead(File("debuglog.txt")); }
};
