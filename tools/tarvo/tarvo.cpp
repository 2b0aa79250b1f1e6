// SPDX-License-Identifier: GPL-2.0-or-later
// tarvo - the replay tool: sends every record of a capture file out on an
// interface through libpcap.
//
//     tarvo FILE IFACE [s]
//
// FILE is a pcap or pcapng capture file, IFACE a libpcap device name. With
// the trailing "s" the records leave at the recorded speed (the gaps between
// their time stamps are kept); without it they leave as fast as the
// interface takes them.
//
// A record the interface refuses (longer than its MTU, too short for its
// link layer, dropped by a full queue) is skipped and counted, and the
// replay goes on at the recorded pace. A failure of the interface itself
// (it went away or down) or of the file (cut short, unreadable) ends it.
//
// Output, all of which the front end ignores except "Start Transmission":
//   stdout  "Start Transmission" once the interface is open and sending
//           begins (flushed at once), then at the end "Sent N packets." or
//           "Sent N packets, M not sent (first: record R, REASON)."
//   stderr  why the file or the interface could not be opened, every record
//           that was skipped, and, as the very last line, why a replay
//           stopped early
// Exit status: 0 when the whole file was replayed, skipped records
// included; 1 on a usage error, a file or interface that cannot be opened, a
// link type that does not match, or a replay that stopped early.
#include <pcap/pcap.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

static const char kToolName[] = "tarvo";

static void Usage() {
    fprintf(stderr, "usage: %s FILE IFACE [s]\n", kToolName);
    fprintf(stderr, "  sends every record of the capture file FILE (pcap or pcapng) on IFACE;\n");
    fprintf(stderr, "  with s, at the recorded speed\n");
}

static int64_t MonotonicNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Sleeps until the monotonic clock reads `deadline` (nanoseconds). Absolute
// deadlines keep a late wake-up from pushing every later record back.
static void SleepUntil(int64_t deadline) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(deadline / 1000000000LL);
    ts.tv_nsec = static_cast<long>(deadline % 1000000000LL);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// 1 when a failed send concerns this frame alone, so that the replay skips
// it; anything else (the interface gone or down, a handle that cannot send
// at all: errno 0) would refuse every later frame too.
static int FrameRefused(int err) {
    switch (err) {
        case EMSGSIZE:  // longer than the interface's MTU
        case EINVAL:    // shorter than the link-layer header, or malformed
        case ENOBUFS:   // dropped by a full transmit queue
            return 1;
        default: return 0;
    }
}

static int64_t StampNs(const timeval& tv) {
    // pcap_open_offline hands out microsecond stamps, also for nanosecond files.
    return static_cast<int64_t>(tv.tv_sec) * 1000000000LL + static_cast<int64_t>(tv.tv_usec) * 1000LL;
}

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4 || (argc == 4 && strcmp(argv[3], "s") != 0)) {
        Usage();
        return 1;
    }
    const char* file = argv[1];
    const char* iface = argv[2];
    const bool recordedSpeed = argc == 4;

    char errbuf[PCAP_ERRBUF_SIZE];
    errbuf[0] = '\0';
    pcap_t* in = pcap_open_offline(file, errbuf);
    if (!in) {
        fprintf(stderr, "%s: cannot open capture file %s: %s\n", kToolName, file, errbuf);
        return 1;
    }

    // Snapshot length large enough for any record; not promiscuous; the
    // handle is only written to.
    errbuf[0] = '\0';
    pcap_t* out = pcap_open_live(iface, 262144, 0, 1, errbuf);
    if (!out) {
        fprintf(stderr, "%s: cannot open interface %s: %s\n", kToolName, iface, errbuf);
        pcap_close(in);
        return 1;
    }

    // The records' bytes go out as they stand, so they must be frames of the
    // interface's own link layer.
    int fileLink = pcap_datalink(in);
    int ifaceLink = pcap_datalink(out);
    if (fileLink != ifaceLink) {
        const char* fileName = pcap_datalink_val_to_name(fileLink);
        const char* ifaceName = pcap_datalink_val_to_name(ifaceLink);
        fprintf(stderr, "%s: link type of %s (%s) differs from that of %s (%s)\n", kToolName, file,
                fileName ? fileName : "unknown", iface, ifaceName ? ifaceName : "unknown");
        pcap_close(out);
        pcap_close(in);
        return 1;
    }

    printf("Start Transmission\n");
    fflush(stdout);

    uint64_t sent = 0, skipped = 0, index = 0, firstSkipped = 0;
    char firstReason[PCAP_ERRBUF_SIZE] = "";
    char stopReason[PCAP_ERRBUF_SIZE + 128] = "";  // set when the replay ends early
    int64_t firstStamp = 0, startClock = 0;
    pcap_pkthdr* header;
    const u_char* data;
    int rc;
    while ((rc = pcap_next_ex(in, &header, &data)) == 1) {
        ++index;
        if (recordedSpeed) {
            int64_t stamp = StampNs(header->ts);
            if (index == 1) {
                firstStamp = stamp;
                startClock = MonotonicNs();
            } else if (stamp > firstStamp) {
                // A record stamped before the first one goes out at once.
                SleepUntil(startClock + (stamp - firstStamp));
            }
        }
        // A record cut by the capture's snapshot length goes out as captured.
        errno = 0;
        int put = pcap_inject(out, data, header->caplen);
        int err = errno;
        if (put == static_cast<int>(header->caplen)) {
            ++sent;
            continue;
        }
        char reason[PCAP_ERRBUF_SIZE];
        if (put < 0) {
            snprintf(reason, sizeof reason, "%s", pcap_geterr(out));
        } else {
            snprintf(reason, sizeof reason, "only %d of %u bytes sent", put, header->caplen);
            err = EMSGSIZE;
        }
        if (!FrameRefused(err)) {
            snprintf(stopReason, sizeof stopReason, "%s: sending on %s stopped at record %llu: %s", kToolName, iface,
                     static_cast<unsigned long long>(index), reason);
            break;
        }
        if (skipped++ == 0) {
            firstSkipped = index;
            snprintf(firstReason, sizeof firstReason, "%s", reason);
        }
        fprintf(stderr, "%s: record %llu (%u bytes) not sent: %s\n", kToolName, static_cast<unsigned long long>(index),
                header->caplen, reason);
    }
    if (rc == -1 && !stopReason[0]) {
        snprintf(stopReason, sizeof stopReason, "%s: reading %s after record %llu: %s", kToolName, file,
                 static_cast<unsigned long long>(index), pcap_geterr(in));
    }

    if (skipped == 0) {
        printf("Sent %llu packets.\n", static_cast<unsigned long long>(sent));
    } else {
        printf("Sent %llu packets, %llu not sent (first: record %llu, %s).\n", static_cast<unsigned long long>(sent),
               static_cast<unsigned long long>(skipped), static_cast<unsigned long long>(firstSkipped), firstReason);
    }
    fflush(stdout);
    // The reason comes after the count, so that it is the last line a
    // front end sees.
    if (stopReason[0]) fprintf(stderr, "%s\n", stopReason);
    pcap_close(out);
    pcap_close(in);
    return stopReason[0] ? 1 : 0;
}
