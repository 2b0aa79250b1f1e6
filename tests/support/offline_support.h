// SPDX-License-Identifier: GPL-2.0-or-later
// offline_support.h - helpers of the offline program's tests: scratch
// folders, running a command for its output, and the reference counts of
// tshark for a capture file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh empty folder under LUMO_TEST_TMP named after tag and this process
// (removed first when it exists), so that two test programs running at once
// keep apart. Returns its path.
std::string OfflineScratchDir(const std::string& tag);

// Runs a shell command; returns its exit status (-1 when it could not run)
// and its standard output in out.
int OfflineRunCommand(const std::string& command, std::string* out);

// Quotes text for a POSIX shell.
std::string OfflineShellQuote(const std::string& text);

// Packets and bytes of one interval: element 0 all traffic, then one per
// filter.
struct OfflineCounts {
    std::vector<uint64_t> packets;
    std::vector<uint64_t> bytes;
};

// Runs `tshark -q -z io,stat,SECONDS,"",F1,F2...` on file and returns one
// row per interval (columns: all traffic, then the filters). Returns 0 when
// tshark failed or printed nothing usable.
int OfflineTsharkIoStat(const std::string& file, int64_t intervalUs, const std::vector<std::string>& filters,
                        std::vector<OfflineCounts>* rows);

// The same counts built from `tshark -T fields -e frame.time_epoch -e
// frame.len` per filter, each frame binned by its own time to the
// nanosecond, intervals aligned at the file's first frame (for files out of
// time order, where io,stat bins differently): one row per interval from
// that of the earliest frame (whose start, in microseconds since the first
// frame, goes to firstStart when given) to that of the latest. A file cut
// short counts the frames before the cut.
int OfflineTsharkBinned(const std::string& file, int64_t intervalUs, const std::vector<std::string>& filters,
                        std::vector<OfflineCounts>* rows, int64_t* firstStart = nullptr);

// Reads an export CSV: the header columns into header, the rows (start and
// counts) into rows. Returns 0 on a malformed line.
int OfflineReadCsv(const std::string& path, std::vector<std::string>* header, std::vector<int64_t>* starts,
                   std::vector<OfflineCounts>* rows);
