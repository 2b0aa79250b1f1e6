// SPDX-License-Identifier: GPL-2.0-or-later
// headless_soak_bench.cpp - lumo --headless left running: 4 filters on lo,
// a steady 20000 UDP datagrams per second to 127.0.0.1 from this process,
// /metrics scraped every second. Prints its resident memory, open
// descriptors and threads after a warm-up and at the end (goal: flat), the
// packets the capture missed (goal: none), and checks that the last scrape
// counts every datagram sent. Needs root. SOAK_SECONDS sets the length
// (default 600), SOAK_RATE the rate.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/udp.h"

namespace {

struct Usage {
    long rssKiB = 0;
    int fds = 0;
    int threads = 0;
};

Usage UsageOf(pid_t pid) {
    Usage u;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) u.rssKiB = atol(line.c_str() + 6);
        if (line.rfind("Threads:", 0) == 0) u.threads = atoi(line.c_str() + 8);
    }
    if (DIR* d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (readdir(d)) ++u.fds;
        closedir(d);
        u.fds -= 2;  // . and ..
    }
    return u;
}

std::string Scrape(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const char request[] = "GET /metrics HTTP/1.0\r\n\r\n";
        if (write(fd, request, sizeof request - 1) > 0) {
            char buffer[16384];
            ssize_t n;
            while ((n = read(fd, buffer, sizeof buffer)) > 0) reply.append(buffer, static_cast<size_t>(n));
        }
    }
    close(fd);
    return reply;
}

double Metric(const std::string& text, const std::string& name) {
    size_t at = text.find("\n" + name + " ");
    return at == std::string::npos ? -1 : atof(text.c_str() + at + name.size() + 2);
}

}  // namespace

int main() {
    if (geteuid() != 0) {
        printf("headless_soak: skipped: capturing on lo needs root\n");
        return 0;
    }
    const int seconds = getenv("SOAK_SECONDS") ? atoi(getenv("SOAK_SECONDS")) : 600;
    const int rate = getenv("SOAK_RATE") ? atoi(getenv("SOAK_RATE")) : 20000;
    char home[] = "/tmp/lumo_soak.XXXXXX";
    if (!mkdtemp(home)) return 1;
    UdpSink sink;
    const std::string set = std::string(home) + "/set.fs";
    std::ofstream(set, std::ios::binary) << "\"udp\",bps,,\r\n\"udp.length > 100\",bps,,\r\n\"ip.ttl == 64\",pps,,"
                                            "\r\n\"frame.len < 200\",pps,,\r\n";
    const int port = 19000 + getpid() % 1000;
    const std::string filter = "udp dst port " + std::to_string(sink.port);
    pid_t lumo = fork();
    if (lumo == 0) {
        setenv("LUMO_HOME", home, 1);
        execl(LUMO_BIN_DIR "/lumo", "lumo", "--headless", "--interface", "lo", "--filter-set", set.c_str(),
              "--capture-filter", filter.c_str(), "--metrics", std::to_string(port).c_str(), "--csv", "/dev/null",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
    if (Scrape(port).empty()) {
        printf("headless_soak: lumo --headless did not start\n");
        kill(lumo, SIGKILL);
        waitpid(lumo, nullptr, 0);
        return 1;
    }
    // paced sending: a batch every millisecond
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(sink.port));
    const std::string data(64, 'x');
    long long sent = 0;
    auto start = std::chrono::steady_clock::now();
    auto nextScrape = start;
    Usage early, late;
    std::string scrape;
    for (;;) {
        auto now = std::chrono::steady_clock::now();
        double elapsed = std::chrono::duration<double>(now - start).count();
        if (elapsed >= seconds) break;
        long long due = static_cast<long long>(elapsed * rate);
        for (; sent < due; ++sent) sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
        if (now >= nextScrape) {
            scrape = Scrape(port);
            nextScrape += std::chrono::seconds(1);
            if (early.rssKiB == 0 && elapsed >= 10) early = UsageOf(lumo);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    close(fd);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    late = UsageOf(lumo);
    scrape = Scrape(port);
    kill(lumo, SIGTERM);
    int status = 0;
    waitpid(lumo, &status, 0);
    const double counted = Metric(scrape, "lumo_all_packets_total");
    const double kernel = Metric(scrape, "lumo_dropped_packets_total{where=\"kernel\"}");
    printf("headless soak: %d s at %d packets/s, 4 filters, scraped every second\n", seconds, rate);
    printf("  after 10 s: resident %ld KiB, %d descriptors, %d threads\n", early.rssKiB, early.fds, early.threads);
    printf("  at the end: resident %ld KiB, %d descriptors, %d threads (memory ratio %.3f)\n", late.rssKiB,
           late.fds, late.threads, early.rssKiB ? static_cast<double>(late.rssKiB) / early.rssKiB : 0.0);
    printf("  sent %lld, counted %.0f, dropped by the kernel %.0f, exit status %d\n", sent, counted, kernel,
           WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    std::string rm = std::string("rm -rf ") + home;
    int ignored = system(rm.c_str());
    (void)ignored;
    return counted == static_cast<double>(sent) && kernel == 0 ? 0 : 1;
}
