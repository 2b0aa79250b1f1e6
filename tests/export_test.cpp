// SPDX-License-Identifier: GPL-2.0-or-later
// The export mode of lumo_offline: its command line, CSV counts against
// tshark's own per-interval statistics on the same files and filters, and
// its failures.
#include "offline/export.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tools/capgen/capgen.h"
#include "pipeline/packetstore.h"
#include "pipeline/rawsharkmngr.h"
#include "platform/calc.h"
#include "platform/platform.h"
#include "tests/support/testdir.h"
#include "tests/support/offline_support.h"
#include "tests/support/pipeline_packets.h"

namespace {

struct Argv {
    explicit Argv(std::vector<std::string> a) : args(std::move(a)) {
        ptrs.push_back(const_cast<char*>("lumo_offline"));
        for (std::string& s : args) ptrs.push_back(s.data());
    }
    int argc() { return static_cast<int>(ptrs.size()); }
    char** argv() { return ptrs.data(); }
    std::vector<std::string> args;
    std::vector<char*> ptrs;
};

int Parse(std::vector<std::string> a, OfflineArgs* out, std::string* error) {
    Argv v(std::move(a));
    char text[kErrorLen];
    int ok = OfflineArgsParse(v.argc(), v.argv(), out, text);
    *error = text;
    return ok;
}

// Runs the export of a command line that parses; its exit code, with what it
// wrote on standard error in *err when err is given (-1 when the line does
// not parse).
int Export(std::vector<std::string> a, std::string* err = nullptr) {
    OfflineArgs args;
    std::string error;
    if (!Parse(std::move(a), &args, &error)) {
        ADD_FAILURE() << error;
        return -1;
    }
    if (!err) return OfflineExportRun(&args, nullptr);
    testing::internal::CaptureStderr();
    int code = OfflineExportRun(&args, nullptr);
    *err = testing::internal::GetCapturedStderr();
    return code;
}

TEST(OfflineArgs, AcceptsTheDocumentedForms) {
    OfflineArgs a;
    std::string e;
    ASSERT_EQ(Parse({}, &a, &e), 1);
    EXPECT_FALSE(OfflineArgsExporting(&a));
    ASSERT_EQ(Parse({"cap.pcap"}, &a, &e), 1);
    EXPECT_STREQ(a.capture, "cap.pcap");
    EXPECT_FALSE(OfflineArgsExporting(&a));
    ASSERT_EQ(Parse({"--filter-set", "f.fs", "--interval", "1000", "--export-csv", "o.csv", "--export-png", "o.png",
                     "--size", "640x200", "cap.pcapng"},
                    &a, &e),
              1)
        << e;
    EXPECT_TRUE(OfflineArgsExporting(&a));
    EXPECT_STREQ(a.filterSet, "f.fs");
    EXPECT_EQ(a.interval, 1000);
    EXPECT_STREQ(a.csvPath, "o.csv");
    EXPECT_STREQ(a.pngPath, "o.png");
    EXPECT_EQ(a.pngWidth, 640);
    EXPECT_EQ(a.pngHeight, 200);
    ASSERT_EQ(Parse({"--export-png", "o.png", "c.pcap"}, &a, &e), 1);
    EXPECT_EQ(a.pngWidth, 1280);
    EXPECT_EQ(a.pngHeight, 480);
    EXPECT_EQ(a.onePass, -1);  // the settings decide
    ASSERT_EQ(Parse({"--per-filter", "c.pcap"}, &a, &e), 1);
    EXPECT_EQ(a.onePass, 0);
    ASSERT_EQ(Parse({"--one-pass", "--one-pass", "c.pcap"}, &a, &e), 1);
    EXPECT_EQ(a.onePass, 1);
    EXPECT_EQ(a.judges, -1);  // the settings decide
    ASSERT_EQ(Parse({"--judges", "0", "c.pcap"}, &a, &e), 1);
    EXPECT_EQ(a.judges, 0);
    ASSERT_EQ(Parse({"--judges", "16", "c.pcap"}, &a, &e), 1);
    EXPECT_EQ(a.judges, 16);
    ASSERT_EQ(Parse({"--help"}, &a, &e), 1);
    EXPECT_EQ(a.help, 1);
    ASSERT_EQ(Parse({"--version"}, &a, &e), 1);
    EXPECT_EQ(a.version, 1);
}

TEST(OfflineArgs, RefusesBadInputWithAReason) {
    const std::vector<std::vector<std::string>> bad = {
        {"--interval", "0", "--export-csv", "o.csv", "c.pcap"},
        {"--interval", "-5", "--export-csv", "o.csv", "c.pcap"},
        {"--interval", "12abc", "--export-csv", "o.csv", "c.pcap"},
        {"--interval", "1000", "c.pcap"},  // no CSV to apply it to
        {"--export-png", "o.png", "--size", "640", "c.pcap"},
        {"--export-png", "o.png", "--size", "0x10", "c.pcap"},
        {"--export-png", "o.png", "--size", "99999x10", "c.pcap"},
        {"--size", "640x480", "c.pcap"},
        {"--export-csv", "o.csv"},  // no capture
        {"--export-csv"},
        {"--frobnicate", "c.pcap"},
        {"a.pcap", "b.pcap"},
        {"--one-pass", "--per-filter", "c.pcap"},
        {"--judges", "17", "c.pcap"},
        {"--judges", "-1", "c.pcap"},
        {"--judges", "two", "c.pcap"},
    };
    for (const auto& args : bad) {
        OfflineArgs a;
        std::string e;
        EXPECT_EQ(Parse(args, &a, &e), 0) << args[0];
        EXPECT_FALSE(e.empty()) << args[0];
    }
}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = OfflineScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        home = dir + "/home";
        std::filesystem::create_directories(home);
        setenv("LUMO_HOME", home.c_str(), 1);
    }
    void TearDown() override { PacketStoreReset(); }

    std::string WriteFilterSet(const std::vector<std::string>& filters, const char* name = "set.fs") {
        std::string path = dir + "/" + name;
        std::ofstream out(path, std::ios::binary);
        for (const std::string& f : filters) out << "\"" << f << "\",bps,,\r\n";
        return path;
    }

    std::string dir, home;
};

