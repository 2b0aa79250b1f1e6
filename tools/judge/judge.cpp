// SPDX-License-Identifier: GPL-2.0-or-later
// lumo_judge - judges every display filter of a filter set on one dissection
// per packet, from a record stream or from a capture file.
//
//   lumo_judge -d encap:N -n [-N LETTERS] [-o NAME:VALUE]... -R "F1" -R "F2" ...
//   lumo_judge -r FILE -n [-N LETTERS] [-o NAME:VALUE]... -R "F1" -R "F2" ...
//   lumo_judge -j -d encap:N ...        one of several judges of a stream
//   lumo_judge -J I/N -r FILE ...       judge I of N judges of a file
//
// Options as rawshark takes them: -d encap:N gives the link-layer type of
// every record, -n turns name resolution off before -N turns the chosen kinds
// back on, -o sets one preference (applied after the preferences files), -R
// gives one filter, in filter order, at most kMaxFilters. "-l" and "-r -"
// are accepted for the same command shape and change nothing.
//
// Stream mode (-d): input on standard input is the record stream rawshark
// reads, a 16-byte little-endian record header (seconds, microseconds,
// captured length, wire length) followed by the captured bytes, with no file
// header. Output on standard output, one line per record, in record order:
//   K characters '0' or '1' (filter i's verdict at position i), then LF.
//
// File mode (-r FILE): the judge reads the capture file itself through
// Wireshark's file library, so every format and compression tshark opens is
// read, every record with its own link type and pseudo-header, and every
// record tshark counts as a frame is judged as one. Output, in this order:
//   lumo_judge: filter I: MESSAGE     for each filter that does not compile
//   lumo_judge: size BYTES            the file's size (0 when not known)
//   SECS NSECS LEN VERDICTS           one line per record: its capture time
//                                     (seconds since 1970, may be negative,
//                                     and nanoseconds 0..999999999; a record
//                                     without one gets the time of the
//                                     record before it), its frame length,
//                                     K verdict characters
//   lumo_judge: at BYTES              now and then: how far the file is read
//   lumo_judge: end RECORDS           the whole file was read (exit 0)
//   lumo_judge: cut short: TEXT       the file ends inside a record (exit 2)
//   lumo_judge: damaged: TEXT         a record cannot be read (exit 1)
//   lumo_judge: cannot open: TEXT     the file cannot be read at all (exit 1)
// The records before a damaged or cut one are all there.
//
// Field values (-F FIELD after a -R, at most one per filter): for such a
// filter every line above gets, after the verdicts, one word per filter with
// a field, in filter order: "N:SUM:MIN:MAX" over the field's occurrences in
// the packet when the filter matched and the field occurs (N of them), "0"
// otherwise. Integers are written whole, time intervals in nanoseconds,
// floating values with 17 digits. Before any verdict, once per such field:
//   lumo_judge: kind I integer|float|time|other   (other: count only)
//   lumo_judge: field I: MESSAGE    a field that does not exist (its words
//                                   stay "0")
//
// Stream mode in detail:
// Before any verdict, once for each filter that does not compile:
//   lumo_judge: filter I: MESSAGE          (I counts the -R options from 1)
// and that filter's verdict is '0' for every record; the others are judged
// as usual. Every other line begins with "lumo_judge:" too. Output is
// flushed whenever no further input is waiting, so live verdicts leave at
// once and a file's leave in blocks.
//
// Every record gets its line, whatever its bytes: a malformed frame is what
// the dissectors say of it (they catch their own exceptions), a record whose
// wire length is 0 is judged like any other, and a record longer than
// kMaxRecord is read through and judged '0' for every filter. A record cut
// short by the end of input is judged on the bytes that arrived. The
// program exits at end of input: 0, or 1 when the input ended inside a
// record, after bad usage or a failed start, or when the output cannot be
// written (the requester has gone).
//
// Several judges (pipeline/judgesplit.h places a packet by its
// conversation):
//   -j      the stream's record header is 32 bytes: the 16 above, then the
//           packet's frame number in the whole capture (64 bits) and the
//           capture time of the capture's first packet (seconds,
//           microseconds), so frame.number and frame.time_relative judge as
//           with one judge. Each verdict line begins with the frame number
//           and a blank.
//   -J I/N  the judge reads every record of the file and judges those of
//           its conversations. Judge 1 writes every record's line as above
//           (all '0' and words "0" for the records of other judges); the
//           others write "=FRAME VERDICTS WORDS" for theirs.
// With either, a filter or field that refers to a field whose value
// depends on other conversations (judgesplit's list) gives, before any
// verdict:
//   lumo_judge: alone FIELD: REASON
// and with -J judge 1 then judges every record while the others judge none
// (they end at once, after that line).
//
// Standard error joins standard output in the requester's pipe, so once
// judging starts it is pointed at /dev/null: a library message must never
// land inside a verdict line.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <glib.h>

