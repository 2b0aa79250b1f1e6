// SPDX-License-Identifier: GPL-2.0-or-later
// judgesplit.h - how packets are shared among several lumo_judge processes:
// how many judges, which judge takes a packet, and which fields keep a
// filter set on one judge.
//
// A packet goes to the judge of its conversation: the unordered pair of its
// (outer) network addresses, IPv4 or IPv6, behind VLAN tags, MPLS labels
// and PPPoE; a packet without network addresses by its link-layer address
// pair. Both directions, every port between two hosts and every fragment
// land together, so what a dissector ties together (TCP analysis,
// reassembly, request and response) is in one process. Whatever cannot be
// read goes to judge 0.
//
// The manager and lumo_judge both use this file, so a packet is placed the
// same way live (the capture thread chooses) and from a file (each judge
// chooses for itself).
#pragma once

#include <cstddef>
#include <cstdint>

struct FilterEntry;

constexpr int kJudgesMax = 16;

// The judges a setting asks for: 0 (or less) is automatic, the processors
// less one, at least 1 and at most 8; more than kJudgesMax gives kJudgesMax.
int JudgeCountOf(int32_t setting);

// The judge (0..judges-1) of a packet of link type linkType (a pcap DLT)
// whose captured bytes are data[0..length).
int JudgeOfPacket(int linkType, const uint8_t* data, uint32_t length, int judges);

// Why a field's values depend on packets of other conversations (so that
// judging by conversation would change them), or nullptr when they do not.
// name is a field or protocol name as a filter or a calculation writes it;
// a field inside a listed protocol ("rtp.ssrc") answers as the protocol.
const char* JudgeSplitFieldReason(const char* name);

// 1 when a filter or calculation of entries[0..count) names such a field
// (or uses a macro, which may stand for one), with "FIELD: REASON" in why;
// 0 when the set may be judged by several judges.
int JudgeSplitBlocked(const FilterEntry* entries, int count, char* why, size_t size);
