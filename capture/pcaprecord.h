// SPDX-License-Identifier: GPL-2.0-or-later
// pcaprecord.h - the capture library's packet header as the 16-byte record
// header that the ring, the judging processes and the dump file take. Every
// packet source (live capture, capture-file reader) converts here, and only
// here.
#pragma once

#include "pipeline/record.h"

struct pcap_pkthdr;

// Fills record from the library's header (seconds, microseconds, captured
// and wire length). Any thread.
void CaptureRecordFromPcap(const struct pcap_pkthdr* pcap, PacketRecordHeader* record);

// The same for a header of a file opened with nanosecond precision, whose
// second field holds nanoseconds: the record keeps microseconds.
void CaptureRecordFromPcapNano(const struct pcap_pkthdr* pcap, PacketRecordHeader* record);
