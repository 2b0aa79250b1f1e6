// SPDX-License-Identifier: GPL-2.0-or-later
// record.h - the 16-byte pcap record header that the packet ring, the
// rawshark pipes and the dump file carry, little-endian as on disk.
#pragma once

#include <cstdint>

struct PacketRecordHeader {
    uint32_t ts_sec;    // capture time, whole seconds since 1970-01-01 UTC
    uint32_t ts_usec;   // microseconds within the second
    uint32_t incl_len;  // packet bytes that follow (captured length)
    uint32_t orig_len;  // length of the packet on the wire
};
static_assert(sizeof(PacketRecordHeader) == 16, "pcap record header is 16 bytes");