void ExpectSameCounts(const std::vector<OfflineCounts>& ours, const std::vector<OfflineCounts>& ref) {
    ASSERT_EQ(ours.size(), ref.size());
    for (size_t r = 0; r < ours.size(); r++) {
        ASSERT_EQ(ours[r].packets, ref[r].packets) << "row " << r;
        ASSERT_EQ(ours[r].bytes, ref[r].bytes) << "row " << r;
    }
}

// Both ways of judging (one lumo_judge, one rawshark per filter) give the
// same CSV, and it equals tshark's.
TEST_F(ExportTest, CsvCountsEqualTsharkIoStatInBothModes) {
    // Mixed TCP and UDP, a pause of 5 s, frames above 65535 bytes; several
    // formats and intervals. An empty filter counts everything.
    const std::vector<std::string> filters = {"tcp", "", "udp", "tcp.port == 80", "frame.len > 1000"};
    std::string fs = WriteFilterSet(filters);
    PlatformSetProgramFolder(LUMO_BIN_DIR);  // where lumo_judge is built
    ASSERT_EQ(RawsharkMngrJudgeAvailable(), 1);
    struct Capture {
        int format;
        int64_t packets;
        uint32_t seed;
    };
    const Capture captures[] = {{CapGenPcap, 12000, 7}, {CapGenPcapng, 6000, 8}, {CapGenPcapNano, 6000, 9}};
    for (const Capture& c : captures) {
        SCOPED_TRACE(c.format);
        CapGenMixedParams p;
        CapGenMixedDefaults(&p);
        p.packets = c.packets;
        p.seed = c.seed;
        p.meanGapNs = 700000;
        p.gapAt = c.packets / 2;
        p.gapNs = 5000000000LL;
        p.bigEvery = 250;
        std::string file = dir + "/cap" + std::to_string(c.format);
        ASSERT_EQ(CapGenMixed(file.c_str(), c.format, &p), 1);

        std::vector<std::string> perFilterCsv;
        for (int onePass : {0, 1}) {
            SCOPED_TRACE(onePass);
            OfflineArgs args{};
            args.onePass = onePass;
            snprintf(args.filterSet, sizeof args.filterSet, "%s", fs.c_str());
            snprintf(args.capture, sizeof args.capture, "%s", file.c_str());
            auto ex = std::make_unique<OfflineExport>();
            char error[kErrorLen];
            ASSERT_EQ(OfflineExportRead(ex.get(), &args, error), 1) << error;
            ASSERT_EQ(ex->count, 5);
            size_t run = 0;
            for (int64_t interval : {10000LL, 50000LL, 1000000LL}) {
                SCOPED_TRACE(interval);
                std::string csv = dir + "/out.csv";
                FILE* out = fopen(csv.c_str(), "wb");
                ASSERT_EQ(OfflineExportWriteCsv(ex.get(), out, interval, error), 1) << error;
                fclose(out);
                std::string text = TestFileRead(csv);
                if (onePass) {
                    ASSERT_EQ(text, perFilterCsv[run++]);
                    continue;
                }
                perFilterCsv.push_back(text);
                std::vector<std::string> header;
                std::vector<int64_t> starts;
                std::vector<OfflineCounts> ours, ref;
                ASSERT_EQ(OfflineReadCsv(csv, &header, &starts, &ours), 1);
                ASSERT_EQ(header.size(), 3u + 2 * filters.size());
                EXPECT_EQ(header[0], "interval_start_us");
                EXPECT_EQ(header[3], "tcp packets");
                EXPECT_EQ(header[6], " bytes");
                EXPECT_EQ(header[10], "tcp.port == 80 bytes");
                for (size_t r = 0; r < starts.size(); r++) ASSERT_EQ(starts[r], static_cast<int64_t>(r) * interval);
                ASSERT_EQ(OfflineTsharkIoStat(file, interval, filters, &ref), 1);
                ExpectSameCounts(ours, ref);
            }
            PacketStoreReset();
        }
    }
    PlatformSetProgramFolder(nullptr);
}