#include <epan/addr_resolv.h>
#include <epan/secrets.h>
#include <epan/dfilter/dfilter.h>
#include <epan/epan.h>
#include <epan/epan_dissect.h>
#include <epan/frame_data.h>
#include <epan/packet.h>
#include <epan/prefs.h>
#include <epan/tvbuff.h>
#include <wiretap/pcap-encap.h>
#include <wiretap/wtap.h>
#include <wsutil/buffer.h>

#include "pipeline/judgesplit.h"
#include "tools/engine/engine.h"

constexpr int kMaxFilters = 16;
// Longest record that is dissected: far beyond any link's frame (libpcap
// itself stops at 256 KiB); the bytes of a longer one are read and dropped.
constexpr uint32_t kMaxRecord = 16u << 20;
constexpr size_t kReadBlock = 256 * 1024;
constexpr int kHeaderSize = 16;
constexpr int kNumberedHeaderSize = 32;  // -j: frame number and the first packet's time after it
constexpr size_t kWordsSize = 4096;      // the field words of one record

// The frames the engine may ask for by number while it dissects: the time
// reference, the previous displayed and the previous captured frame, as a
// single pass over a file keeps them.
struct packet_provider_data {
    const frame_data* ref;
    const frame_data* prevDis;
    const frame_data* prevCap;
};

