// SPDX-License-Identifier: GPL-2.0-or-later
// capgen.cpp - capture file writer and made-up traffic.
#include "tools/capgen/capgen.h"

#include <cstring>
#include <vector>

// ---------------------------------------------------------------- writer

static void Put16(uint8_t* p, uint16_t v) { memcpy(p, &v, 2); }
static void Put32(uint8_t* p, uint32_t v) { memcpy(p, &v, 4); }
static void PutBe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
static void PutBe32(uint8_t* p, uint32_t v) {
    PutBe16(p, static_cast<uint16_t>(v >> 16));
    PutBe16(p + 2, static_cast<uint16_t>(v));
}

static void WriteBytes(CapGenWriter* writer, const void* data, size_t size) {
    if (size && fwrite(data, 1, size, writer->file) != size) writer->failed = 1;
}

int CapGenOpen(CapGenWriter* writer, const char* path, int format, int linkType, uint32_t snaplen) {
    *writer = CapGenWriter{};
    writer->format = format;
    writer->file = fopen(path, "wb");
    if (!writer->file) return 0;
    setvbuf(writer->file, nullptr, _IOFBF, 1 << 20);
    if (format == CapGenPcapng) {
        uint8_t shb[28] = {};
        Put32(shb, 0x0A0D0D0A);
        Put32(shb + 4, sizeof shb);
        Put32(shb + 8, 0x1A2B3C4D);
        Put16(shb + 12, 1);
        Put16(shb + 14, 0);
        memset(shb + 16, 0xff, 8);  // section length unknown
        Put32(shb + 24, sizeof shb);
        WriteBytes(writer, shb, sizeof shb);
        uint8_t idb[20] = {};
        Put32(idb, 1);
        Put32(idb + 4, sizeof idb);
        Put16(idb + 8, static_cast<uint16_t>(linkType));
        Put32(idb + 12, snaplen);
        Put32(idb + 16, sizeof idb);
        WriteBytes(writer, idb, sizeof idb);
    } else {
        uint8_t fh[24] = {};
        Put32(fh, format == CapGenPcapNano ? 0xa1b23c4d : 0xa1b2c3d4);
        Put16(fh + 4, 2);
        Put16(fh + 6, 4);
        Put32(fh + 16, snaplen);
        Put32(fh + 20, static_cast<uint32_t>(linkType));
        WriteBytes(writer, fh, sizeof fh);
    }
    if (writer->failed) {
        fclose(writer->file);
        *writer = CapGenWriter{};
        return 0;
    }
    return 1;
}

int CapGenWrite(CapGenWriter* writer, int64_t timeNs, const uint8_t* data, uint32_t capLen, uint32_t wireLen) {
    if (!writer->file) return 0;
    if (writer->format == CapGenPcapng) {
        uint32_t padded = (capLen + 3) & ~3u;
        uint32_t total = 32 + padded;
        uint64_t us = static_cast<uint64_t>(timeNs / 1000);
        uint8_t h[28];
        Put32(h, 6);
        Put32(h + 4, total);
        Put32(h + 8, 0);
        Put32(h + 12, static_cast<uint32_t>(us >> 32));
        Put32(h + 16, static_cast<uint32_t>(us));
        Put32(h + 20, capLen);
        Put32(h + 24, wireLen);
        WriteBytes(writer, h, sizeof h);
        WriteBytes(writer, data, capLen);
        static const uint8_t pad[4] = {};
        WriteBytes(writer, pad, padded - capLen);
        uint8_t t[4];
        Put32(t, total);
        WriteBytes(writer, t, 4);
    } else {
        int64_t sec = timeNs / 1000000000;
        int64_t sub = timeNs % 1000000000;
        if (writer->format == CapGenPcap) sub /= 1000;
        uint8_t h[16];
        Put32(h, static_cast<uint32_t>(sec));
        Put32(h + 4, static_cast<uint32_t>(sub));
        Put32(h + 8, capLen);
        Put32(h + 12, wireLen);
        WriteBytes(writer, h, sizeof h);
        WriteBytes(writer, data, capLen);
    }
    writer->packets++;
    return !writer->failed;
}

int CapGenClose(CapGenWriter* writer) {
    if (!writer->file) return 0;
    int ok = !writer->failed;
    if (fclose(writer->file) != 0) ok = 0;
    writer->file = nullptr;
    return ok;
}

// ---------------------------------------------------------------- frames

