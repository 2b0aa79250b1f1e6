// SPDX-License-Identifier: GPL-2.0-or-later
// offline_support.cpp - scratch folders, commands and tshark reference
// counts for the offline tests.
#include "offline_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#ifndef LUMO_TEST_TMP
#define LUMO_TEST_TMP "/tmp"
#endif

std::string OfflineScratchDir(const std::string& tag) {
    std::filesystem::path p =
        std::filesystem::path(LUMO_TEST_TMP) / ("offline_" + tag + "." + std::to_string(getpid()));
    std::error_code ec;
    std::filesystem::remove_all(p, ec);
    std::filesystem::create_directories(p, ec);
    return p.string();
}

int OfflineRunCommand(const std::string& command, std::string* out) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int status = pclose(p);
    if (out) *out = text;
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string OfflineShellQuote(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

static std::string IntervalSeconds(int64_t us) {
    char text[64];
    snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(us / 1000000),
             static_cast<long long>(us % 1000000));
    return text;
}

int OfflineTsharkIoStat(const std::string& file, int64_t intervalUs, const std::vector<std::string>& filters,
                        std::vector<OfflineCounts>* rows) {
    std::string arg = "io,stat," + IntervalSeconds(intervalUs) + ",";
    for (const std::string& f : filters) arg += "," + f;
    std::string out;
    int rc = OfflineRunCommand(
        "tshark -n -q -r " + OfflineShellQuote(file) + " -z " + OfflineShellQuote(arg) + " 2>/dev/null", &out);
    if (rc != 0) return 0;
    rows->clear();
    std::istringstream in(out);
    std::string line;
    size_t columns = filters.size() + 1;
    while (std::getline(in, line)) {
        if (line.find("<>") == std::string::npos || line[0] != '|') continue;
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, '|')) cells.push_back(cell);
        // "", interval, then frames and bytes per column
        if (cells.size() < 2 + 2 * columns) continue;
        OfflineCounts c;
        for (size_t k = 0; k < columns; k++) {
            c.packets.push_back(strtoull(cells[2 + 2 * k].c_str(), nullptr, 10));
            c.bytes.push_back(strtoull(cells[3 + 2 * k].c_str(), nullptr, 10));
        }
        rows->push_back(c);
    }
    return !rows->empty();
}

// "1700000000.000834000" -> microseconds.
// tshark's frame.time_epoch ("1700000000.000000123", maybe negative) in
// nanoseconds.
static int64_t EpochNanos(const std::string& text) {
    int negative = !text.empty() && text[0] == '-';
    size_t dot = text.find('.');
    std::string whole = text.substr(negative, dot == std::string::npos ? std::string::npos : dot - negative);
    int64_t sec = strtoll(whole.c_str(), nullptr, 10);
    int64_t frac = 0;
    if (dot != std::string::npos) {
        std::string digits = text.substr(dot + 1) + "000000000";
        frac = strtoll(digits.substr(0, 9).c_str(), nullptr, 10);
    }
    int64_t ns = sec * 1000000000 + frac;
    return negative ? -ns : ns;
}

static int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0 && a < 0) ? 1 : 0); }

int OfflineTsharkBinned(const std::string& file, int64_t intervalUs, const std::vector<std::string>& filters,
                        std::vector<OfflineCounts>* rows, int64_t* firstStart) {
    rows->clear();
    size_t columns = filters.size() + 1;
    int64_t base = 0;
    int haveBase = 0;
    std::map<int64_t, OfflineCounts> bins;
    for (size_t c = 0; c < columns; c++) {
        std::string cmd = "tshark -n -r " + OfflineShellQuote(file);
        if (c > 0 && !filters[c - 1].empty()) cmd += " -Y " + OfflineShellQuote(filters[c - 1]);
        cmd += " -T fields -e frame.time_epoch -e frame.len 2>/dev/null";
        std::string out;
        // tshark says 2 for a file cut short, after every frame before the cut
        int status = OfflineRunCommand(cmd, &out);
        if (status != 0 && status != 2) return 0;
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string stamp;
            uint64_t len = 0;
            if (!(fields >> stamp >> len)) continue;
            int64_t t = EpochNanos(stamp);
            if (!haveBase) {
                // column 0 is every frame, read first: its first frame is the file's first
                base = t;
                haveBase = 1;
            }
            // intervals aligned at the first frame, before it too
            int64_t b = FloorDiv(t - base, intervalUs * 1000);
            OfflineCounts& row = bins[b];
            if (row.packets.empty()) {
                row.packets.assign(columns, 0);
                row.bytes.assign(columns, 0);
            }
            row.packets[c]++;
            row.bytes[c] += len;
        }
    }
    int64_t firstBin = bins.empty() ? 0 : bins.begin()->first;
    int64_t lastBin = bins.empty() ? -1 : bins.rbegin()->first;
    if (firstStart) *firstStart = firstBin * intervalUs;
    for (int64_t b = firstBin; b <= lastBin; b++) {
        OfflineCounts row;
        row.packets.assign(columns, 0);
        row.bytes.assign(columns, 0);
        auto it = bins.find(b);
        if (it != bins.end()) row = it->second;
        rows->push_back(row);
    }
    return 1;
}

static std::vector<std::string> SplitCsvLine(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); i++) {
        char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cell += '"';
                i++;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            cells.push_back(cell);
            cell.clear();
        } else {
            cell += c;
        }
    }
    cells.push_back(cell);
    return cells;
}

int OfflineReadCsv(const std::string& path, std::vector<std::string>* header, std::vector<int64_t>* starts,
                   std::vector<OfflineCounts>* rows) {
    std::ifstream in(path);
    if (!in) return 0;
    std::string line;
    if (!std::getline(in, line)) return 0;
    *header = SplitCsvLine(line);
    starts->clear();
    rows->clear();
    size_t columns = (header->size() - 1) / 2;
    while (std::getline(in, line)) {
        std::vector<std::string> cells = SplitCsvLine(line);
        if (cells.size() != header->size()) return 0;
        starts->push_back(strtoll(cells[0].c_str(), nullptr, 10));
        OfflineCounts c;
        for (size_t k = 0; k < columns; k++) {
            c.packets.push_back(strtoull(cells[1 + 2 * k].c_str(), nullptr, 10));
            c.bytes.push_back(strtoull(cells[2 + 2 * k].c_str(), nullptr, 10));
        }
        rows->push_back(c);
    }
    return 1;
}
