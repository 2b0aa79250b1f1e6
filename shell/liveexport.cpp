// SPDX-License-Identifier: GPL-2.0-or-later
// liveexport.cpp - the live CSV: the frame's intervals from the counters.
#include "shell/liveexport.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "pipeline/packetring.h"
#include "pipeline/rawsharkmngr.h"
#include "platform/platform.h"
#include "platform/text.h"

void LiveExportIsoTime(int64_t epochMicros, char* out, size_t size) {
    LocalTime t;
    if (!LocalTimeOf(epochMicros, &t)) {
        snprintf(out, size, "%" PRId64, epochMicros);
        return;
    }
    int offset = t.utcOffset < 0 ? -t.utcOffset : t.utcOffset;
    snprintf(out, size, "%04d-%02d-%02dT%02d:%02d:%02d.%06d%c%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
             t.second, t.micro, t.utcOffset < 0 ? '-' : '+', offset / 3600, offset / 60 % 60);
}

int LiveExportWriteCsv(FILE* out, const Settings* settings, const FilterEntry* entries, int count, int64_t now,
                       int columns, char* err) {
    ErrorClear(err);
    if (count < 0) count = 0;
    if (count > FilterSetMax) count = FilterSetMax;
    fputs("interval_start_time,interval_start_us,all_packets,all_bytes", out);
    for (int i = 0; i < count; i++) {
        char name[300];
        fputc(',', out);
        snprintf(name, sizeof name, "%s packets", entries[i].filterText);
        CsvWriteField(out, name);
        fputc(',', out);
        snprintf(name, sizeof name, "%s bytes", entries[i].filterText);
        CsvWriteField(out, name);
    }
    fputc('\n', out);

    int64_t first = 0;
    int64_t interval = settings->samplingInterval;
    int bins = columns < settings->binCount ? columns : settings->binCount;
    if (PacketRingFirstStamp(&first) && bins > 0 && interval > 0) {
        int64_t clockBase = 0;
        PacketRingFirstTime(&clockBase);
        int64_t nowBin = PacketRingBinAt(now);
        // no row before the first packet's interval: nothing was counted there
        int rows = nowBin + 1 < bins ? static_cast<int>(nowBin + 1) : bins;
        // element 0 of every read is the newest interval; column 0 all traffic
        std::vector<uint64_t> packets(static_cast<size_t>(count + 1) * bins, 0);
        std::vector<uint64_t> bytes(static_cast<size_t>(count + 1) * bins, 0);
        TotalCounterReadPackets(now, packets.data(), bins);
        TotalCounterReadBytes(now, bytes.data(), bins);
        char message[kRawsharkMessageSize];
        for (int i = 0; i < count; i++) {
            size_t at = static_cast<size_t>(i + 1) * bins;
            RawsharkMngrReadPackets(i, now, packets.data() + at, bins, message);
            RawsharkMngrReadBytes(i, now, bytes.data() + at, bins, message);
        }
        for (int j = rows - 1; j >= 0; j--) {
            int64_t start = (nowBin - j) * interval;
            char line[64 + (FilterSetMax + 1) * 42];
            LiveExportIsoTime(clockBase + start, line, 48);
            int n = static_cast<int>(strlen(line));
            n += snprintf(line + n, sizeof line - n, ",%" PRId64, start);
            for (int c = 0; c <= count; c++) {
                size_t at = static_cast<size_t>(c) * bins + j;
                n += snprintf(line + n, sizeof line - n, ",%" PRIu64 ",%" PRIu64, packets[at], bytes[at]);
            }
            line[n++] = '\n';
            fwrite(line, 1, static_cast<size_t>(n), out);
        }
    }
    if (ferror(out)) {
        ErrorSet(err, "write error: %s", strerror(errno));
        return 0;
    }
    return 1;
}