static uint16_t IpChecksum(const uint8_t* p, int len) {
    uint32_t sum = 0;
    for (int i = 0; i + 1 < len; i += 2) sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

uint32_t CapGenFrame(uint8_t* out, uint32_t size, int proto, uint16_t srcPort, uint16_t dstPort, uint32_t seq,
                     uint32_t wireLen, int reverse) {
    uint8_t head[54] = {};
    // Ethernet
    static const uint8_t macA[6] = {0x02, 0, 0, 0, 0, 0x01};
    static const uint8_t macB[6] = {0x02, 0, 0, 0, 0, 0x02};
    memcpy(head, reverse ? macA : macB, 6);
    memcpy(head + 6, reverse ? macB : macA, 6);
    PutBe16(head + 12, 0x0800);
    // IPv4: a datagram can hold at most 65535 bytes; a longer frame carries
    // the rest as Ethernet trailer.
    uint32_t ipLen = wireLen - 14 > 65535 ? 65535 : wireLen - 14;
    uint8_t* ip = head + 14;
    ip[0] = 0x45;
    PutBe16(ip + 2, static_cast<uint16_t>(ipLen));
    PutBe16(ip + 4, static_cast<uint16_t>(seq));
    PutBe16(ip + 6, 0x4000);
    ip[8] = 64;
    ip[9] = static_cast<uint8_t>(proto);
    const uint8_t a[4] = {127, 0, 0, 1}, b[4] = {127, 0, 0, 2};
    memcpy(ip + 12, reverse ? b : a, 4);
    memcpy(ip + 16, reverse ? a : b, 4);
    PutBe16(ip + 10, IpChecksum(ip, 20));
    uint8_t* l4 = ip + 20;
    PutBe16(l4, srcPort);
    PutBe16(l4 + 2, dstPort);
    uint32_t headLen;
    if (proto == CapGenTcp) {
        PutBe32(l4 + 4, seq * 1000u);
        PutBe32(l4 + 8, 1);
        l4[12] = 5 << 4;
        l4[13] = 0x18;  // PSH, ACK
        PutBe16(l4 + 14, 65535);
        headLen = 54;
    } else {
        PutBe16(l4 + 4, static_cast<uint16_t>(ipLen - 20));
        headLen = 42;
    }
    uint32_t n = wireLen < size ? wireLen : size;
    memcpy(out, head, n < headLen ? n : headLen);
    for (uint32_t i = headLen; i < n; i++) out[i] = static_cast<uint8_t>('a' + (i + seq) % 26);
    return n;
}

// ---------------------------------------------------------------- mixed traffic

void CapGenMixedDefaults(CapGenMixedParams* params) {
    *params = CapGenMixedParams{};
    params->packets = 1000;
    params->seed = 1;
    params->startNs = 1700000000LL * 1000000000LL;
    params->meanGapNs = 1000000;
    params->snaplen = kCapGenSnaplen;
}

static uint32_t NextRandom(uint32_t* state) {
    // xorshift32: fast, seeded, the same sequence on every machine
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

int CapGenMixed(const char* path, int format, const CapGenMixedParams* params) {
    CapGenWriter writer;
    uint32_t snaplen = params->snaplen ? params->snaplen : kCapGenSnaplen;
    if (!CapGenOpen(&writer, path, format, 1, snaplen)) return 0;
    std::vector<uint8_t> frame(kCapGenSnaplen);
    uint32_t rnd = params->seed ? params->seed : 1;
    int64_t t = params->startNs;
    int64_t previous = t;
    static const uint16_t tcpPorts[3] = {80, 443, 8080};
    static const uint16_t udpPorts[3] = {5000, 5001, 5353};
    int ok = 1;
    for (int64_t k = 0; k < params->packets && ok; k++) {
        uint32_t r = NextRandom(&rnd);
        if (k > 0) {
            int64_t mean = params->meanGapNs;
            if (params->wavePackets > 0 && mean > 0) {
                // a triangle from 1/4 to 7/4 of the mean and back
                int64_t phase = k % params->wavePackets;
                int64_t half = params->wavePackets / 2 > 0 ? params->wavePackets / 2 : 1;
                int64_t up = phase < half ? phase : params->wavePackets - phase;
                mean = mean / 4 + (mean * 3 / 2) * up / half;
            }
            int64_t step = mean > 0 ? static_cast<int64_t>(NextRandom(&rnd) % (2 * mean + 1)) : 0;
            t += step;
            if (params->gapAt > 0 && k == params->gapAt) t += params->gapNs;
        }
        int64_t stamp = t;
        // A packet stamped between the first one and its predecessor: the
        // reader must keep it in its own bin.
        if (params->outOfOrderEvery > 0 && k > 1 && k % params->outOfOrderEvery == 0) {
            stamp = previous - (previous - params->startNs) / 2;
        }
        previous = t;
        int proto = (r & 1) ? CapGenTcp : CapGenUdp;
        uint16_t port = proto == CapGenTcp ? tcpPorts[(r >> 1) % 3] : udpPorts[(r >> 1) % 3];
        uint32_t wireLen;
        if (params->smallOnly) {
            wireLen = 60;
        } else if (params->bigEvery > 0 && k % params->bigEvery == params->bigEvery - 1) {
            wireLen = 65536 + (r >> 8) % (70000 - 65536 + 1);
        } else {
            static const uint32_t sizes[4] = {60, 100, 576, 1514};
            wireLen = sizes[(r >> 3) % 4] + (r >> 10) % 64;
            if (wireLen > 1514) wireLen = 1514;
        }
        int reverse = (r >> 5) & 1;
        uint32_t cap = CapGenFrame(frame.data(), snaplen, proto, reverse ? port : 40000, reverse ? 40000 : port,
                                   static_cast<uint32_t>(k), wireLen, reverse);
        if (params->hosts > 0 && cap >= 34) {
            // many conversations: a pair of hosts drawn for each packet
            uint32_t pick = NextRandom(&rnd);
            uint8_t* ip = frame.data() + 14;
            const uint8_t a[4] = {127, 0, 1, static_cast<uint8_t>(1 + pick % static_cast<uint32_t>(params->hosts))};
            const uint8_t b[4] = {127, 0, 2,
                                  static_cast<uint8_t>(1 + (pick >> 8) % static_cast<uint32_t>(params->hosts))};
            memcpy(ip + 12, reverse ? b : a, 4);
            memcpy(ip + 16, reverse ? a : b, 4);
            ip[10] = ip[11] = 0;
            PutBe16(ip + 10, IpChecksum(ip, 20));
        }
        // The nanosecond format keeps a fixed sub-microsecond part, so that
        // differences between packets stay whole microseconds.
        stamp -= stamp % 1000;
        int64_t ns = format == CapGenPcapNano ? stamp + 123 : stamp;
        ok = CapGenWrite(&writer, ns, frame.data(), cap, wireLen);
    }
    return CapGenClose(&writer) && ok;
}
