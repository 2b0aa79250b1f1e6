// SPDX-License-Identifier: GPL-2.0-or-later
// judgesplit.cpp - the conversation of a packet, and the fields that span
// conversations.
#include "pipeline/judgesplit.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "filterset/filterset.h"

namespace {

// Fields (and protocols: every field inside them) whose values one judge
// of a conversation's packets would get wrong. One list, with the reason
// for each entry; the judge checks its compiled filters against it, the
// manager the texts.
struct BoundField {
    const char* name;
    const char* reason;
};

constexpr char kNumbered[] = "numbered in order of first appearance over all conversations";
constexpr char kSignalled[] =
    "its streams are found from the signalling of another conversation (SIP/SDP, H.245, RTSP, FTP)";

const BoundField kBoundFields[] = {
    {"frame.time_delta", "the time since the previous captured packet, of any conversation"},
    {"frame.time_delta_displayed", "the time since the previous packet shown, of any conversation"},
    {"frame.cum_bytes", "the bytes of every packet before, of any conversation"},
    {"tcp.stream", kNumbered},
    {"udp.stream", kNumbered},
    {"dccp.stream", kNumbered},
    {"sctp.assoc_index", kNumbered},
    {"mptcp.stream", kNumbered},
    {"wg.stream", kNumbered},
    {"bt-utp.stream", kNumbered},
    {"quic.connection.number", kNumbered},
    {"mptcp", "its subflows join connections between other address pairs"},
    {"rtp", kSignalled},
    {"rtcp", kSignalled},
    {"rtpevent", kSignalled},
    {"srtp", kSignalled},
    {"srtcp", kSignalled},
    {"t38", kSignalled},
    {"ftp-data", kSignalled},
    {"msrp", kSignalled},
};

bool FieldChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
}

// The entry that text[0..length) is, or is a field inside.
const BoundField* BoundOf(const char* text, size_t length) {
    for (const BoundField& b : kBoundFields) {
        size_t n = strlen(b.name);
        if (length >= n && memcmp(text, b.name, n) == 0 && (length == n || text[n] == '.')) return &b;
    }
    return nullptr;
}

// The first listed name among the names in text (a filter, a field), or
// nullptr; a macro ("${") answers with a reason of its own.
const char* BlockerIn(const char* text, const char** reason) {
    static const char kMacro[] = "a macro or field reference, which may stand for any field";
    if (strstr(text, "${")) {
        *reason = kMacro;
        return "${...}";
    }
    for (const char* p = text; *p;) {
        if (!FieldChar(*p)) {
            ++p;
            continue;
        }
        const char* start = p;
        while (*p && FieldChar(*p)) ++p;
        if (const BoundField* b = BoundOf(start, static_cast<size_t>(p - start))) {
            *reason = b->reason;
            return b->name;
        }
    }
    return nullptr;
}

// FNV-1a over bytes.
uint64_t Mix(uint64_t h, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

// The judge of the unordered pair a, b (n bytes each).
int PairJudge(const uint8_t* a, const uint8_t* b, size_t n, int judges) {
    if (memcmp(a, b, n) > 0) {
        const uint8_t* t = a;
        a = b;
        b = t;
    }
    uint64_t h = Mix(0xcbf29ce484222325ull, a, n);
    h = Mix(h, b, n);
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ull;
    h ^= h >> 32;
    return static_cast<int>(h % static_cast<uint64_t>(judges));
}

// An IP packet at data[at..length): its address pair's judge, or -1.
int IpJudge(const uint8_t* data, uint32_t length, uint32_t at, int judges) {
    if (at >= length) return -1;
    int version = data[at] >> 4;
    if (version == 4 && length - at >= 20) return PairJudge(data + at + 12, data + at + 16, 4, judges);
    if (version == 6 && length - at >= 40) return PairJudge(data + at + 8, data + at + 24, 16, judges);
    return -1;
}

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// What an EtherType at data[at - 2] leads to: the judge of the IP packet
// behind the tags, labels and PPPoE it names, or -1.
int EtherJudge(const uint8_t* data, uint32_t length, uint32_t at, uint16_t type, int judges) {
    for (;;) {
        if (type == 0x8100 || type == 0x88a8 || type == 0x9100) {  // VLAN tags, stacked or not
            if (length < at + 4) return -1;
            type = Be16(data + at + 2);
            at += 4;
        } else if (type == 0x8847 || type == 0x8848) {  // MPLS: the labels, then IP by its version
            while (length >= at + 4 && !(data[at + 2] & 1)) at += 4;
            return length >= at + 4 ? IpJudge(data, length, at + 4, judges) : -1;
        } else if (type == 0x8864) {  // PPPoE session: IPv4 0x0021, IPv6 0x0057
            if (length < at + 8) return -1;
            uint16_t ppp = Be16(data + at + 6);
            return ppp == 0x0021 || ppp == 0x0057 ? IpJudge(data, length, at + 8, judges) : -1;
        } else if (type == 0x0800 || type == 0x86dd) {
            return IpJudge(data, length, at, judges);
        } else {
            return -1;
        }
    }
}

}  // namespace

int JudgeCountOf(int32_t setting) {
    if (setting > 0) return setting > kJudgesMax ? kJudgesMax : setting;
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    long n = cores - 1;
    if (n < 1) n = 1;
    if (n > 8) n = 8;
    return static_cast<int>(n);
}

int JudgeOfPacket(int linkType, const uint8_t* data, uint32_t length, int judges) {
    if (judges <= 1 || !data) return 0;
    int j = -1;
    switch (linkType) {
        case 1:  // Ethernet: by IP behind it, else by the MAC address pair
            if (length < 14) return 0;
            j = EtherJudge(data, length, 14, Be16(data + 12), judges);
            if (j < 0) j = PairJudge(data, data + 6, 6, judges);
            break;
        case 0:    // BSD loopback, family in host order
        case 108:  // OpenBSD loopback
            j = IpJudge(data, length, 4, judges);
            break;
        case 12:   // raw IP
        case 14:   // raw IP (OpenBSD)
        case 101:  // raw IP (file link type)
        case 228:  // IPv4
        case 229:  // IPv6
            j = IpJudge(data, length, 0, judges);
            break;
        case 113:  // Linux cooked: the protocol at 14
            if (length >= 16) j = EtherJudge(data, length, 16, Be16(data + 14), judges);
            break;
        case 276:  // Linux cooked v2: the protocol at 0
            if (length >= 20) j = EtherJudge(data, length, 20, Be16(data), judges);
            break;
        default: break;
    }
    return j < 0 ? 0 : j;
}

const char* JudgeSplitFieldReason(const char* name) {
    const BoundField* b = BoundOf(name, strlen(name));
    return b ? b->reason : nullptr;
}

int JudgeSplitBlocked(const FilterEntry* entries, int count, char* why, size_t size) {
    for (int i = 0; i < count; ++i) {
        for (const char* text : {entries[i].filterText, entries[i].calc != CalcNone ? entries[i].calcField : ""}) {
            const char* reason = nullptr;
            if (const char* name = BlockerIn(text, &reason)) {
                snprintf(why, size, "%s: %s", name, reason);
                return 1;
            }
        }
    }
    if (size) why[0] = '\0';
    return 0;
}
