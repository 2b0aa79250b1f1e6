// SPDX-License-Identifier: GPL-2.0-or-later
// dfilter_bench.cpp - cost of the display-filter check as the dialog sees it.
//
//   DfilterCheck/dravik     one check against the running real checker
//   DfilterCheck/sed        the same exchange with `sed -u` as the checker:
//                           the bare cost of two pipe hops and a wake-up
//   StartUp/dravik          start the checker, first answer, stop
//   StartUp/tshark          reference: tshark judging one filter on an empty
//                           capture (the way a filter is checked without us)
//
// After the table it prints the ratios that matter: a check against the
// dialog's 20 ms paint tick and against the sed exchange, and the checker's
// start-up against tshark's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "filterset/dfilter.h"
#include "pipeline/childconsole.h"
#include "platform/platform.h"
#include "bench/ratio_reporter.h"

namespace {

std::vector<std::string> Scratch;  // removed when the run ends

std::string ScratchFolder() {
    char name[] = "/tmp/dfilter_bench.XXXXXX";
    if (!mkdtemp(name)) return "/tmp";
    Scratch.push_back(name);
    return name;
}

const std::string& SedFolder() {
    static const std::string folder = [] {
        std::string dir = ScratchFolder();
        std::ofstream(dir + "/dravik") << "#!/bin/sh\nexec sed -u 's/.*/1=\"&\"/'\n";
        chmod((dir + "/dravik").c_str(), 0755);
        return dir;
    }();
    return folder;
}

const std::string& EmptyCapture() {
    static const std::string path = [] {
        std::string file = ScratchFolder() + "/empty.pcap";
        const unsigned char header[24] = {0xd4, 0xc3, 0xb2, 0xa1, 2,    0,    4, 0, 0, 0, 0, 0,
                                          0,    0,    0,    0,    0xff, 0xff, 0, 0, 1, 0, 0, 0};
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(header), sizeof header);
        return file;
    }();
    return path;
}

void CheckLoop(benchmark::State& state, const char* folder) {
    PlatformSetProgramFolder(folder);
    DfilterStartChildProcess(nullptr);
    int verdict = 0;
    // The first answer also waits for the checker's start-up.
    if (!DfilterDravik("tcp", &verdict)) state.SkipWithError("no checker answer");
    const char* texts[] = {"tcp.port == 80", "ip.addr == 10.0.0.1 and udp", "tcp.bogus", "frame.len > 60"};
    size_t i = 0;
    for (auto _ : state) {
        if (!DfilterDravik(texts[i++ % 4], &verdict)) {
            state.SkipWithError("check failed");
            break;
        }
    }
    DfilterStopChildProcess();
    PlatformSetProgramFolder(nullptr);
}

void BM_DfilterCheckDravik(benchmark::State& state) { CheckLoop(state, LUMO_BIN_DIR); }
void BM_DfilterCheckSed(benchmark::State& state) { CheckLoop(state, SedFolder().c_str()); }

void BM_StartUpDravik(benchmark::State& state) {
    PlatformSetProgramFolder(LUMO_BIN_DIR);
    for (auto _ : state) {
        DfilterStartChildProcess(nullptr);
        int verdict = 0;
        if (!DfilterDravik("tcp", &verdict)) state.SkipWithError("no checker answer");
        DfilterStopChildProcess();
    }
    PlatformSetProgramFolder(nullptr);
}

void BM_StartUpTshark(benchmark::State& state) {
    const char* argv[] = {"tshark", "-r", EmptyCapture().c_str(), "-Y", "tcp", nullptr};
    for (auto _ : state) {
        ChildConsole console;
        if (!ChildConsoleNewArgv("tshark", argv, &console, nullptr)) {
            state.SkipWithError("tshark not startable");
            break;
        }
        char buffer[4096];
        while (read(console.output, buffer, sizeof buffer) > 0) {
        }
        while (!ChildConsoleExited(&console)) usleep(1000);
        ChildConsoleRelease(&console);
    }
}

BENCHMARK(BM_DfilterCheckDravik)->Name("DfilterCheck/dravik")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DfilterCheckSed)->Name("DfilterCheck/sed")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StartUpDravik)->Name("StartUp/dravik")->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_StartUpTshark)->Name("StartUp/tshark")->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(RatioReporter::kWallTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& s = reporter.seconds;
    auto ratio = [&](const char* what, const char* a, const char* b, double bSeconds) {
        if (s.count(a) && (b == nullptr || s.count(b))) printf("%-44s %8.4f\n", what, s[a] / (b ? s[b] : bSeconds));
    };
    printf("\nratios\n");
    ratio("check (dravik) / 20 ms paint tick", "DfilterCheck/dravik", nullptr, 0.020);
    ratio("check (dravik) / check (sed stand-in)", "DfilterCheck/dravik", "DfilterCheck/sed", 0);
    ratio("start-up (dravik) / filter check (tshark)", "StartUp/dravik/iterations:10", "StartUp/tshark/iterations:5",
          0);
    ratio("start-up (dravik) / 20 ms paint tick", "StartUp/dravik/iterations:10", nullptr, 0.020);
    for (const std::string& folder : Scratch) std::filesystem::remove_all(folder);
    return 0;
}