namespace {

struct JudgeArgs {
    int encap;                       // wiretap encapsulation of -d encap:N
    std::string file;                // -r FILE (file mode); empty: the stream
    bool noResolution;               // -n
    std::string letters;             // -N
    std::vector<std::string> prefs;  // -o, in order
    std::vector<std::string> filters;
    std::vector<std::string> fields;  // -F of each filter
    std::vector<bool> hasField;       // the filter has a -F (its name may be empty)
    bool numbered;                    // -j
    int part, parts;                  // -J I/N; 1/1 without it
};

struct JudgeRecord {
    packet_provider_data provider;
    frame_data refFrame, prevDisFrame, prevCapFrame;
    nstime_t elapsed;
    guint32 cumBytes;
    guint32 count;  // records judged so far
    int fileType;
    epan_t* session;
    epan_dissect_t edt;
    dfilter_t* codes[kMaxFilters];
    // -F: the field's registrations (one name may have several) and its kind
    std::vector<int> fieldIds[kMaxFilters];
    int fieldKind[kMaxFilters];  // KindNone when the filter has no field
    int fieldCount;              // filters with a field
    bool compiled[kMaxFilters];
    int filterCount;
    int encap;
    bool dissect;                      // some filter compiled: records are dissected (else only counted)
    wtap* file;                        // file mode: the capture file
    std::vector<unsigned char> input;  // bytes read and not yet judged, from `start`
    size_t start;
    // several judges: -j, -J I/N, and whether the filters keep every packet on judge 1
    bool numbered;
    int part, parts;
    bool alone;
};

JudgeRecord Judge;

const nstime_t* FrameTs(packet_provider_data* prov, guint32 number) {
    for (const frame_data* f : {prov->ref, prov->prevDis, prov->prevCap}) {
        if (f && f->num == number) return &f->abs_ts;
    }
    return nullptr;
}

// An interface's name or description as the file's interface blocks give
// them (pcapng), the way tshark answers frame.interface_name.
const char* InterfaceText(guint32 id, bool description) {
    if (!Judge.file) return description ? nullptr : "unknown";
    wtapng_iface_descriptions_t* idb = wtap_file_get_idb_info(Judge.file);
    wtap_block_t block = nullptr;
    if (idb && id < idb->interface_data->len) block = g_array_index(idb->interface_data, wtap_block_t, id);
    g_free(idb);
    char* text = nullptr;
    if (block) {
        if (description) {
            if (wtap_block_get_string_option_value(block, OPT_IDB_DESCRIPTION, &text) == WTAP_OPTTYPE_SUCCESS) {
                return text;
            }
            return nullptr;
        }
        for (guint option : {OPT_IDB_NAME, OPT_IDB_DESCRIPTION, OPT_IDB_HARDWARE}) {
            if (wtap_block_get_string_option_value(block, option, &text) == WTAP_OPTTYPE_SUCCESS) return text;
        }
    }
    return description ? nullptr : "unknown";
}

const char* InterfaceName(packet_provider_data*, guint32 id) { return InterfaceText(id, false); }
const char* InterfaceDescription(packet_provider_data*, guint32 id) { return InterfaceText(id, true); }

const packet_provider_funcs kProviderFuncs = {FrameTs, InterfaceName, InterfaceDescription, nullptr};

// ---------------------------------------------------------------- arguments

// The reason comes last: a requester keeps the last line as the judge's
// word on why it ended.
int Usage(const char* what) {
    fprintf(stderr,
            "lumo_judge: usage: lumo_judge -d encap:N | -r FILE [-n] [-N LETTERS] [-o NAME:VALUE]... -R FILTER...\n"
            "lumo_judge: %s\n",
            what);
    return 0;
}

// Parses the command line; the engine is up already (-d needs wiretap).
int ParseArgs(int argc, char** argv, JudgeArgs* args) {
    args->encap = WTAP_ENCAP_UNKNOWN;
    args->part = args->parts = 1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-n") {
            args->noResolution = true;
            continue;
        }
        if (a == "-l") continue;
        if (a == "-j") {
            args->numbered = true;
            continue;
        }
        if (a != "-d" && a != "-N" && a != "-o" && a != "-R" && a != "-r" && a != "-F" && a != "-J") {
            return Usage(("unknown option \"" + a + "\"").c_str());
        }
        if (i + 1 >= argc) return Usage((a + " needs a value").c_str());
        std::string v = argv[++i];
        if (a == "-d") {
            char* end = nullptr;
            long dlt = v.rfind("encap:", 0) == 0 ? strtol(v.c_str() + 6, &end, 10) : -1;
            if (!end || end == v.c_str() + 6 || *end || dlt < 0) {
                return Usage(("invalid link type \"" + v + "\"").c_str());
            }
            args->encap = wtap_pcap_encap_to_wtap_encap(static_cast<int>(dlt));
            if (args->encap == WTAP_ENCAP_UNKNOWN) return Usage(("unknown link type \"" + v + "\"").c_str());
        } else if (a == "-N") {
            args->letters = v;
        } else if (a == "-o") {
            args->prefs.push_back(v);
        } else if (a == "-r") {
            if (v != "-") args->file = v;
        } else if (a == "-J") {
            int part = 0, parts = 0;
            char extra = 0;
            if (sscanf(v.c_str(), "%d/%d%c", &part, &parts, &extra) != 2 || parts < 1 || parts > kJudgesMax ||
                part < 1 || part > parts) {
                return Usage(("invalid judge \"" + v + "\" (I/N, 1 <= I <= N <= 16)").c_str());
            }
            args->part = part;
            args->parts = parts;
        } else if (a == "-F") {
            if (args->filters.empty() || args->hasField.back()) {
                return Usage("-F FIELD follows the -R of its filter, once");
            }
            args->fields.back() = v;
            args->hasField.back() = true;
        } else {
            if (static_cast<int>(args->filters.size()) == kMaxFilters) {
                return Usage("at most 16 filters (-R)");
            }
            args->filters.push_back(v);
            args->fields.push_back("");
            args->hasField.push_back(false);
        }
    }
    if (!args->file.empty() && args->encap != WTAP_ENCAP_UNKNOWN) {
        return Usage("-r FILE and -d encap:N exclude each other");
    }
    if (args->file.empty() && args->encap == WTAP_ENCAP_UNKNOWN) return Usage("-d encap:N is required");
    if (args->numbered && !args->file.empty()) return Usage("-j is for a stream (-d), -J I/N for a file");
    if (args->parts > 1 && args->file.empty()) return Usage("-J I/N needs -r FILE");
    return 1;
}

// Name resolution and preferences in rawshark's order: the files (loaded at
// start-up), then -n and -N, then -o, then every module told of the changes.
int ApplyOptions(const JudgeArgs* args) {
    if (args->noResolution) disable_name_resolution();
    if (!args->letters.empty()) {
        char bad = string_to_name_resolve(args->letters.c_str(), &gbl_resolv_flags);
        if (bad != '\0') {
            return Usage((std::string("unknown name resolution letter '") + bad + "'").c_str());
        }
    }
    for (const std::string& p : args->prefs) {
        char* message = nullptr;
        std::vector<char> text(p.begin(), p.end());
        text.push_back('\0');
        prefs_set_pref_e result = prefs_set_pref(text.data(), &message);
        g_free(message);
        if (result != PREFS_SET_OK) return Usage(("preference \"" + p + "\" is not valid").c_str());
    }
    prefs_apply_all();
    return 1;
}

// One line for each filter that does not compile; a line break in the
// compiler's reason would break the one-line rule, so it becomes a blank.
void CompileFilters(const JudgeArgs* args) {
    Judge.filterCount = static_cast<int>(args->filters.size());
    for (int i = 0; i < Judge.filterCount; ++i) {
        gchar* error = nullptr;
        Judge.codes[i] = nullptr;
        Judge.compiled[i] = dfilter_compile(args->filters[i].c_str(), &Judge.codes[i], &error);
        if (!Judge.compiled[i]) {
            std::string reason = error ? error : "the filter does not compile";
            for (char& c : reason) {
                if (c == '\n' || c == '\r') c = ' ';
            }
            printf("lumo_judge: filter %d: %s\n", i + 1, reason.c_str());
        }
        g_free(error);
    }
}