// A value of the CSV or of tshark in the field's own terms: seconds with
// nine digits as nanoseconds (exactly), other numbers as they are.
long double CalcNumber(const std::string& text, bool time) {
    if (!time) return strtold(text.c_str(), nullptr);
    bool negative = !text.empty() && text[0] == '-';
    size_t dot = text.find('.');
    long double whole = strtold(text.substr(negative, dot - negative).c_str(), nullptr);
    std::string digits = dot == std::string::npos ? "" : text.substr(dot + 1);
    digits = (digits + "000000000").substr(0, 9);
    long double ns = whole * 1e9L + strtold(digits.c_str(), nullptr);
    return negative ? -ns : ns;
}

// Calculations on fields, exported, against tshark's field output
// (-E occurrence=a) aggregated per interval by each frame's own time: an
// integer field, a time field, a field repeated in every packet, and count
// of a field that is no number.
// Several judges, each reading the file and judging its conversations,
// export exactly what one judge exports, and it equals tshark: TCP
// analysis, DNS matching, reassembled fragments, frame numbers and times,
// a sum of a field; a set with tcp.stream is judged by one.
TEST_F(ExportTest, SeveralJudgesExportWhatOneJudgeAndTsharkGive) {
    std::string file = dir + "/conversations.pcap";
    ASSERT_TRUE(PipelineTestWritePcap(file, PipelineTestMakeConversations(400, 47)));
    const std::vector<std::string> filters = {"tcp.analysis.retransmission",
                                              "tcp.analysis.duplicate_ack",
                                              "dns.response_to",
                                              "dns.time > 0.001",
                                              "udp.port == 7000",
                                              "frame.number > 1500 && tcp",
                                              "frame.time_relative >= 2",
                                              "tcp.stream == 3"};
    const std::vector<std::string> split(filters.begin(), filters.end() - 1);
    std::string fs = dir + "/calc.fs";
    {
        std::ofstream out(fs, std::ios::binary);
        for (const std::string& f : split) out << "\"" << f << "\",bps,,\r\n";
        out << "\"tcp\",sum(tcp.len),,\r\n";
    }
    std::string counts = WriteFilterSet(split, "split.fs"), all = WriteFilterSet(filters, "all.fs");
    PlatformSetProgramFolder(LUMO_BIN_DIR);
    std::string one;
    for (int judges : {1, 2, 3}) {
        SCOPED_TRACE(judges);
        for (const std::string& set : {fs, counts, all}) {
            SCOPED_TRACE(set);
            std::string csv = dir + "/j.csv";
            ASSERT_EQ(Export({"--one-pass", "--judges", std::to_string(judges), "--filter-set", set, "--interval",
                              "50000", "--export-csv", csv, file}),
                      0);
            if (set == fs) {
                if (judges == 1) one = TestFileRead(csv);
                ASSERT_EQ(TestFileRead(csv), one);
                continue;
            }
            std::vector<std::string> header;
            std::vector<int64_t> starts;
            std::vector<OfflineCounts> ours, ref;
            ASSERT_EQ(OfflineReadCsv(csv, &header, &starts, &ours), 1);
            ASSERT_EQ(OfflineTsharkIoStat(file, 50000, set == all ? filters : split, &ref), 1);
            ExpectSameCounts(ours, ref);
        }
    }
    PlatformSetProgramFolder(nullptr);
}

