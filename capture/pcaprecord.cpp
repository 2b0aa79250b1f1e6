// SPDX-License-Identifier: GPL-2.0-or-later
// pcaprecord.cpp - the one conversion of the library's packet header.
#include "capture/pcaprecord.h"

#include <pcap/pcap.h>

void CaptureRecordFromPcap(const struct pcap_pkthdr* pcap, PacketRecordHeader* record) {
    record->ts_sec = static_cast<uint32_t>(pcap->ts.tv_sec);
    record->ts_usec = static_cast<uint32_t>(pcap->ts.tv_usec);
    record->incl_len = pcap->caplen;
    record->orig_len = pcap->len;
}

void CaptureRecordFromPcapNano(const struct pcap_pkthdr* pcap, PacketRecordHeader* record) {
    CaptureRecordFromPcap(pcap, record);
    record->ts_usec = static_cast<uint32_t>(pcap->ts.tv_usec / 1000);
}
