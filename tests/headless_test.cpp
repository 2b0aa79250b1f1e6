// SPDX-License-Identifier: GPL-2.0-or-later
// lumo --headless end to end on lo (root): a real Prometheus server scrapes
// its /metrics every second and counts exactly the datagrams sent; its CSV
// adds up to what tcpdump saw on the same interface, judged by tshark; and
// its start-up faults exit 1 with one line before anything is written.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "shell/headless.h"
#include "support/offline_support.h"
#include "support/testdir.h"
#include "support/udp.h"
#include "support/wait.h"

namespace {

const std::string kLumo = std::string(LUMO_BIN_DIR) + "/lumo";

// A free TCP port on 127.0.0.1 (bound, read, released).
int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

// The body of GET path from 127.0.0.1:port, "" when it cannot be had.
std::string HttpGet(int port, const std::string& path) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            char buffer[8192];
            ssize_t n;
            while ((n = read(fd, buffer, sizeof buffer)) > 0) reply.append(buffer, static_cast<size_t>(n));
        }
    }
    close(fd);
    size_t body = reply.find("\r\n\r\n");
    return body == std::string::npos ? "" : reply.substr(body + 4);
}

// The value of an instant query's only sample, or -1.
double PromQuery(int port, const std::string& query) {
    std::string q;
    for (char c : query) {
        if (isalnum(static_cast<unsigned char>(c)) || c == '_') {
            q += c;
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            q += hex;
        }
    }
    std::string body = HttpGet(port, "/api/v1/query?query=" + q);
    size_t at = body.find("\"value\":[");
    if (at == std::string::npos) return -1;
    at = body.find(",\"", at);
    if (at == std::string::npos) return -1;
    return atof(body.c_str() + at + 2);
}

pid_t Start(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        FILE* o = freopen(out.c_str(), "w", stdout);
        FILE* e = freopen(err.c_str(), "w", stderr);
        (void)o;
        (void)e;
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Waits for the child's end; its exit code, or -1 when it did not end in
// ms (it is then killed).
int Finish(pid_t pid, int ms) {
    int status = 0;
    bool ended = TestWaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, ms);
    if (!ended) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Sums of the CSV's column called name over its lines.
uint64_t ColumnSum(const std::string& csv, const std::string& name) {
    std::vector<std::string> header;
    std::vector<int64_t> starts;
    std::vector<OfflineCounts> rows;
    std::ifstream in(csv);
    std::string first;
    std::getline(in, first);
    size_t column = 0, at = 0;
    for (size_t i = 0; at <= first.size(); ++i) {
        size_t comma = first.find(',', at);
        std::string cell = first.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        if (cell == name) column = i;
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    uint64_t sum = 0;
    for (std::string line; std::getline(in, line);) {
        size_t from = 0;
        for (size_t i = 0; i < column; ++i) from = line.find(',', from) + 1;
        sum += strtoull(line.c_str() + from, nullptr, 10);
    }
    return sum;
}

class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = TestDirNew();
        setenv("LUMO_HOME", dir.c_str(), 1);
    }
    void TearDown() override { unsetenv("LUMO_HOME"); }
    std::string dir;
};