TEST_F(ExportTest, CalculationColumnsEqualTsharkFieldsPerInterval) {
    CapGenMixedParams p;
    CapGenMixedDefaults(&p);
    p.packets = 4000;
    p.seed = 31;
    p.meanGapNs = 900000;
    std::string file = dir + "/calc.pcapng";
    ASSERT_EQ(CapGenMixed(file.c_str(), CapGenPcapng, &p), 1);
    struct Calc {
        const char* filter;
        const char* calc;
        const char* field;
        bool time;
    };
    const Calc calcs[] = {
        {"tcp", "sum", "tcp.len", false},
        {"tcp", "max", "tcp.len", false},
        {"", "avg", "frame.time_delta", true},
        {"udp", "min", "frame.time_delta", true},
        {"tcp", "min", "tcp.port", false},
        {"", "count", "ip.addr", false},
        {"frame.len > 1000", "avg", "ip.len", false},
    };
    std::string fs = dir + "/calc.fs";
    {
        std::ofstream out(fs, std::ios::binary);
        for (const Calc& c : calcs) out << "\"" << c.filter << "\"," << c.calc << "(" << c.field << "),,\r\n";
    }
    PlatformSetProgramFolder(LUMO_BIN_DIR);
    const int64_t interval = 200000;
    std::string csv = dir + "/calc.csv";
    ASSERT_EQ(
        Export({"--one-pass", "--filter-set", fs, "--interval", std::to_string(interval), "--export-csv", csv, file}),
        0);
    PlatformSetProgramFolder(nullptr);

    std::ifstream in(csv);
    std::vector<std::vector<std::string>> lines;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        size_t at = 0;
        for (;;) {
            size_t comma = line.find(',', at);
            cells.push_back(line.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
            if (comma == std::string::npos) break;
            at = comma + 1;
        }
        lines.push_back(cells);
    }
    ASSERT_GT(lines.size(), 10u);
    std::string base;
    ASSERT_EQ(
        OfflineRunCommand("tshark -n -r " + OfflineShellQuote(file) + " -c 1 -T fields -e frame.time_epoch", &base), 0);
    const long double t0 = CalcNumber(base.substr(0, base.find('\n')), true);
    for (size_t c = 0; c < sizeof calcs / sizeof calcs[0]; ++c) {
        const Calc& k = calcs[c];
        SCOPED_TRACE(std::string(k.calc) + "(" + k.field + ") of " + k.filter);
        const size_t column = 3 + 3 * c + 2;  // after all traffic, each filter: packets, bytes, value
        std::string heading = std::string(k.filter) + " " + k.calc + "(" + k.field + ")";
        if (!k.filter[0]) heading = "\"" + heading + "\"";  // a blank at the start is quoted
        ASSERT_EQ(lines[0][column], heading);
        std::string out;
        std::string cmd = "tshark -n -r " + OfflineShellQuote(file);
        if (k.filter[0]) cmd += " -Y " + OfflineShellQuote(k.filter);
        cmd += std::string(" -T fields -E occurrence=a -e frame.time_epoch -e ") + k.field + " 2>/dev/null";
        ASSERT_EQ(OfflineRunCommand(cmd, &out), 0);
        std::map<int64_t, CalcCell> bins;
        std::istringstream text(out);
        for (std::string line; std::getline(text, line);) {
            size_t tab = line.find('\t');
            if (tab == std::string::npos || tab + 1 >= line.size()) continue;
            long double at = CalcNumber(line.substr(0, tab), true) - t0;
            int64_t bin = static_cast<int64_t>(floorl(at / (interval * 1000.0L)));
            std::istringstream values(line.substr(tab + 1));
            for (std::string value; std::getline(values, value, ',');) {
                CalcCell one{1, 0, 0, 0};
                long double x = k.time || strcmp(k.calc, "count") ? CalcNumber(value, k.time) : 0;
                one.sum = one.min = one.max = x;
                CalcCellAdd(&bins[bin], &one);
            }
        }
        for (size_t r = 1; r < lines.size(); ++r) {
            const std::string& got = lines[r][column];
            const int64_t bin = static_cast<int64_t>(r - 1);
            const CalcCell& want = bins[bin];
            int32_t calc = !strcmp(k.calc, "sum")   ? CalcSum
                           : !strcmp(k.calc, "min") ? CalcMin
                           : !strcmp(k.calc, "max") ? CalcMax
                           : !strcmp(k.calc, "avg") ? CalcAvg
                                                    : CalcCount;
            long double expect;
            if (!CalcValue(&want, calc, &expect)) {
                EXPECT_EQ(got, "") << "interval " << r;
                continue;
            }
            ASSERT_FALSE(got.empty()) << "interval " << r;
            long double have = CalcNumber(got, k.time && calc != CalcCount);
            if (calc == CalcAvg) {
                EXPECT_NEAR(static_cast<double>(have), static_cast<double>(expect),
                            1e-9 * fabs(static_cast<double>(expect)) + 1)
                    << "interval " << r;
            } else {
                EXPECT_EQ(have, expect) << "interval " << r << ": " << got;
            }
        }
    }
}