// ---------------------------------------------------------------- fields

enum FieldKind { KindNone = 0, KindInteger = 1, KindFloat = 2, KindTime = 3, KindOther = 4 };

int KindOf(ftenum_t type) {
    if (IS_FT_INT(type) || IS_FT_UINT(type)) return KindInteger;
    if (type == FT_FLOAT || type == FT_DOUBLE) return KindFloat;
    if (type == FT_RELATIVE_TIME) return KindTime;
    return KindOther;
}

// The field of each -F: every registration of its name, its kind, a line
// that says which; a name that is no field gets its message instead.
void CompileFields(const JudgeArgs* args) {
    Judge.fieldCount = 0;
    for (int i = 0; i < Judge.filterCount; ++i) {
        Judge.fieldKind[i] = KindNone;
        Judge.fieldIds[i].clear();
        if (!args->hasField[static_cast<size_t>(i)]) continue;
        const std::string& name = args->fields[static_cast<size_t>(i)];
        Judge.fieldCount++;
        header_field_info* hfi = name.empty() ? nullptr : proto_registrar_get_byname(name.c_str());
        if (!hfi) {
            Judge.fieldKind[i] = KindOther;
            if (name.empty()) {
                printf("lumo_judge: field %d: no field name was given\n", i + 1);
            } else {
                printf("lumo_judge: field %d: %s is not a field name\n", i + 1, name.c_str());
            }
            continue;
        }
        while (hfi->same_name_prev_id != -1) hfi = proto_registrar_get_nth(hfi->same_name_prev_id);
        for (; hfi; hfi = hfi->same_name_next) Judge.fieldIds[i].push_back(hfi->id);
        Judge.fieldKind[i] = KindOf(proto_registrar_get_ftype(Judge.fieldIds[i][0]));
        static const char* const kNames[] = {"", "integer", "float", "time", "other"};
        printf("lumo_judge: kind %d %s\n", i + 1, kNames[Judge.fieldKind[i]]);
    }
}

// Appends the words of the fields of the packet just dissected (" " before
// each) to out; returns the end.
char* FieldWords(const char* verdicts, char* out, char* end) {
    for (int i = 0; i < Judge.filterCount; ++i) {
        if (Judge.fieldKind[i] == KindNone) continue;
        uint64_t n = 0;
        long double sum = 0, min = 0, max = 0;
        if (verdicts[i] == '1') {
            for (int id : Judge.fieldIds[i]) {
                GPtrArray* found = proto_get_finfo_ptr_array(Judge.edt.tree, id);
                if (!found) continue;
                for (guint k = 0; k < found->len; ++k) {
                    field_info* fi = static_cast<field_info*>(g_ptr_array_index(found, k));
                    fvalue_t* fv = &fi->value;
                    ftenum_t type = fvalue_type_ftenum(fv);
                    long double v = 0;
                    if (IS_FT_INT32(type)) {
                        v = fvalue_get_sinteger(fv);
                    } else if (IS_FT_INT64(type)) {
                        v = static_cast<long double>(fvalue_get_sinteger64(fv));
                    } else if (IS_FT_UINT32(type)) {
                        v = fvalue_get_uinteger(fv);
                    } else if (IS_FT_UINT64(type)) {
                        v = static_cast<long double>(fvalue_get_uinteger64(fv));
                    } else if (type == FT_FLOAT || type == FT_DOUBLE) {
                        v = fvalue_get_floating(fv);
                    } else if (type == FT_RELATIVE_TIME) {
                        const nstime_t* t = fvalue_get_time(fv);
                        v = static_cast<long double>(t->secs) * 1000000000.0L + t->nsecs;
                    }
                    if (n == 0 || v < min) min = v;
                    if (n == 0 || v > max) max = v;
                    sum += v;
                    ++n;
                }
            }
        }
        if (n == 0 || Judge.fieldKind[i] == KindOther) {
            if (n == 0) {
                out += snprintf(out, static_cast<size_t>(end - out), " 0");
            } else {
                out += snprintf(out, static_cast<size_t>(end - out), " %llu:0:0:0", static_cast<unsigned long long>(n));
            }
        } else if (Judge.fieldKind[i] == KindFloat) {
            out += snprintf(out, static_cast<size_t>(end - out), " %llu:%.17Lg:%.17Lg:%.17Lg",
                            static_cast<unsigned long long>(n), sum, min, max);
        } else {
            out += snprintf(out, static_cast<size_t>(end - out), " %llu:%.0Lf:%.0Lf:%.0Lf",
                            static_cast<unsigned long long>(n), sum, min, max);
        }
        if (out > end) out = end;
    }
    return out;
}

