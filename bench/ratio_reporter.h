// SPDX-License-Identifier: GPL-2.0-or-later
// The console reporter every bench uses, keeping each run's time per
// iteration (seconds) so that main() can print ratios against a reference
// run of the same process.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    enum Clock { kWallTime, kCpuTime };
    explicit RatioReporter(Clock clock) : clock_(clock) {}

    std::map<std::string, double> seconds;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.iterations > 0 && !run.error_occurred) {
                const double total = clock_ == kCpuTime ? run.cpu_accumulated_time : run.real_accumulated_time;
                seconds[run.benchmark_name()] = total / static_cast<double>(run.iterations);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    Clock clock_;
};