TEST_F(HeadlessTest, PrometheusCountsWhatWasSentAndTheCsvWhatTcpdumpSaw) {
    if (geteuid() != 0) GTEST_SKIP() << "capturing on lo needs root";
    if (access(kLumo.c_str(), X_OK) != 0) GTEST_SKIP() << "lumo is not built in this run (no Qt side)";
    ASSERT_EQ(access("/usr/bin/prometheus", X_OK), 0) << "the Debian package prometheus is missing";
    UdpSink sink;
    int tcpPort = FreePort();
    int metricsPort = FreePort();
    int promPort = FreePort();
    std::ofstream(dir + "/set.fs", std::ios::binary) << "\"udp\",packet,,\r\n\"tcp\",byte,,\r\n";
    std::string captureFilter = "udp dst port " + std::to_string(sink.port) + " or tcp port " + std::to_string(tcpPort);
    std::ofstream(dir + "/prometheus.yml") << "global:\n  scrape_interval: 1s\n"
                                              "scrape_configs:\n  - job_name: lumo\n    static_configs:\n"
                                              "      - targets: ['127.0.0.1:"
                                           << metricsPort << "']\n";

    pid_t dump = Start({"tcpdump", "-i", "lo", "-n", "-U", "-w", dir + "/seen.pcap", captureFilter},
                       dir + "/tcpdump.out", dir + "/tcpdump.err");
    pid_t lumo =
        Start({kLumo, "--headless", "--interface", "lo", "--filter-set", dir + "/set.fs", "--interval", "100000",
               "--capture-filter", captureFilter, "--csv", dir + "/live.csv", "--metrics", std::to_string(metricsPort)},
              dir + "/lumo.out", dir + "/lumo.err");
    pid_t prom =
        Start({"/usr/bin/prometheus", "--config.file=" + dir + "/prometheus.yml",
               "--storage.tsdb.path=" + dir + "/tsdb", "--web.listen-address=127.0.0.1:" + std::to_string(promPort)},
              dir + "/prom.out", dir + "/prom.err");
    // every side is up: Prometheus has scraped lumo at least once
    ASSERT_TRUE(TestWaitFor([&] { return PromQuery(promPort, "up{job=\"lumo\"}") == 1; }, 60000))
        << TestFileRead(dir + "/prom.err") << TestFileRead(dir + "/lumo.err");
    ASSERT_TRUE(
        TestWaitFor([&] { return TestFileRead(dir + "/tcpdump.err").find("listening") != std::string::npos; }, 20000));

    const int sent = 777;
    SendUdp(sink.port, sent, 200, 200);
    {
        // one TCP connection with some data, both directions
        int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(tcpPort));
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        listen(listener, 1);
        int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        int server = accept(listener, nullptr, nullptr);
        std::string data(30000, 'y');
        ASSERT_EQ(write(client, data.data(), data.size()), static_cast<ssize_t>(data.size()));
        char buffer[65536];
        size_t got = 0;
        while (got < data.size()) got += static_cast<size_t>(read(server, buffer, sizeof buffer));
        close(client);
        close(server);
        close(listener);
    }
    EXPECT_TRUE(TestWaitFor([&] { return PromQuery(promPort, "lumo_packets_total{filter=\"udp\"}") == sent; }, 30000))
        << PromQuery(promPort, "lumo_packets_total{filter=\"udp\"}");
    EXPECT_EQ(PromQuery(promPort, "lumo_judge_up"), 1);

    kill(lumo, SIGTERM);
    EXPECT_EQ(Finish(lumo, 20000), 0) << TestFileRead(dir + "/lumo.err");
    kill(dump, SIGINT);
    Finish(dump, 20000);
    kill(prom, SIGTERM);
    Finish(prom, 20000);

    // the CSV, line by line, adds up to what tcpdump saw, as tshark judges it
    std::string out;
    ASSERT_EQ(OfflineRunCommand("tshark -n -r " + OfflineShellQuote(dir + "/seen.pcap") + " 2>/dev/null | wc -l", &out),
              0);
    const uint64_t all = strtoull(out.c_str(), nullptr, 10);
    ASSERT_EQ(OfflineRunCommand("tshark -n -r " + OfflineShellQuote(dir + "/seen.pcap") +
                                    " -Y tcp -T fields -e frame.len 2>/dev/null | awk '{s+=$1} END {print s+0}'",
                                &out),
              0);
    const uint64_t tcpBytes = strtoull(out.c_str(), nullptr, 10);
    EXPECT_GT(tcpBytes, 30000u);
    EXPECT_EQ(ColumnSum(dir + "/live.csv", "all_packets"), all);
    EXPECT_EQ(ColumnSum(dir + "/live.csv", "udp packets"), static_cast<uint64_t>(sent));
    EXPECT_EQ(ColumnSum(dir + "/live.csv", "tcp bytes"), tcpBytes);
    EXPECT_EQ(ColumnSum(dir + "/live.csv", "dropped_packets"), 0u);
}

// Start-up faults: one line, exit 1, no CSV written.
TEST_F(HeadlessTest, StartUpFaultsExitOneBeforeWritingAnything) {
    if (access(kLumo.c_str(), X_OK) != 0) GTEST_SKIP() << "lumo is not built in this run (no Qt side)";
    std::ofstream(dir + "/empty.fs", std::ios::binary) << "";
    int busy = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(busy, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    listen(busy, 1);
    socklen_t len = sizeof a;
    getsockname(busy, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string port = std::to_string(ntohs(a.sin_port));
    struct Case {
        std::vector<std::string> args;
        std::string line;
        bool needsRoot;
    };
    const std::vector<Case> cases = {
        {{"--frobnicate"}, "unknown option --frobnicate", false},
        {{"--metrics", "70000"}, "--metrics needs [ADDRESS:]PORT", false},
        {{"--interface", "no-such-if0"}, "unknown interface no-such-if0", false},
        {{"--interface", "lo", "--filter-set", dir + "/missing.fs"}, "cannot open the filter set", false},
        {{"--interface", "lo", "--filter-set", dir + "/empty.fs"}, "holds no filter", false},
        {{"--interface", "lo", "--capture-filter", "port nonsense"}, "does not compile", true},
        {{"--interface", "lo", "--metrics", port}, "cannot serve metrics on 127.0.0.1:" + port, true},
        {{"--interface", "lo", "--metrics", "192.0.2.1:" + port}, "cannot serve metrics on 192.0.2.1", true},
    };
    for (const Case& c : cases) {
        if (c.needsRoot && geteuid() != 0) continue;
        std::vector<std::string> args = {kLumo, "--headless", "--csv", dir + "/out.csv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::filesystem::remove(dir + "/out.csv");
        pid_t pid = Start(args, dir + "/o", dir + "/e");
        EXPECT_EQ(Finish(pid, 20000), 1) << c.line;
        std::string err = TestFileRead(dir + "/e");
        EXPECT_NE(err.find(c.line), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(dir + "/out.csv")) << c.line;
    }
    close(busy);
    if (geteuid() == 0) {
        // without the right to capture it says how to grant it
        std::string copy = dir + "/lumo";
        std::filesystem::copy_file(kLumo, copy);
        pid_t pid = Start({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all", copy,
                           "--headless", "--interface", "lo"},
                          dir + "/o", dir + "/e");
        EXPECT_EQ(Finish(pid, 20000), 1);
        EXPECT_NE(TestFileRead(dir + "/e").find("setcap cap_net_raw,cap_net_admin+eip"), std::string::npos)
            << TestFileRead(dir + "/e");
    }
}

}  // namespace
