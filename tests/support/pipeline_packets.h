// SPDX-License-Identifier: GPL-2.0-or-later
// pipeline_packets.h - test packets for the filter pipeline: generated
// Ethernet frames, pcap files, tshark as the independent reference, and
// counts of this process's descriptors, threads and children.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/record.h"

struct PipelineTestPacket {
    PacketRecordHeader header;
    std::vector<uint8_t> data;  // header.incl_len bytes
};

// `count` Ethernet frames in time order starting at ts 1000.000000: IPv4 UDP
// (ports 53, 5000, 80), TCP (80, 443, 8080) and ARP, of varied sizes, some
// captured short of their wire length, one 70000 bytes on the wire, with
// gaps of up to ~0.2 s. The same seed gives the same packets.
std::vector<PipelineTestPacket> PipelineTestMakePackets(int count, uint32_t seed);

// Traffic of real conversations between 12 clients and 4 servers,
// interleaved in time: TCP connections (handshake, data with resent
// segments and duplicate acks, close), DNS queries mostly answered, UDP
// datagrams in three IP fragments (some out of order). The same seed gives
// the same packets.
std::vector<PipelineTestPacket> PipelineTestMakeConversations(int conversations, uint32_t seed);

// A frame of `wire` bytes on the wire carrying `payload` in a UDP datagram
// to port 9 (captured whole when wire allows).
PipelineTestPacket PipelineTestUdpPacket(uint32_t tsSec, uint32_t tsUsec, const std::string& payload);

// Writes a classic pcap file (link type 1). Returns true on success.
bool PipelineTestWritePcap(const std::string& path, const std::vector<PipelineTestPacket>& packets);

// One packet that tshark says matches: its capture time in microseconds
// since 1970 and its wire length.
struct PipelineTestMatch {
    int64_t usec;
    uint64_t length;
};

// Runs tshark -r path [-Y filter] -T fields -e frame.time_epoch -e frame.len
// (no filter when it is empty). Returns true when tshark ran and exited 0.
bool PipelineTestTsharkMatches(const std::string& path, const std::string& filter, std::vector<PipelineTestMatch>* out);

// Open descriptors, threads of this process, and live child processes.
int PipelineTestOpenFds();
int PipelineTestThreads();
int PipelineTestChildren();

// A fresh folder under LUMO_TEST_TMP (removed by the caller if it wants).
std::string PipelineTestTempDir(const std::string& name);
