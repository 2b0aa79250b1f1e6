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
// Output, all of which the front end ignores except the first line:
//   stdout  "Start Transmission" once the interface is open and sending
//           begins (flushed at once), then "Sent N packets." at the end
//   stderr  why the file or the interface could not be opened, and every
//           record that could not be sent
// Exit status: 0 when every record was sent; 1 on a usage error, a file or
// interface that cannot be opened, a link type that does not match, a read
// error in the file, or a record the interface refused.
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

    uint64_t sent = 0, failed = 0, index = 0;
    int64_t firstStamp = 0, startClock = 0;
    int readError = 0;
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
        if (pcap_inject(out, data, header->caplen) == static_cast<int>(header->caplen)) {
            ++sent;
        } else {
            ++failed;
            fprintf(stderr, "%s: record %llu (%u bytes) not sent: %s\n", kToolName,
                    static_cast<unsigned long long>(index), header->caplen, pcap_geterr(out));
        }
    }
    if (rc == -1) {
        readError = 1;
        fprintf(stderr, "%s: reading %s after record %llu: %s\n", kToolName, file,
                static_cast<unsigned long long>(index), pcap_geterr(in));
    }

    printf("Sent %llu packets.\n", static_cast<unsigned long long>(sent));
    fflush(stdout);
    pcap_close(out);
    pcap_close(in);
    return (failed || readError) ? 1 : 0;
}
