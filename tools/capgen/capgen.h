// SPDX-License-Identifier: GPL-2.0-or-later
// capgen.h - writes capture files of made-up traffic: the bundled sample
// capture, the captures of the tests and the benchmarks.
//
// The writer takes one packet at a time (time in nanoseconds since the
// epoch, captured bytes, wire length) and writes classic pcap with
// microsecond or nanosecond stamps, or pcapng (one Ethernet interface,
// microsecond stamps). The frame builder makes Ethernet/IPv4 TCP and UDP
// frames between loopback addresses of any wire length up to the snapshot
// length (frames longer than an IPv4 datagram carry the rest as trailer).
// CapGenMixed puts both together: a seeded mix of TCP and UDP, optionally
// with a gap of several seconds, frames above 65535 bytes and packets out of
// time order. Any thread; no process-wide state.
#pragma once

#include <cstdint>
#include <cstdio>

enum CapGenFormat { CapGenPcap = 0, CapGenPcapNano = 1, CapGenPcapng = 2 };

constexpr uint32_t kCapGenSnaplen = 262144;

struct CapGenWriter {
    FILE* file;
    int format;
    int64_t packets;  // records written
    int failed;       // a write failed; CapGenClose reports it
};

// Creates path and writes the file header(s) for link type linkType and the
// given snapshot length. Returns 1, or 0 (nothing left open).
int CapGenOpen(CapGenWriter* writer, const char* path, int format, int linkType, uint32_t snaplen);

// Appends one record. timeNs is nanoseconds since the epoch (the microsecond
// formats drop the rest). Returns 1, or 0 when the write failed.
int CapGenWrite(CapGenWriter* writer, int64_t timeNs, const uint8_t* data, uint32_t capLen, uint32_t wireLen);

// Flushes and closes. Returns 1 when every write succeeded.
int CapGenClose(CapGenWriter* writer);

enum CapGenProto { CapGenTcp = 6, CapGenUdp = 17 };

// Builds an Ethernet/IPv4 frame of wireLen bytes (at least 54) into out
// (size bytes; the frame is cut to size): 127.0.0.1 -> 127.0.0.2 (or back
// when reverse), the given ports, a payload pattern from seq. Returns the
// bytes written (min(wireLen, size)).
uint32_t CapGenFrame(uint8_t* out, uint32_t size, int proto, uint16_t srcPort, uint16_t dstPort, uint32_t seq,
                     uint32_t wireLen, int reverse);

struct CapGenMixedParams {
    int64_t packets;    // records to write
    uint32_t seed;      // the same seed gives the same file
    int64_t startNs;    // time of the first packet
    int64_t meanGapNs;  // mean spacing of packets (uniform 0..2*mean)
    int64_t gapAt;      // before this packet number a pause of gapNs (0: none)
    int64_t gapNs;
    int64_t bigEvery;     // every bigEvery-th packet is 65536..70000 bytes long (0: none)
    uint32_t snaplen;     // captured bytes are cut to this (kCapGenSnaplen: whole frames)
    int outOfOrderEvery;  // every n-th packet is stamped before its predecessor, never before the first (0: none)
    int smallOnly;        // 1: every frame 60 bytes (memory benchmarks)
    int64_t wavePackets;  // >0: the spacing swings between 1/4 and 7/4 of the mean over this many packets
    int hosts;            // >0: each packet between one of this many hosts 127.0.1.x and one of 127.0.2.x; 0: 127.0.0.1 and .2
};

// Defaults: 1000 packets, seed 1, start 1700000000 s, mean gap 1 ms, no
// pause, no big frames, whole frames, in order, mixed sizes.
void CapGenMixedDefaults(CapGenMixedParams* params);

// Writes the mixed traffic to path in format. Returns 1, or 0 on a failed
// write (the file is then incomplete).
int CapGenMixed(const char* path, int format, const CapGenMixedParams* params);