// ---------------------------------------------------------------- several judges

// Whether a filter or a field refers to a field whose values depend on
// other conversations: the compiled filters' fields (through the tree they
// prime) and the -F names, against judgesplit's list. Writes the line that
// says which. The engine's dissection record is up.
bool FindAlone(const JudgeArgs* args) {
    const char* name = nullptr;
    const char* reason = nullptr;
    // a dissection record of its own: primed, read, freed, never run
    epan_dissect_t* edt = epan_dissect_new(Judge.session, TRUE, FALSE);
    for (int i = 0; i < Judge.filterCount && !reason; ++i) {
        if (Judge.codes[i]) epan_dissect_prime_with_dfilter(edt, Judge.codes[i]);
        if (!Judge.fieldIds[i].empty()) {
            name = args->fields[static_cast<size_t>(i)].c_str();
            reason = JudgeSplitFieldReason(name);
        }
    }
    GHashTable* primed = edt->tree ? edt->tree->tree_data->interesting_hfids : nullptr;
    if (primed && !reason) {
        GHashTableIter it;
        gpointer key, value;
        g_hash_table_iter_init(&it, primed);
        while (!reason && g_hash_table_iter_next(&it, &key, &value)) {
            header_field_info* hfi = proto_registrar_get_nth(static_cast<guint>(GPOINTER_TO_INT(key)));
            if (hfi && (reason = JudgeSplitFieldReason(hfi->abbrev))) name = hfi->abbrev;
        }
    }
    epan_dissect_free(edt);
    if (!reason) return false;
    printf("lumo_judge: alone %s: %s\n", name, reason);
    return true;
}

// ---------------------------------------------------------------- judging

