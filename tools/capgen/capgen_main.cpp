// SPDX-License-Identifier: GPL-2.0-or-later
// capgen - writes a capture file of made-up TCP and UDP traffic between
// loopback addresses: the bundled sample capture and the captures of the
// benchmarks. The same arguments give the same file.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/capgen/capgen.h"

static void Usage(FILE* out) {
    fprintf(out,
            "usage: capgen [options] OUT\n"
            "  --format pcap|pcap-ns|pcapng   file format (default pcap)\n"
            "  --packets N                    records to write (default 1000)\n"
            "  --seed N                       random seed (default 1)\n"
            "  --mean-gap-us N                mean spacing of packets (default 1000)\n"
            "  --gap-at K --gap-seconds S     a pause of S seconds before packet K\n"
            "  --big-every N                  every N-th frame 65536..70000 bytes\n"
            "  --snaplen N                    captured bytes per frame at most N\n"
            "  --out-of-order N               every N-th packet stamped before its predecessor\n"
            "  --small                        every frame 60 bytes\n"
            "  --hosts N                      packets between N x N host pairs (default one pair)\n"
            "  --sample                       the bundled sample: 30000 packets over ~40 s\n"
            "                                 with a 6 s pause, a swinging rate and some\n"
            "                                 frames above 64 KiB\n");
}

static int ParseNumber(const char* text, long long* out) {
    char* end = nullptr;
    long long v = strtoll(text, &end, 10);
    if (!*text || *end || v < 0) return 0;
    *out = v;
    return 1;
}

int main(int argc, char** argv) {
    CapGenMixedParams params;
    CapGenMixedDefaults(&params);
    int format = CapGenPcap;
    const char* out = nullptr;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        long long v = 0;
        if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
            Usage(stdout);
            return 0;
        }
        if (!strcmp(a, "--sample")) {
            params.packets = 30000;
            params.meanGapNs = 1100000;
            params.gapAt = 15000;
            params.gapNs = 6000000000LL;
            params.bigEvery = 2999;
            params.wavePackets = 6000;
            continue;
        }
        if (!strcmp(a, "--small")) {
            params.smallOnly = 1;
            continue;
        }
        if (a[0] == '-' && a[1] == '-') {
            if (i + 1 >= argc) {
                fprintf(stderr, "capgen: %s needs a value\n", a);
                return 1;
            }
            const char* value = argv[++i];
            if (!strcmp(a, "--format")) {
                if (!strcmp(value, "pcap"))
                    format = CapGenPcap;
                else if (!strcmp(value, "pcap-ns"))
                    format = CapGenPcapNano;
                else if (!strcmp(value, "pcapng"))
                    format = CapGenPcapng;
                else {
                    fprintf(stderr, "capgen: unknown format %s\n", value);
                    return 1;
                }
                continue;
            }
            if (!ParseNumber(value, &v)) {
                fprintf(stderr, "capgen: %s needs a number, not %s\n", a, value);
                return 1;
            }
            if (!strcmp(a, "--packets"))
                params.packets = v;
            else if (!strcmp(a, "--seed"))
                params.seed = static_cast<uint32_t>(v);
            else if (!strcmp(a, "--mean-gap-us"))
                params.meanGapNs = v * 1000;
            else if (!strcmp(a, "--gap-at"))
                params.gapAt = v;
            else if (!strcmp(a, "--gap-seconds"))
                params.gapNs = v * 1000000000LL;
            else if (!strcmp(a, "--big-every"))
                params.bigEvery = v;
            else if (!strcmp(a, "--snaplen"))
                params.snaplen = static_cast<uint32_t>(v);
            else if (!strcmp(a, "--out-of-order"))
                params.outOfOrderEvery = static_cast<int>(v);
            else if (!strcmp(a, "--hosts") && v >= 0 && v <= 254)
                params.hosts = static_cast<int>(v);
            else {
                fprintf(stderr, "capgen: unknown option %s\n", a);
                Usage(stderr);
                return 1;
            }
            continue;
        }
        if (out) {
            fprintf(stderr, "capgen: more than one output file\n");
            return 1;
        }
        out = a;
    }
    if (!out) {
        Usage(stderr);
        return 1;
    }
    if (params.snaplen == 0 || params.snaplen > kCapGenSnaplen) {
        fprintf(stderr, "capgen: --snaplen must be 1..%u\n", kCapGenSnaplen);
        return 1;
    }
    if (!CapGenMixed(out, format, &params)) {
        fprintf(stderr, "capgen: cannot write %s\n", out);
        return 1;
    }
    return 0;
}
