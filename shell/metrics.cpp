// SPDX-License-Identifier: GPL-2.0-or-later
// metrics.cpp - the collector that reads the counters at each scrape, and
// the exposer that serves it.
#include "shell/metrics.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <prometheus/collectable.h>
#include <prometheus/exposer.h>
#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>

#include "pipeline/packetring.h"
#include "pipeline/rawsharkmngr.h"
#include "shell/debuglog.h"

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

class CounterCollector : public prometheus::Collectable {
public:
    CounterCollector(const FilterEntry* entries, int count) {
        for (int i = 0; i < count && i < FilterSetMax; ++i) filters_.push_back(entries[i].filterText);
    }

    std::vector<MetricFamily> Collect() const override {
        MetricFamily packets{"lumo_packets_total",
                             "Packets each filter matched, counted as its verdict arrived.",
                             MetricType::Counter,
                             {}};
        MetricFamily bytes{
            "lumo_bytes_total", "Wire bytes of the packets each filter matched.", MetricType::Counter, {}};
        MetricFamily errors{
            "lumo_filter_error", "1 for a filter its judge refused (it counts nothing).", MetricType::Gauge, {}};
        for (size_t i = 0; i < filters_.size(); ++i) {
            uint64_t p = 0, b = 0;
            RawsharkMngrTotals(static_cast<int>(i), &p, &b);
            std::vector<ClientMetric::Label> labels = {{"filter", filters_[i]}, {"index", std::to_string(i)}};
            packets.metric.push_back(Counter(labels, static_cast<double>(p)));
            bytes.metric.push_back(Counter(labels, static_cast<double>(b)));
            char message[kRawsharkMessageSize];
            RawsharkMngrLastMessage(static_cast<int>(i), message);
            int refused = strncmp(message, "lumo_judge: filter ", 19) == 0 || strncmp(message, "rawshark:", 9) == 0;
            errors.metric.push_back(Gauge(labels, refused));
        }
        const SampleCounter* total = TotalCounterGet();
        uint64_t kernel = 0, iface = 0;
        PacketRingDrops(&kernel, &iface);
        return {
            packets,
            bytes,
            {"lumo_all_packets_total",
             "Every packet captured.",
             MetricType::Counter,
             {Counter({}, static_cast<double>(total->matchedPackets.load(std::memory_order_relaxed)))}},
            {"lumo_all_bytes_total",
             "Wire bytes of every packet captured.",
             MetricType::Counter,
             {Counter({}, static_cast<double>(total->matchedBytes.load(std::memory_order_relaxed)))}},
            {"lumo_dropped_packets_total",
             "Packets the capture missed: the kernel's buffer was full, or the interface dropped them.",
             MetricType::Counter,
             {Counter({{"where", "kernel"}}, static_cast<double>(kernel)),
              Counter({{"where", "interface"}}, static_cast<double>(iface))}},
            {"lumo_judge_up",
             "1 while every judging process runs.",
             MetricType::Gauge,
             {Gauge({}, RawsharkMngrJudgesRunning())}},
            errors,
        };
    }

private:
    static ClientMetric Counter(std::vector<ClientMetric::Label> labels, double value) {
        ClientMetric m;
        m.label = std::move(labels);
        m.counter.value = value;
        return m;
    }
    static ClientMetric Gauge(std::vector<ClientMetric::Label> labels, double value) {
        ClientMetric m;
        m.label = std::move(labels);
        m.gauge.value = value;
        return m;
    }

    std::vector<std::string> filters_;
};

// Why address:port cannot be listened on, as the system says it (the
// exposer only says that it could not).
std::string BindReason(const char* address, int port) {
    std::string host = address;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int r = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (r != 0) return std::string("not an address: ") + gai_strerror(r);
    std::string reason = "the exposer did not start";
    int fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, found->ai_addr, found->ai_addrlen) != 0) reason = strerror(errno);
    if (fd >= 0) close(fd);
    freeaddrinfo(found);
    return reason;
}

struct MetricsRecord {
    std::shared_ptr<CounterCollector> collector;
    std::unique_ptr<prometheus::Exposer> exposer;
};

MetricsRecord Metrics;

}  // namespace

int MetricsStart(const char* address, int port, const FilterEntry* entries, int count, char* err) {
    MetricsStop();
    Metrics.collector = std::make_shared<CounterCollector>(entries, count);
    char listen[300];
    snprintf(listen, sizeof listen, "%s:%d", address && address[0] ? address : "127.0.0.1", port);
    try {
        // A client that connects and never sends or reads holds one thread
        // for the time-out at most; the others go on serving.
        Metrics.exposer = std::make_unique<prometheus::Exposer>(
            std::vector<std::string>{"listening_ports", listen, "num_threads", "4", "request_timeout_ms", "10000"});
        Metrics.exposer->RegisterCollectable(Metrics.collector);
    } catch (const std::exception& e) {
        const std::string reason = BindReason(address && address[0] ? address : "127.0.0.1", port);
        ErrorSet(err, "cannot serve metrics on %s: %s", listen, reason.c_str());
        DEBUG_LOG("MetricsStart() err,%s,%s", listen, e.what());
        Metrics.exposer.reset();
        Metrics.collector.reset();
        return 0;
    }
    DEBUG_LOG("MetricsStart() info,%s", listen);
    return 1;
}

void MetricsStop() {
    Metrics.exposer.reset();  // its threads end before the collector goes
    Metrics.collector.reset();
}

int MetricsText(char* out, int size) {
    if (!Metrics.collector || size <= 0) return 0;
    std::string text = prometheus::TextSerializer().Serialize(Metrics.collector->Collect());
    snprintf(out, static_cast<size_t>(size), "%s", text.c_str());
    return 1;
}