uint32_t Le32(const unsigned char* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Judges record `rec` (the next frame number) into line[0..K): one
// dissection with the tree primed for every filter that compiled, or none
// when no filter did (every verdict is then '0'). data holds the record's
// captured bytes; offset is where it lies in the file. Returns the frame's
// length as the engine counts it (frame.len).
uint32_t JudgeRecordInto(wtap_rec* rec, const unsigned char* data, gint64 offset, char* line, char* words,
                         char* wordsEnd, bool skip = false) {
    int k = Judge.filterCount;
    Judge.count++;
    frame_data fdata;
    frame_data_init(&fdata, Judge.count, rec, offset, Judge.cumBytes);
    uint32_t length = fdata.pkt_len;
    if (!Judge.dissect || skip) {
        // skip: another judge's record; nothing matches here
        // no filter needs the tree: only an empty one matches, and no field is asked for
        for (int i = 0; i < k; ++i) line[i] = !skip && Judge.compiled[i] && !Judge.codes[i] ? '1' : '0';
        *FieldWords(line, words, wordsEnd) = '\0';
        frame_data_set_after_dissect(&fdata, &Judge.cumBytes);
        frame_data_destroy(&fdata);
        return length;
    }
    for (int i = 0; i < k; ++i) {
        if (Judge.codes[i]) epan_dissect_prime_with_dfilter(&Judge.edt, Judge.codes[i]);
        for (int id : Judge.fieldIds[i]) epan_dissect_prime_with_hfid(&Judge.edt, id);
    }
    prime_epan_dissect_with_postdissector_wanted_hfids(&Judge.edt);
    frame_data_set_before_dissect(&fdata, &Judge.elapsed, &Judge.provider.ref, Judge.provider.prevDis);
    if (Judge.provider.ref == &fdata) {
        Judge.refFrame = fdata;
        Judge.provider.ref = &Judge.refFrame;
    }
    // The reported length is the frame's length, as for a frame read from a
    // file; the dissectors throw (and catch) past the captured bytes.
    tvbuff_t* tvb =
        tvb_new_real_data(data, fdata.cap_len, static_cast<gint>(fdata.pkt_len > G_MAXINT ? G_MAXINT : fdata.pkt_len));
    epan_dissect_run(&Judge.edt, Judge.fileType, rec, tvb, &fdata, nullptr);
    frame_data_set_after_dissect(&fdata, &Judge.cumBytes);
    Judge.prevDisFrame = fdata;
    Judge.provider.prevDis = &Judge.prevDisFrame;
    Judge.prevCapFrame = fdata;
    Judge.provider.prevCap = &Judge.prevCapFrame;
    for (int i = 0; i < k; ++i) {
        int passed = 0;
        if (Judge.compiled[i]) passed = Judge.codes[i] ? dfilter_apply_edt(Judge.codes[i], &Judge.edt) : 1;
        line[i] = passed ? '1' : '0';
    }
    *FieldWords(line, words, wordsEnd) = '\0';
    epan_dissect_reset(&Judge.edt);  // frees the tvb chain
    frame_data_destroy(&fdata);
    return length;
}

// The pcap link type of a record's encapsulation, among those whose
// conversations judgesplit reads (-1 for any other: judge 1 takes it).
int LinkTypeOf(int encap) {
    for (int dlt : {0, 1, 12, 14, 101, 108, 113, 228, 229, 276}) {
        if (wtap_pcap_encap_to_wtap_encap(dlt) == encap) return dlt;
    }
    return -1;
}

// With several judges every frame's time is taken from the capture's first
// packet, which this judge may never see: a frame of that time stands in.
void SetFirstFrame(const nstime_t* first) {
    if (Judge.provider.ref) return;
    memset(&Judge.refFrame, 0, sizeof Judge.refFrame);
    Judge.refFrame.num = 1;
    Judge.refFrame.abs_ts = *first;
    Judge.provider.ref = &Judge.refFrame;
}

// Stream mode: judges one record of the stream and writes its verdict line.
// data holds caplen bytes (nullptr: judge nothing, every verdict '0').
void JudgeOne(const unsigned char* header, const unsigned char* data, uint32_t caplen) {
    char line[kMaxFilters + 1];
    char words[kWordsSize];
    words[0] = '\0';
    int k = Judge.filterCount;
    if (Judge.numbered) {
        // -j: this record's frame number and the capture's first time
        uint64_t frame = uint64_t{Le32(header + 16)} | uint64_t{Le32(header + 20)} << 32;
        Judge.count = static_cast<guint32>(frame - 1);
        nstime_t first = {static_cast<time_t>(Le32(header + 24)), static_cast<int>(Le32(header + 28) * 1000u)};
        SetFirstFrame(&first);
        printf("%llu ", static_cast<unsigned long long>(frame));
    }
    if (!data) {
        Judge.count++;
        memset(line, '0', static_cast<size_t>(k));
        *FieldWords(line, words, words + sizeof words - 1) = '\0';
    } else {
        wtap_rec rec;
        wtap_rec_init(&rec);
        rec.rec_type = REC_TYPE_PACKET;
        rec.presence_flags = WTAP_HAS_TS | WTAP_HAS_CAP_LEN;
        rec.tsprec = WTAP_TSPREC_USEC;
        rec.ts.secs = static_cast<time_t>(Le32(header));
        rec.ts.nsecs = static_cast<int>(Le32(header + 4) * 1000u);
        rec.rec_header.packet_header.caplen = caplen;
        rec.rec_header.packet_header.len = Le32(header + 12);
        rec.rec_header.packet_header.pkt_encap = Judge.encap;
        // What the capture-file library sets for an Ethernet record of a pcap
        // file: the frame check sequence is not known to be there.
        if (Judge.encap == WTAP_ENCAP_ETHERNET) rec.rec_header.packet_header.pseudo_header.eth.fcs_len = -1;
        JudgeRecordInto(&rec, data, 0, line, words, words + sizeof words - 1);
        wtap_rec_cleanup(&rec);
    }
    fwrite(line, 1, static_cast<size_t>(k), stdout);
    fputs(words, stdout);
    fputc('\n', stdout);
}

// Reads what is there (at least one byte unless at end of input) onto the
// end of the input. Flushes the verdicts first when nothing is waiting, so a
// live requester never waits for a full buffer. Returns bytes read, 0 at end
// of input, -1 on a read error or a failed write.
ssize_t ReadMore(size_t want) {
    pollfd p = {0, POLLIN, 0};
    int ready;
    do {
        ready = poll(&p, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0 && fflush(stdout) != 0) return -1;
    std::vector<unsigned char>& in = Judge.input;
    size_t have = in.size();
    in.resize(have + want);
    ssize_t got;
    do {
        got = read(0, in.data() + have, want);
    } while (got < 0 && errno == EINTR);
    in.resize(have + (got > 0 ? static_cast<size_t>(got) : 0));
    return got;
}

// Makes at least `need` bytes available from Judge.start, keeping the
// buffer compact. Returns 1, 0 at end of input (fewer bytes held), -1 on an
// error.
int Fill(size_t need) {
    std::vector<unsigned char>& in = Judge.input;
    if (in.size() - Judge.start >= need) return 1;
    if (Judge.start > 0) {
        in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(Judge.start));
        Judge.start = 0;
    }
    while (in.size() < need) {
        size_t want = need - in.size();
        if (want < kReadBlock) want = kReadBlock;
        ssize_t got = ReadMore(want);
        if (got == 0) return 0;
        if (got < 0) return -1;
    }
    return 1;
}

// Reads and drops `count` bytes. Returns 1, 0 at end of input, -1 on error.
int Skip(uint64_t count) {
    while (count > 0) {
        size_t held = Judge.input.size() - Judge.start;
        size_t take = held < count ? held : static_cast<size_t>(count);
        Judge.start += take;
        count -= take;
        if (count == 0) break;
        int r = Fill(1);
        if (r <= 0) return r;
    }
    return 1;
}

// Judges every record of standard input. Returns the exit code.
int JudgeStream() {
    Judge.input.reserve(2 * kReadBlock);
    Judge.start = 0;
    const int headerSize = Judge.numbered ? kNumberedHeaderSize : kHeaderSize;
    for (;;) {
        int r = Fill(static_cast<size_t>(headerSize));
        size_t held = Judge.input.size() - Judge.start;
        if (r < 0) return 1;
        if (r == 0) {
            if (held == 0) break;  // end of input between records: the normal end
            printf("lumo_judge: input ends inside a record header (%zu of %d bytes)\n", held, headerSize);
            fflush(stdout);
            return 1;
        }
        unsigned char header[kNumberedHeaderSize];
        memcpy(header, Judge.input.data() + Judge.start, static_cast<size_t>(headerSize));
        Judge.start += static_cast<size_t>(headerSize);
        uint32_t caplen = Le32(header + 8);
        if (caplen > kMaxRecord) {
            printf("lumo_judge: record %u holds %u bytes, more than %u: not judged\n", Judge.count + 1, caplen,
                   kMaxRecord);
            int s = Skip(caplen);
            if (s < 0) return 1;
            JudgeOne(header, nullptr, 0);
            if (s == 0) {
                fflush(stdout);
                return 1;
            }
            continue;
        }
        r = Fill(caplen);
        if (r < 0) return 1;
        size_t got = Judge.input.size() - Judge.start;
        if (r == 0) {
            printf("lumo_judge: input ends inside record %u (%zu of %u bytes)\n", Judge.count + 1, got, caplen);
            JudgeOne(header, Judge.input.data() + Judge.start, static_cast<uint32_t>(got));
            fflush(stdout);
            return 1;
        }
        JudgeOne(header, Judge.input.data() + Judge.start, caplen);
        Judge.start += caplen;
        if (ferror(stdout)) return 1;
    }
    return fflush(stdout) != 0 || ferror(stdout) ? 1 : 0;
}

// ---------------------------------------------------------------- file mode

// Records between two progress lines.
constexpr uint32_t kProgressEvery = 4096;

// Writes v in decimal at out; returns the end.
char* PutDecimal(char* out, uint64_t v) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (n) *out++ = digits[--n];
    return out;
}