TEST_F(ExportTest, OutOfOrderStampsAreBinnedByTheirOwnTime) {
    const std::vector<std::string> filters = {"udp", "tcp"};
    CapGenMixedParams p;
    CapGenMixedDefaults(&p);
    p.packets = 3000;
    p.outOfOrderEvery = 7;
    std::string file = dir + "/ooo.pcap";
    ASSERT_EQ(CapGenMixed(file.c_str(), CapGenPcap, &p), 1);
    ASSERT_EQ(
        Export({"--filter-set", WriteFilterSet(filters), "--interval", "100000", "--export-csv", dir + "/o.csv", file}),
        0);
    std::vector<std::string> header;
    std::vector<int64_t> starts;
    std::vector<OfflineCounts> ours, ref;
    ASSERT_EQ(OfflineReadCsv(dir + "/o.csv", &header, &starts, &ours), 1);
    ASSERT_EQ(OfflineTsharkBinned(file, 100000, filters, &ref), 1);
    ExpectSameCounts(ours, ref);
}

// In one pass the judge reads the file through Wireshark's own file
// library: a pcapng of several interfaces with different link types
// (Ethernet, raw IP) and snap lengths, nanosecond and microsecond stamps,
// packets stamped before the first one, two sections, the gzip form, and
// the same cut short in its last record. Every frame counts in the interval
// of its own time, as tshark reads it, with one judge and with several.
TEST_F(ExportTest, OnePassReadsWhatTsharkReadsAndBinsEachFrameByItsOwnTime) {
    const int64_t t0 = 1700000000LL * 1000000000;
    CapGenMixedParams p;
    CapGenMixedDefaults(&p);
    p.hosts = 6;
    p.packets = 2500;
    p.seed = 21;
    p.meanGapNs = 2000000;
    std::string eth = dir + "/eth.pcapng";
    ASSERT_EQ(CapGenMixed(eth.c_str(), CapGenPcapng, &p), 1);
    p.seed = 22;
    p.startNs = t0 + 777;
    std::string nano = dir + "/nano.pcap";
    ASSERT_EQ(CapGenMixed(nano.c_str(), CapGenPcapNano, &p), 1);
    // raw IPv4 cut to 100 bytes, first stamped after the others start and
    // later ones before the first packet of the file they end up in
    std::string raw = dir + "/raw.pcap";
    CapGenWriter w;
    ASSERT_EQ(CapGenOpen(&w, raw.c_str(), CapGenPcapNano, 101, 100), 1);
    uint8_t frame[2000];
    for (int k = 0; k < 400; ++k) {
        uint32_t wire = 60 + static_cast<uint32_t>(k * 37 % 1400);
        CapGenFrame(frame, sizeof frame, k % 3 ? CapGenUdp : CapGenTcp, 1000, 80, static_cast<uint32_t>(k), wire, 0);
        int64_t when = t0 + 3000000000LL - (k % 5 == 1 ? 9000000000LL : 0) + k * 7000123LL;
        uint32_t caplen = wire - 14 < 100 ? wire - 14 : 100;
        ASSERT_EQ(CapGenWrite(&w, when, frame + 14, caplen, wire - 14), 1);
    }
    ASSERT_EQ(CapGenClose(&w), 1);
    std::string merged = dir + "/merged.pcapng";
    std::string out;
    // -a keeps each file's order: records out of time order, some before the first
    ASSERT_EQ(OfflineRunCommand("mergecap -a -w " + OfflineShellQuote(merged) + " " + OfflineShellQuote(raw) + " " +
                                    OfflineShellQuote(eth) + " " + OfflineShellQuote(nano),
                                &out),
              0);
    std::string sections = dir + "/sections.pcapng";
    ASSERT_EQ(OfflineRunCommand("cat " + OfflineShellQuote(merged) + " " + OfflineShellQuote(eth) + " > " +
                                    OfflineShellQuote(sections) + " && gzip -k " + OfflineShellQuote(merged),
                                &out),
              0);
    std::string cut = dir + "/cut.pcapng";
    std::filesystem::copy_file(sections, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) - 10);

    const std::vector<std::string> filters = {"udp", "tcp", "ip.len > 500", "frame.interface_id == 0", ""};
    std::string fs = WriteFilterSet(filters);
    PlatformSetProgramFolder(LUMO_BIN_DIR);  // where lumo_judge is built
    struct Case {
        std::string file;
        int code;
    };
    for (const Case& c : {Case{merged + ".gz", 0}, Case{sections, 0}, Case{cut, 2}}) {
        SCOPED_TRACE(c.file);
        std::vector<OfflineCounts> ref;
        int64_t firstStart = 0;
        ASSERT_EQ(OfflineTsharkBinned(c.file, 100000, filters, &ref, &firstStart), 1);
        ASSERT_LT(firstStart, 0);  // the earliest frames come before the first
        for (const char* judges : {"1", "2", "3"}) {
            SCOPED_TRACE(judges);
            std::string csv = dir + "/o.csv";
            std::string err;
            int code = Export({"--one-pass", "--judges", judges, "--filter-set", fs, "--interval", "100000",
                               "--export-csv", csv, c.file},
                              &err);
            ASSERT_EQ(code, c.code) << err;
            if (c.code == 2) {
                EXPECT_NE(err.find("cut short"), std::string::npos) << err;
            }
            std::vector<std::string> header;
            std::vector<int64_t> starts;
            std::vector<OfflineCounts> ours;
            ASSERT_EQ(OfflineReadCsv(csv, &header, &starts, &ours), 1);
            ASSERT_FALSE(starts.empty());
            EXPECT_EQ(starts[0], firstStart);
            ExpectSameCounts(ours, ref);
        }
    }
    PlatformSetProgramFolder(nullptr);
}