// The library's words for a failure: its text, then its detail when it
// gave one. A line break would split the message line, so it becomes a blank.
std::string FileReason(int err, gchar* info) {
    std::string reason = wtap_strerror(err);
    if (info && *info) reason += std::string(" (") + info + ")";
    g_free(info);
    for (char& c : reason) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return reason;
}

void Progress() { printf("lumo_judge: at %lld\n", static_cast<long long>(wtap_read_so_far(Judge.file))); }

// Judges every record of the file. Returns the exit code.
int JudgeFile(const std::string& path) {
    int err = 0;
    gchar* info = nullptr;
    wtap* file = wtap_open_offline(path.c_str(), WTAP_TYPE_AUTO, &err, &info, FALSE);
    if (!file) {
        printf("lumo_judge: cannot open: %s\n", FileReason(err, info).c_str());
        fflush(stdout);
        return 1;
    }
    Judge.file = file;
    // as tshark: names and secrets the file carries (pcapng blocks) reach the engine
    wtap_set_cb_new_ipv4(file, add_ipv4_name);
    wtap_set_cb_new_ipv6(file, reinterpret_cast<wtap_new_ipv6_callback_t>(add_ipv6_name));
    wtap_set_cb_new_secrets(file, secrets_wtap_callback);
    Judge.fileType = wtap_file_type_subtype(file);
    int sizeErr = 0;
    gint64 size = wtap_file_size(file, &sizeErr);
    printf("lumo_judge: size %lld\n", static_cast<long long>(size > 0 ? size : 0));

    wtap_rec rec;
    Buffer buffer;
    wtap_rec_init(&rec);
    ws_buffer_init(&buffer, 1514);
    gint64 offset = 0;
    int k = Judge.filterCount;
    nstime_t lastTime = {0, 0};
    while (wtap_read(file, &rec, &buffer, &err, &info, &offset)) {
        char line[96 + kMaxFilters];
        char words[kWordsSize];
        char* at = line;
        const unsigned char* data = ws_buffer_start_ptr(&buffer);
        // several judges: this judge's records are those of its conversations
        bool mine = true;
        if (Judge.parts > 1) {
            // the first record's time, as the frame's own time is taken (with or without a stamp)
            if (Judge.count == 0) SetFirstFrame(&rec.ts);
            int judge = 0;
            if (!Judge.alone && rec.rec_type == REC_TYPE_PACKET) {
                judge = JudgeOfPacket(LinkTypeOf(rec.rec_header.packet_header.pkt_encap), data,
                                      rec.rec_header.packet_header.caplen, Judge.parts);
            }
            mine = judge == Judge.part - 1;
        }
        uint32_t length = JudgeRecordInto(&rec, data, offset, at + 64, words, words + sizeof words - 1, !mine);
        if (Judge.part > 1) {
            // the others' lines: only their own records, by frame number
            if (mine) {
                *at++ = '=';
                at = PutDecimal(at, Judge.count);
                *at++ = ' ';
            }
        } else {
            // the record's own time, as the frame's absolute time is taken; a
            // record without one (a simple packet block) stays where the file
            // puts it: at the time of the record before it
            if (rec.presence_flags & WTAP_HAS_TS) {
                lastTime = rec.ts;
            } else {
                rec.ts = lastTime;
            }
            int64_t secs = static_cast<int64_t>(rec.ts.secs);
            if (secs < 0) {
                *at++ = '-';
                at = PutDecimal(at, 0 - static_cast<uint64_t>(secs));
            } else {
                at = PutDecimal(at, static_cast<uint64_t>(secs));
            }
            *at++ = ' ';
            at = PutDecimal(at, static_cast<uint64_t>(rec.ts.nsecs < 0 ? 0 : rec.ts.nsecs));
            *at++ = ' ';
            at = PutDecimal(at, length);
            *at++ = ' ';
        }
        if (mine || Judge.part == 1) {
            memmove(at, line + 64, static_cast<size_t>(k));
            at += k;
            fwrite(line, 1, static_cast<size_t>(at - line), stdout);
            fputs(words, stdout);
            fputc('\n', stdout);
        }
        wtap_rec_reset(&rec);
        if (Judge.count % kProgressEvery == 0) Progress();
        if (ferror(stdout)) return 1;
    }
    Progress();
    int code = 0;
    if (err == 0) {
        printf("lumo_judge: end %u\n", Judge.count);
    } else if (err == WTAP_ERR_SHORT_READ) {
        g_free(info);
        printf("lumo_judge: cut short: the file ends in the middle of record %u\n", Judge.count + 1);
        code = 2;
    } else {
        printf("lumo_judge: damaged: %s\n", FileReason(err, info).c_str());
        code = 1;
    }
    ws_buffer_free(&buffer);
    wtap_rec_cleanup(&rec);
    wtap_close(file);
    Judge.file = nullptr;
    return fflush(stdout) != 0 || ferror(stdout) ? 1 : code;
}

}  // namespace