// Bad files in one pass: each says what is wrong, none hangs, and what was
// read before the damage is written (exit 2), as tshark shows it.
TEST_F(ExportTest, OnePassBadFilesSayWhyAndKeepWhatWasRead) {
    CapGenMixedParams p;
    CapGenMixedDefaults(&p);
    p.packets = 3000;
    std::string good = dir + "/good.pcapng";
    ASSERT_EQ(CapGenMixed(good.c_str(), CapGenPcapng, &p), 1);
    std::string out;
    ASSERT_EQ(OfflineRunCommand("gzip -k " + OfflineShellQuote(good), &out), 0);
    std::string cutGz = dir + "/cut.pcapng.gz";
    std::filesystem::copy_file(good + ".gz", cutGz);
    std::filesystem::resize_file(cutGz, std::filesystem::file_size(cutGz) / 2);
    std::string garbageGz = dir + "/garbage.gz";
    // text, not random bytes: now and then random bytes pass for some format's header
    ASSERT_EQ(
        OfflineRunCommand("yes 'not a capture file' | head -c 5000 | gzip > " + OfflineShellQuote(garbageGz), &out), 0);
    // the 100th block's two lengths disagree
    std::string bytes = TestFileRead(good);
    auto lengthAt = [&](size_t block) {
        uint32_t n;
        memcpy(&n, bytes.data() + block + 4, 4);
        return n;
    };
    size_t at = 0;
    for (int block = 0; block < 100; ++block) at += lengthAt(at);
    uint32_t length = lengthAt(at);
    uint32_t wrong = length + 4;
    bytes.replace(at + length - 4, 4, reinterpret_cast<const char*>(&wrong), 4);
    std::string damaged = dir + "/damaged.pcapng";
    std::ofstream(damaged, std::ios::binary) << bytes;

    PlatformSetProgramFolder(LUMO_BIN_DIR);
    struct Case {
        std::string file;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {cutGz, 2, "cut short in the middle of a packet"},
        {damaged, 2, "Corrupted input file: The file appears to be damaged or corrupt (pcapng: total block lengths"},
        {garbageGz, 1, "Error opening the input file: The file isn't a capture file in a known format"},
        {dir, 1, "Error opening the input file: Is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::string csv = dir + "/o.csv";
        std::filesystem::remove(csv);
        std::string err;
        int code = Export({"--one-pass", "--interval", "1000000", "--export-csv", csv, c.file}, &err);
        EXPECT_EQ(code, c.code);
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        if (c.code == 2) {
            std::vector<std::string> header;
            std::vector<int64_t> starts;
            std::vector<OfflineCounts> ours, ref;
            ASSERT_EQ(OfflineReadCsv(csv, &header, &starts, &ours), 1);
            ASSERT_EQ(OfflineTsharkBinned(c.file, 1000000, {}, &ref), 1);
            ExpectSameCounts(ours, ref);  // every packet before the damage
            EXPECT_FALSE(ours.empty());
        } else {
            EXPECT_FALSE(std::filesystem::exists(csv));
        }
    }
    PlatformSetProgramFolder(nullptr);
}

TEST_F(ExportTest, FailuresExitOneWithTheirMessageAndSaveNothing) {
    CapGenMixedParams p;
    CapGenMixedDefaults(&p);
    p.packets = 50;
    std::string good = dir + "/good.pcap";
    ASSERT_EQ(CapGenMixed(good.c_str(), CapGenPcap, &p), 1);
    std::string garbage = dir + "/garbage.pcap";
    std::ofstream(garbage) << "this is no capture file\n";
    std::string fs = WriteFilterSet({"tcp"}, "good.fs");
    std::string badFs = WriteFilterSet({"tcp.port =="}, "bad.fs");
    // Two packets two days apart: at one microsecond per row, far too many rows.
    std::string wide = dir + "/wide.pcap";
    CapGenWriter w;
    ASSERT_EQ(CapGenOpen(&w, wide.c_str(), CapGenPcap, 1, kCapGenSnaplen), 1);
    uint8_t frame[60];
    CapGenFrame(frame, sizeof frame, CapGenUdp, 1, 2, 0, 60, 0);
    CapGenWrite(&w, 1000000000000000000LL, frame, 60, 60);
    CapGenWrite(&w, 1000000000000000000LL + 2LL * 86400 * 1000000000, frame, 60, 60);
    ASSERT_EQ(CapGenClose(&w), 1);
    std::string none = dir + "/none.pcap";
    ASSERT_EQ(CapGenOpen(&w, none.c_str(), CapGenPcap, 1, kCapGenSnaplen), 1);
    ASSERT_EQ(CapGenClose(&w), 1);
    PlatformSetProgramFolder(LUMO_BIN_DIR);  // where lumo_judge is built
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{"--export-csv", dir + "/o.csv", dir + "/missing.pcap"}, "Error opening the input file: "},
        {{"--export-csv", dir + "/o.csv", garbage}, "Error opening the input file: "},
        {{"--filter-set", dir + "/missing.fs", "--export-csv", dir + "/o.csv", good}, "cannot open the filter set"},
        {{"--filter-set", badFs, "--export-csv", dir + "/o.csv", good}, "tcp.port =="},
        // In one pass the judge's own refusal stands in for the check, also
        // for a file without a packet to judge.
        {{"--one-pass", "--filter-set", badFs, "--export-csv", dir + "/o.csv", good},
         "filter 1 is not a valid display filter: tcp.port == ("},
        {{"--one-pass", "--filter-set", badFs, "--export-csv", dir + "/o.csv", none},
         "filter 1 is not a valid display filter: tcp.port == ("},
        {{"--filter-set", fs, "--export-csv", dir + "/no/such/dir/o.csv", good}, "cannot create"},
        {{"--interval", "1", "--export-csv", dir + "/o.csv", wide}, "choose a wider --interval"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        std::string err;
        int code = Export(c.args, &err);
        EXPECT_EQ(code, 1);
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_EQ(PacketStoreCount(), 0);
    }
    PlatformSetProgramFolder(nullptr);
    // The export reads the settings but writes neither them nor the start-up
    // filter set.
    EXPECT_TRUE(std::filesystem::is_empty(home));
}

TEST_F(ExportTest, ZeroPacketsGiveTheHeaderOnly) {
    CapGenWriter w;
    std::string file = dir + "/none.pcapng";
    ASSERT_EQ(CapGenOpen(&w, file.c_str(), CapGenPcapng, 1, kCapGenSnaplen), 1);
    ASSERT_EQ(CapGenClose(&w), 1);
    ASSERT_EQ(Export({"--filter-set", WriteFilterSet({"tcp", "udp"}), "--export-csv", dir + "/o.csv", file}), 0);
    std::ifstream in(dir + "/o.csv");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, "interval_start_us,all_packets,all_bytes,tcp packets,tcp bytes,udp packets,udp bytes\n");
}

}  // namespace