int main(int argc, char** argv) {
    static char outBuffer[64 * 1024];
    setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
    if (!EngineStart("lumo_judge", argv[0])) return 1;
    JudgeArgs args;
    if (!ParseArgs(argc, argv, &args) || !ApplyOptions(&args)) return 1;
    Judge.encap = args.encap;
    Judge.fileType = wtap_pcap_file_type_subtype();
    CompileFilters(&args);
    CompileFields(&args);
    if (fflush(stdout) != 0) return 1;
    // The stream is live traffic: every record is dissected as it always
    // was. A file whose filters all failed needs only its frames' times and
    // lengths.
    Judge.dissect = args.file.empty();
    for (int i = 0; i < Judge.filterCount; ++i) {
        Judge.dissect |= Judge.compiled[i] && (Judge.codes[i] != nullptr || !Judge.fieldIds[i].empty());
    }

    EngineQuiet();
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, 2);
        close(null);
    }
    Judge.session = epan_new(&Judge.provider, &kProviderFuncs);
    epan_dissect_init(&Judge.edt, Judge.session, TRUE, FALSE);
    Judge.numbered = args.numbered;
    Judge.part = args.part;
    Judge.parts = args.parts;
    if (args.numbered || args.parts > 1) Judge.alone = FindAlone(&args);
    if (Judge.alone && Judge.part > 1) {
        // judge 1 judges every record: nothing is left for this one
        printf("lumo_judge: end 0\n");
        return fflush(stdout) != 0 ? 1 : 0;
    }
    // The engine is not torn down at the end: the process ends right after,
    // and a teardown would only delay the exit of a judge being replaced.
    return args.file.empty() ? JudgeStream() : JudgeFile(args.file);
}
