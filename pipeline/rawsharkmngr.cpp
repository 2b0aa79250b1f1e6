// SPDX-License-Identifier: GPL-2.0-or-later
// rawsharkmngr.cpp - the judging processes of the current filter set (one
// lumo_judge for every filter, several sharing the packets by conversation,
// or one rawshark per filter), their reader threads, and what a verdict
// does in each program.
//
//   messages      RawsharkMessageStore / Load (the lock-free LastMessage)
//   reader        the entry's lines through rawsharklines, how an ended
//                 process is told, the reader thread
//   list          RawsharkMngrListEdit(Offline), RawsharkMngrListClear
//   packets       RawsharkMngrWritePacket, the bounded write
//   reading       RawsharkMngrCount, ReadBytes/Packets, AllDone, LastMessage
//
// The command lines are built by rawsharkcommand, the output lines parsed by
// rawsharklines.
#include "pipeline/rawsharkmngr_internal.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <poll.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pipeline/judgesplit.h"
#include "pipeline/packetstore.h"
#include "pipeline/rawsharkcommand.h"
#include "platform/platform.h"
#include "shell/debuglog.h"

namespace {

// Verdict rows of several judges waiting for the frames before them: frame
// f in slot f & (kMergeSlots - 1).
constexpr uint64_t kMergeSlots = 65536;

struct MergeSlot {
    std::atomic<uint64_t> frame;  // the frame whose row this is; 0: free
    char verdicts[FilterSetMax];
};

// Several judges, live: each judge's reader puts its rows in the slots of
// their frames; whoever holds the lock applies the rows in frame order to
// the counters, so each counter still advances over the ring packet by
// packet. A judge that falls behind holds up only the counters.
struct JudgeMerge {
    MergeSlot* slots;  // kMergeSlots, allocated with the entries
    CalcCell* cells;   // kMergeSlots rows of FilterSetMax, when a position has a calculation
    std::mutex lock;
    int32_t judges;                // judges of the list being built or run (2 or more: numbered)
    uint64_t next;                 // the next frame to apply (under lock)
    std::atomic<int32_t> broken;   // a judge ended before its input did: every entry has ended
    std::atomic<int32_t> running;  // judge readers not yet ended
    uint64_t written;              // packet source: frames handed to the judges
    PacketRecordHeader first;      // packet source: the capture's first packet
    int32_t linkType;
};

struct RawsharkMngrRecord {
    // FilterSetMax entries and the judges' after them, allocated by the
    // first build and kept for the life of the process, so a late reader
    // never meets freed memory.
    RawsharkEntry* entries;
    std::atomic<int32_t> count;        // entries of the current list
    std::atomic<int32_t> judgeActive;  // judges of the list, entries[FilterSetMax + j]; 0: none
    std::atomic<int32_t> clearing;     // 1 while a teardown kills the processes
    // The command of the process being started; a record this large stays
    // off the stack, and the builds that use it run one at a time.
    RawsharkCommand command;
    JudgeMerge merge;
};

RawsharkMngrRecord RawsharkMngr;  // constant-initialised, all zero

constexpr char kJudgeName[] = "lumo_judge";

RawsharkEntry* JudgeEntry(int j = 0) { return &RawsharkMngr.entries[FilterSetMax + j]; }

int JudgeCount() { return RawsharkMngr.judgeActive.load(std::memory_order_acquire); }

bool IsJudge(const RawsharkEntry* entry) { return entry->servedCount > 0; }

}  // namespace

// ---------------------------------------------------------------- messages

// A sequence-counted copy: the writer makes the sequence odd, stores the
// words with release, and makes it even again; a reader that saw an odd
// sequence, or a different one after its (acquire) word loads, tries again.
void RawsharkMessageStore(RawsharkMessage* message, const char* text, int length) {
    if (length < 0) length = 0;
    if (length > kRawsharkMessageSize - 1) length = kRawsharkMessageSize - 1;
    uint64_t words[kRawsharkMessageSize / 8] = {};
    memcpy(words, text, static_cast<size_t>(length));
    uint32_t s = message->sequence.load(std::memory_order_relaxed);
    message->sequence.store(s + 1, std::memory_order_relaxed);
    for (int i = 0; i < kRawsharkMessageSize / 8; ++i) message->words[i].store(words[i], std::memory_order_release);
    message->sequence.store(s + 2, std::memory_order_release);
}

void RawsharkMessageLoad(const RawsharkMessage* message, char* dest) {
    uint64_t words[kRawsharkMessageSize / 8];
    for (;;) {
        uint32_t before = message->sequence.load(std::memory_order_acquire);
        if (before & 1) {
            std::this_thread::yield();
            continue;
        }
        for (int i = 0; i < kRawsharkMessageSize / 8; ++i) words[i] = message->words[i].load(std::memory_order_acquire);
        if (message->sequence.load(std::memory_order_relaxed) == before) break;
    }
    memcpy(dest, words, kRawsharkMessageSize);
    dest[kRawsharkMessageSize - 1] = '\0';
}

// ---------------------------------------------------------------- reader

// What one verdict does: the only difference between the two programs.
static void ApplyVerdict(RawsharkEntry* entry, int matched, const CalcCell* cell = nullptr) {
    if (entry->mode == RawsharkMngrLive) {
        SampleCounterAdvanceCalc(&entry->counter, matched, cell);
        return;
    }
    int64_t k = entry->cursor.load(std::memory_order_relaxed);
    // A verdict with no stored packet behind it (a stray line) is dropped.
    if (k >= PacketStoreCount()) return;
    if (matched) PacketStoreMark(k, entry->index);
    entry->cursor.store(k + 1, std::memory_order_release);
}

// The entry a line of entry's process speaks for: a rawshark's lines are its
// own entry's; the judge's position p is its p-th served entry, and its
// messages of no position are its own.
static RawsharkEntry* LineTarget(RawsharkEntry* entry, int position) {
    if (position < 0 || !IsJudge(entry)) return entry;
    return &RawsharkMngr.entries[entry->served[position]];
}

static void LineVerdict(void* context, int position, int matched, const CalcCell* cell) {
    ApplyVerdict(LineTarget(static_cast<RawsharkEntry*>(context), position), matched, cell);
}

static void LineKind(void* context, int position, int kind) {
    RawsharkEntry* entry = LineTarget(static_cast<RawsharkEntry*>(context), position);
    entry->calcKind.store(kind, std::memory_order_relaxed);
    if (kind == CalcKindOther && entry->filter.calc != CalcCount) {
        char text[kRawsharkMessageSize];
        int n = snprintf(text, sizeof text, "%s holds neither numbers nor time intervals: only count works on it",
                         entry->filter.calcField);
        RawsharkMessageStore(&entry->LastMessage, text, n < 0 ? 0 : n);
    }
}

static void LineMessage(void* context, int position, const char* text, int length) {
    RawsharkMessageStore(&LineTarget(static_cast<RawsharkEntry*>(context), position)->LastMessage, text, length);
}

// Applies the rows of the frames that are complete, in frame order. Under
// the merge lock.
static void MergeApply(const RawsharkEntry* judge) {
    JudgeMerge* m = &RawsharkMngr.merge;
    for (;;) {
        MergeSlot* slot = &m->slots[m->next & (kMergeSlots - 1)];
        if (slot->frame.load(std::memory_order_acquire) != m->next) return;
        const CalcCell* cells = m->cells ? &m->cells[(m->next & (kMergeSlots - 1)) * FilterSetMax] : nullptr;
        for (int p = 0; p < judge->servedCount; ++p) {
            RawsharkEntry* entry = &RawsharkMngr.entries[judge->served[p]];
            ApplyVerdict(entry, slot->verdicts[p] == '1',
                         cells && entry->filter.calc != CalcNone ? &cells[p] : nullptr);
        }
        slot->frame.store(0, std::memory_order_release);
        m->next++;
    }
}

// One verdict line of one of several judges: into its frame's slot (once
// the frame kMergeSlots before has been applied), then every complete frame
// applied.
static void LineRow(void* context, uint64_t frame, const char* verdicts, const CalcCell* cells) {
    const RawsharkEntry* judge = static_cast<RawsharkEntry*>(context);
    JudgeMerge* m = &RawsharkMngr.merge;
    MergeSlot* slot = &m->slots[frame & (kMergeSlots - 1)];
    while (slot->frame.load(std::memory_order_acquire) != 0) {
        if (m->broken.load(std::memory_order_acquire) || RawsharkMngr.clearing.load(std::memory_order_acquire)) return;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    memcpy(slot->verdicts, verdicts, static_cast<size_t>(judge->servedCount));
    if (m->cells) {
        memcpy(&m->cells[(frame & (kMergeSlots - 1)) * FilterSetMax], cells,
               sizeof(CalcCell) * static_cast<size_t>(judge->servedCount));
    }
    slot->frame.store(frame, std::memory_order_release);
    std::lock_guard<std::mutex> hold(m->lock);
    MergeApply(judge);
}

// rawshark's protocol for a rawshark, lumo_judge's for a judge (numbered
// when there are several).
static RawsharkLinesHandler LinesHandler(RawsharkEntry* entry) {
    uint32_t calcMask = 0;
    for (int p = 0; p < entry->servedCount; ++p) {
        if (RawsharkMngr.entries[entry->served[p]].filter.calc != CalcNone) calcMask |= 1u << p;
    }
    int numbered = IsJudge(entry) && RawsharkMngr.merge.judges > 1;
    return RawsharkLinesHandler{IsJudge(entry) ? entry->servedCount : 0,
                                calcMask,
                                entry,
                                LineVerdict,
                                LineMessage,
                                LineKind,
                                numbered,
                                LineRow};
}

int RawsharkMngrParseLines(const char* buffer, int length, RawsharkEntry* entry) {
    const RawsharkLinesHandler handler = LinesHandler(entry);
    return RawsharkLinesParse(&entry->lines, buffer, length, &handler);
}

void RawsharkMngrTakeRead(RawsharkEntry* entry, int got) {
    const RawsharkLinesHandler handler = LinesHandler(entry);
    RawsharkLinesTakeRead(&entry->lines, got, &handler);
}

// What an ended process leaves in the messages of the entries it judged,
// unless a teardown ended it: a process the packet source stopped says so
// (its own entry, or every entry the judge served); a judge that ended by
// itself says how, with its last note; a rawshark that ended by itself
// keeps its last "rawshark:" line. Of several judges only the first that
// ends this way speaks. Returns 1 when a judge ended before its input did
// (every entry it served has ended). Reader thread, before ReaderEnded.
static int TellEnd(RawsharkEntry* entry) {
    if (RawsharkMngr.clearing.load(std::memory_order_acquire)) return 0;
    bool judge = IsJudge(entry);
    char text[kRawsharkMessageSize];
    int input = entry->inputState.load(std::memory_order_acquire);
    if (judge) {
        int status = 0;
        bool clean = input == InputEnded && ChildConsoleEndStatus(&entry->console, 1000, &status) &&
                     WIFEXITED(status) && WEXITSTATUS(status) == 0;
        // The normal end of a judge whose input was closed says nothing.
        if (clean) return 0;
        if (RawsharkMngr.merge.broken.exchange(1, std::memory_order_acq_rel)) return 1;  // another said it
    }
    if (input == InputStalled) {
        snprintf(text, sizeof text, "%s not responding for %d s, stopped", judge ? kJudgeName : "rawshark",
                 kRawsharkStallMs / 1000);
    } else if (judge) {
        int status = 0;
        char how[32] = "";  // at most " (killed by signal N)", so the note's 200 characters fit
        if (ChildConsoleEndStatus(&entry->console, 1000, &status)) {
            if (WIFEXITED(status)) {
                snprintf(how, sizeof how, " (exit code %d)", WEXITSTATUS(status));
            } else if (WIFSIGNALED(status)) {
                snprintf(how, sizeof how, " (killed by signal %d)", WTERMSIG(status));
            }
        }
        char note[kRawsharkMessageSize];
        RawsharkMessageLoad(&entry->LastMessage, note);
        const char* detail = note[0] ? note + sizeof kRawsharkLinesJudgePrefix - 1 : "";
        while (*detail == ' ') ++detail;
        snprintf(text, sizeof text, "%s ended%s%s%.200s", kJudgeName, how, detail[0] ? ": " : "", detail);
    } else {
        return 0;
    }
    if (!judge) {
        RawsharkMessageStore(&entry->LastMessage, text, static_cast<int>(strlen(text)));
        return 0;
    }
    for (int p = 0; p < entry->servedCount; ++p) {
        RawsharkMessageStore(&RawsharkMngr.entries[entry->served[p]].LastMessage, text, static_cast<int>(strlen(text)));
    }
    return 1;
}

// The judge stands for its served entries: they run and end with its reader.
static void SetServedState(RawsharkEntry* entry, int32_t state) {
    for (int p = 0; p < entry->servedCount; ++p) {
        RawsharkMngr.entries[entry->served[p]].ReaderState.store(state, std::memory_order_release);
    }
}

void RawsharkMngrReadThread(RawsharkEntry* entry) {
    SetServedState(entry, ReaderRunning);
    entry->ReaderState.store(ReaderRunning, std::memory_order_release);
    for (;;) {
        int fd = entry->console.output;
        if (fd == 0) {
            DEBUG_LOG("handle==NULL");
            break;
        }
        RawsharkLines* lines = &entry->lines;
        ssize_t got = read(fd, lines->buffer + lines->fill, static_cast<size_t>(kRawsharkBufferSize - lines->fill));
        if (got < 0) {
            if (errno == EINTR) continue;
            DEBUG_LOG("ReadFile() err,errno=%d", errno);
            break;
        }
        if (got == 0) {
            DEBUG_LOG("ReadFile() err,readsize=0");
            break;
        }
        RawsharkMngrTakeRead(entry, static_cast<int>(got));
    }
    // The entries a judge served end with it; of several judges, with the
    // first that ended early, or else with the last.
    int early = TellEnd(entry);
    int last = IsJudge(entry) && RawsharkMngr.merge.running.fetch_sub(1, std::memory_order_acq_rel) == 1;
    if (IsJudge(entry) && (early || last)) SetServedState(entry, ReaderEnded);
    // Nothing of the entry is touched after this store.
    entry->ReaderState.store(ReaderEnded, std::memory_order_release);
}

// ---------------------------------------------------------------- list

static void EntryReset(RawsharkEntry* entry, int mode, int index) {
    memset(&entry->filter, 0, sizeof entry->filter);
    memset(&entry->console, 0, sizeof entry->console);
    entry->mode = mode;
    entry->index = index;
    entry->servedCount = 0;
    entry->lines.fill = 0;
    entry->lines.longLine = RawsharkLinesWhole;
    entry->counter.cursor.store(0, std::memory_order_relaxed);
    entry->counter.matchedPackets.store(0, std::memory_order_relaxed);
    entry->counter.matchedBytes.store(0, std::memory_order_relaxed);
    entry->counter.lastBin.store(0, std::memory_order_relaxed);
    entry->counter.packets = nullptr;
    entry->counter.bytes = nullptr;
    entry->counter.calc = nullptr;
    entry->counter.size = 0;
    entry->byJudge = 0;
    entry->calcKind.store(CalcKindNone, std::memory_order_relaxed);
    entry->cursor.store(0, std::memory_order_relaxed);
    entry->ReaderState.store(ReaderNotStarted, std::memory_order_relaxed);
    entry->inputState.store(InputOpen, std::memory_order_relaxed);
    RawsharkMessageStore(&entry->LastMessage, "", 0);
}

// The reader's pipe is closed only after the reader has ended: closing a
// descriptor another thread is blocked on is unsafe.
static void JoinReader(RawsharkEntry* entry) {
    if (entry->thread.joinable()) {
        while (entry->ReaderState.load(std::memory_order_acquire) != ReaderEnded) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        entry->thread.join();
    }
    ChildConsoleRelease(&entry->console);
}

void RawsharkMngrListClear() {
    int count = RawsharkMngr.count.load(std::memory_order_relaxed);
    int judges = RawsharkMngr.judgeActive.load(std::memory_order_relaxed);
    RawsharkMngr.clearing.store(1, std::memory_order_release);
    // Readers of the list stop looking at the entries first.
    RawsharkMngr.count.store(0, std::memory_order_release);
    RawsharkMngr.judgeActive.store(0, std::memory_order_release);
    RawsharkEntry* entries = RawsharkMngr.entries;
    // Kill every process first, so their readers see end of file together.
    for (int i = 0; i < FilterSetMax + judges; ++i) {
        if (i >= count && i < FilterSetMax) continue;
        if (entries[i].console.process && !ChildConsoleKill(&entries[i].console)) {
            DEBUG_LOG("RawsharkMngrListClear() err,kill failed,index=%d", i);
        }
    }
    // The judges' readers write into the entries they serve: they end first.
    for (int j = 0; j < judges; ++j) JoinReader(JudgeEntry(j));
    RawsharkMngr.merge.judges = 0;
    for (int i = 0; i < count; ++i) {
        JoinReader(&entries[i]);
        SampleCounterFree(&entries[i].counter);
    }
    RawsharkMngr.clearing.store(0, std::memory_order_release);
}

// A judging process's input may not block the packet source for good: it
// is written without blocking, with a bounded wait for room (WriteRecord).
static void SetInputNonBlocking(const RawsharkEntry* entry) {
    int flags = fcntl(entry->console.input, F_GETFL);
    if (flags < 0 || fcntl(entry->console.input, F_SETFL, flags | O_NONBLOCK) < 0) {
        DEBUG_LOG("fcntl(O_NONBLOCK) err,errno=%d", errno);
    }
}

// Starts the process of entry (rawshark, or the judge) and its reader.
// Returns 1, or 0 with the process released.
static int StartChild(RawsharkEntry* entry, const RawsharkCommand* command) {
    if (!ChildConsoleNewArgv(command->text, command->argv, &entry->console, nullptr)) return 0;
    SetInputNonBlocking(entry);
    try {
        entry->thread = std::thread(RawsharkMngrReadThread, entry);
    } catch (...) {
        DEBUG_LOG("CreateThread() err,errno=%d", errno);
        ChildConsoleRelease(&entry->console);
        return 0;
    }
    return 1;
}

int RawsharkMngrJudgeAvailable() {
    char path[kPathMax];
    return ProgramFilePath(kJudgeName, path, sizeof path) && FileExists(path);
}

int RawsharkMngrFileJudgeCommand(const RawsharkBlock* rawshark, const char* capturePath, int count,
                                 const FilterEntry* entries, RawsharkCommand* command) {
    char path[kPathMax];
    if (!ProgramFilePath(kJudgeName, path, sizeof path)) return 0;
    return RawsharkCommandBuildFileJudge(rawshark, path, capturePath, count, entries, command);
}

// How many judges a live list gets: the setting's, or one when a filter
// needs every packet in one process (the log says why).
static int JudgesFor(int mode, const RawsharkBlock* rawshark, int count) {
    if (mode != RawsharkMngrLive) return 1;
    int judges = JudgeCountOf(rawshark->judges);
    char why[320];
    FilterEntry filters[FilterSetMax];
    for (int i = 0; i < count; ++i) filters[i] = RawsharkMngr.entries[i].filter;
    if (judges > 1 && JudgeSplitBlocked(filters, count, why, sizeof why)) {
        DEBUG_LOG("RawsharkMngrListEdit() info,one judge: %s", why);
        return 1;
    }
    return judges;
}

// The merge of several judges' rows: its slots (and cells when a filter has
// a calculation) allocated once, emptied for the list. Returns 1, or 0.
static int MergeReset(int judges, bool calc) {
    JudgeMerge* m = &RawsharkMngr.merge;
    if (!m->slots) m->slots = new (std::nothrow) MergeSlot[kMergeSlots]();
    if (calc && !m->cells) m->cells = new (std::nothrow) CalcCell[kMergeSlots * FilterSetMax]();
    if (!m->slots || (calc && !m->cells)) return 0;
    for (uint64_t k = 0; k < kMergeSlots; ++k) m->slots[k].frame.store(0, std::memory_order_relaxed);
    m->next = 1;
    m->written = 0;
    m->broken.store(0, std::memory_order_relaxed);
    m->running.store(judges, std::memory_order_release);
    m->judges = judges;
    return 1;
}

// The one-pass half of a build: the judges of every non-empty filter, each
// serving all of them (several share the packets by conversation).
// Returns 1 (also when every filter is empty: there is nothing to judge), or
// 0 with what was started left for the teardown.
static int StartJudge(int mode, const RawsharkBlock* rawshark, int linkType, int count) {
    int judges = JudgesFor(mode, rawshark, count);
    RawsharkEntry* first = JudgeEntry();
    EntryReset(first, mode, -1);
    FilterEntry filters[FilterSetMax];
    bool calc = false;
    for (int i = 0; i < count; ++i) {
        filters[i] = RawsharkMngr.entries[i].filter;  // texts already cut to fit
        if (FilterNeedsJudge(&filters[i])) {
            first->served[first->servedCount++] = i;
            RawsharkMngr.entries[i].byJudge = 1;
            calc |= filters[i].calc != CalcNone;
        }
    }
    if (first->servedCount == 0) return 1;
    if (!MergeReset(judges, judges > 1 && calc)) {
        DEBUG_LOG("StartJudge() err,malloc");
        return 0;
    }
    RawsharkMngr.merge.linkType = linkType;
    char path[kPathMax];
    RawsharkCommand* command = &RawsharkMngr.command;
    if (!ProgramFilePath(kJudgeName, path, sizeof path) ||
        !RawsharkCommandBuildJudge(rawshark, path, linkType, count, filters, command) ||
        (judges > 1 && !RawsharkCommandAppendJudgePart(command, 0, judges))) {
        DEBUG_LOG("StartJudge() err,command line too long");
        return 0;
    }
    for (int j = 0; j < judges; ++j) {
        RawsharkEntry* judge = JudgeEntry(j);
        if (j > 0) {
            EntryReset(judge, mode, -1);
            judge->servedCount = first->servedCount;
            memcpy(judge->served, first->served, sizeof judge->served);
        }
        if (!StartChild(judge, command)) return 0;
        RawsharkMngr.judgeActive.store(j + 1, std::memory_order_release);
    }
    return 1;
}

// Builds the list in the order teardown undoes: entry by entry its counter,
// then its process and reader; the judge and its reader last. Any failure
// takes the one way out, RawsharkMngrListClear, which releases all of it in
// the reverse order (every process killed, the judge's reader joined before
// the readers of the entries it serves, then every counter freed).
static int ListBuild(int mode, const RawsharkBlock* rawshark, int linkType, int count, const FilterEntry* filters,
                     int binCount) {
    RawsharkCommand* command = &RawsharkMngr.command;
    int onePass = rawshark->onePass != 0;
    RawsharkMngrListClear();
    if (count <= 0) return 1;
    if (count > FilterSetMax) {
        DEBUG_LOG("RawsharkMngrListEdit() err,count=%d", count);
        return 0;
    }
    if (!RawsharkMngr.entries) {
        RawsharkMngr.entries = new (std::nothrow) RawsharkEntry[FilterSetMax + kJudgesMax]();
        if (!RawsharkMngr.entries) {
            DEBUG_LOG("RawsharkMngrListEdit() err,malloc");
            return 0;
        }
    }
    if (onePass && !RawsharkMngrJudgeAvailable()) {
        DEBUG_LOG("RawsharkMngrListEdit() info,%s not in the program folder,one rawshark per filter", kJudgeName);
        onePass = 0;
    }
    for (int i = 0; i < count; ++i) {
        RawsharkEntry* entry = &RawsharkMngr.entries[i];
        EntryReset(entry, mode, i);
        entry->filter = filters[i];
        entry->filter.filterText[sizeof entry->filter.filterText - 1] = '\0';
        RawsharkMngr.count.store(i + 1, std::memory_order_release);

        if (mode == RawsharkMngrLive && !SampleCounterInit(&entry->counter, static_cast<uint32_t>(binCount))) {
            DEBUG_LOG("SampleCounterInit() err,size=%d", binCount);
            goto fail;
        }
        if (mode == RawsharkMngrLive && entry->filter.calc != CalcNone && !SampleCounterInitCalc(&entry->counter)) {
            DEBUG_LOG("SampleCounterInitCalc() err,size=%d", binCount);
            goto fail;
        }
        if (onePass) continue;  // the judge, started below, serves this entry
        if (entry->filter.calc != CalcNone) {
            // rawshark names no field's values: the packets are counted, the
            // calculation is not
            const char kNeedsOnePass[] =
                "a calculation needs one-pass judging (Judge all filters in one pass, lumo_judge)";
            RawsharkMessageStore(&entry->LastMessage, kNeedsOnePass, static_cast<int>(sizeof kNeedsOnePass - 1));
        }
        const char* filterText = entry->filter.filterText;
        if (!RawsharkCommandBuild(rawshark, linkType, filterText, command)) {
            DEBUG_LOG("RawsharkMngrListEdit() err,command line too long");
            goto fail;
        }
        RawsharkCommandAppendPreferences(command);
        if (!filterText[0]) continue;  // matches every packet: no process, no thread
        if (!StartChild(entry, command)) goto fail;
    }
    if (onePass && !StartJudge(mode, rawshark, linkType, count)) goto fail;
    // Every reader runs before the first packet is written, so no packet is
    // skipped for an entry whose reader has not started yet.
    for (int i = 0; i < FilterSetMax + kJudgesMax; ++i) {
        RawsharkEntry* entry = &RawsharkMngr.entries[i];
        if (!entry->thread.joinable()) continue;
        while (entry->ReaderState.load(std::memory_order_acquire) == ReaderNotStarted) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
    return 1;

fail:
    RawsharkMngrListClear();
    return 0;
}

int RawsharkMngrListEdit(const RawsharkBlock* rawshark, int linkType, int count, const FilterEntry* entries,
                         int binCount) {
    return ListBuild(RawsharkMngrLive, rawshark, linkType, count, entries, binCount);
}

int RawsharkMngrListEditOffline(const RawsharkBlock* rawshark, int linkType, int count, const FilterEntry* entries) {
    return ListBuild(RawsharkMngrOffline, rawshark, linkType, count, entries, 0);
}

// ---------------------------------------------------------------- packets

// Writes the whole record, continuing after partial writes, waiting for room
// in the pipe as long as the process takes something at least every
// kRawsharkStallMs. 0, ETIMEDOUT when it took nothing for that long, or
// another errno.
// numbered: the 16 bytes one of several judges takes after the header.
static int WriteRecord(int fd, const PacketRecordHeader* header, const uint8_t* data, const uint8_t* numbered) {
    iovec parts[3];
    int left = 0;
    parts[left++] = {const_cast<PacketRecordHeader*>(header), sizeof *header};
    if (numbered) parts[left++] = {const_cast<uint8_t*>(numbered), 16};
    if (header->incl_len && data) parts[left++] = {const_cast<uint8_t*>(data), header->incl_len};
    iovec* part = parts;
    // Steady time, not the performance counter: tests replace that one.
    auto deadline = std::chrono::steady_clock::time_point::max();
    while (left > 0) {
        ssize_t n = writev(fd, part, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) return errno;
            auto now = std::chrono::steady_clock::now();
            if (deadline == std::chrono::steady_clock::time_point::max()) {
                deadline = now + std::chrono::milliseconds(kRawsharkStallMs);
            }
            if (now >= deadline) return ETIMEDOUT;
            pollfd p = {fd, POLLOUT, 0};
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
            poll(&p, 1, static_cast<int>(wait));
            continue;
        }
        deadline = std::chrono::steady_clock::time_point::max();  // it took something
        size_t done = static_cast<size_t>(n);
        while (left > 0 && done >= part->iov_len) {
            done -= part->iov_len;
            ++part;
            --left;
        }
        if (left > 0) {
            part->iov_base = static_cast<char*>(part->iov_base) + done;
            part->iov_len -= done;
        }
    }
    return 0;
}

// Writes the record to the process of entry (a rawshark or the judge) while
// its reader runs; stops a process that takes nothing.
static void WriteToChild(RawsharkEntry* entry, const PacketRecordHeader* header, const uint8_t* data,
                         const uint8_t* numbered = nullptr) {
    if (entry->ReaderState.load(std::memory_order_acquire) != ReaderRunning || entry->console.input == 0 ||
        entry->inputState.load(std::memory_order_relaxed) != InputOpen) {
        return;  // process not running, already ended or stopped
    }
    int error = WriteRecord(entry->console.input, header, data, numbered);
    if (error == ETIMEDOUT) {
        DEBUG_LOG("WriteFile() err,not responding for %d ms,process=%d", kRawsharkStallMs,
                  static_cast<int>(entry->console.process));
        // The state first: the reader that sees the end tells why.
        entry->inputState.store(InputStalled, std::memory_order_release);
        ChildConsoleTerminate(&entry->console);
    } else if (error) {
        DEBUG_LOG("WriteFile() err,errno=%d", error);
    }
}

void RawsharkMngrWritePacket(const PacketRecordHeader* header, const uint8_t* data) {
    int count = RawsharkMngr.count.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        RawsharkEntry* entry = &RawsharkMngr.entries[i];
        if (!entry->filter.filterText[0] && !entry->byJudge) {
            ApplyVerdict(entry, 1);  // an empty filter matches every packet
            continue;
        }
        if (entry->console.process) WriteToChild(entry, header, data);  // per filter: its own rawshark
    }
    int judges = JudgeCount();
    if (judges == 1) WriteToChild(JudgeEntry(), header, data);
    if (judges < 2) return;
    // Several judges: the packet goes to its conversation's, numbered as
    // in the ring, with the capture's first time; after one ended early
    // none gets more.
    JudgeMerge* m = &RawsharkMngr.merge;
    uint64_t frame = ++m->written;
    if (frame == 1) m->first = *header;
    if (m->broken.load(std::memory_order_acquire)) return;
    uint8_t numbered[16];
    for (int b = 0; b < 8; ++b) numbered[b] = static_cast<uint8_t>(frame >> (8 * b));
    for (int b = 0; b < 4; ++b) {
        numbered[8 + b] = static_cast<uint8_t>(m->first.ts_sec >> (8 * b));
        numbered[12 + b] = static_cast<uint8_t>(m->first.ts_usec >> (8 * b));
    }
    int j = JudgeOfPacket(m->linkType, data, data ? header->incl_len : 0, judges);
    WriteToChild(JudgeEntry(j), header, data, numbered);
}

static void EndInput(RawsharkEntry* entry) {
    if (entry->console.input == 0) return;
    if (entry->inputState.load(std::memory_order_relaxed) == InputOpen) {
        entry->inputState.store(InputEnded, std::memory_order_release);
    }
    close(entry->console.input);
    entry->console.input = 0;
}

void RawsharkMngrEndInput() {
    int count = RawsharkMngr.count.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) EndInput(&RawsharkMngr.entries[i]);
    for (int j = 0; j < JudgeCount(); ++j) EndInput(JudgeEntry(j));
}

// ---------------------------------------------------------------- reading

int RawsharkMngrCount() { return RawsharkMngr.count.load(std::memory_order_acquire); }

RawsharkEntry* RawsharkMngrJudge(int j) { return j >= 0 && j < JudgeCount() ? JudgeEntry(j) : nullptr; }

RawsharkEntry* RawsharkMngrEntry(int n) {
    if (n < 0 || n >= RawsharkMngr.count.load(std::memory_order_acquire)) return nullptr;
    return &RawsharkMngr.entries[n];
}

static int ReadCounter(int n, int64_t now, uint64_t* bytes, uint64_t* packets, int bins, char* message) {
    RawsharkEntry* entry = RawsharkMngrEntry(n);
    if (!entry) return 0;
    if (message) RawsharkMessageLoad(&entry->LastMessage, message);
    SampleCounterRead(&entry->counter, now, bytes, packets, bins);
    return 1;
}

int RawsharkMngrReadBytes(int n, int64_t now, uint64_t* out, int bins, char* message) {
    return ReadCounter(n, now, out, nullptr, bins, message);
}

int RawsharkMngrReadPackets(int n, int64_t now, uint64_t* out, int bins, char* message) {
    return ReadCounter(n, now, nullptr, out, bins, message);
}

int RawsharkMngrAllDone(int64_t packetCount) {
    int count = RawsharkMngr.count.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        RawsharkEntry* entry = &RawsharkMngr.entries[i];
        // A reader that has ended (rawshark rejected its filter or died)
        // decides nothing more; waiting for it would never end.
        if (entry->ReaderState.load(std::memory_order_acquire) == ReaderEnded) continue;
        if (entry->cursor.load(std::memory_order_acquire) != packetCount) return 0;
    }
    return 1;
}

int64_t RawsharkMngrDecided(int n) {
    const RawsharkEntry* entry = RawsharkMngrEntry(n);
    return entry ? entry->cursor.load(std::memory_order_acquire) : -1;
}

int RawsharkMngrAllEnded() {
    int count = RawsharkMngr.count.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        const RawsharkEntry* entry = &RawsharkMngr.entries[i];
        if (!entry->filter.filterText[0] && !entry->byJudge) continue;  // no process behind it
        if (entry->ReaderState.load(std::memory_order_acquire) != ReaderEnded) return 0;
    }
    return 1;
}

int RawsharkMngrReadCalc(int n, int64_t now, CalcCell* out, int bins) {
    const RawsharkEntry* entry = RawsharkMngrEntry(n);
    if (!entry) return 0;
    SampleCounterReadCalc(&entry->counter, now, out, bins);
    return 1;
}

int RawsharkMngrCalcKind(int n) {
    const RawsharkEntry* entry = RawsharkMngrEntry(n);
    return entry ? entry->calcKind.load(std::memory_order_relaxed) : CalcKindNone;
}

int RawsharkMngrTotals(int n, uint64_t* packets, uint64_t* bytes) {
    const RawsharkEntry* entry = RawsharkMngrEntry(n);
    if (!entry) return 0;
    if (packets) *packets = entry->counter.matchedPackets.load(std::memory_order_relaxed);
    if (bytes) *bytes = entry->counter.matchedBytes.load(std::memory_order_relaxed);
    return 1;
}

int RawsharkMngrJudgesRunning() {
    int count = RawsharkMngr.count.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        const RawsharkEntry* entry = &RawsharkMngr.entries[i];
        if (!entry->filter.filterText[0] && !entry->byJudge) continue;  // no process behind it
        if (entry->ReaderState.load(std::memory_order_acquire) != ReaderRunning) return 0;
    }
    return 1;
}

int RawsharkMngrDecidedThrough(int64_t bin, uint64_t stored) {
    int count = RawsharkMngr.count.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        const RawsharkEntry* entry = &RawsharkMngr.entries[i];
        if (entry->ReaderState.load(std::memory_order_acquire) == ReaderEnded) continue;  // decides nothing more
        // lastBin before cursor: a reader that moved the cursor on moved lastBin first
        if (entry->counter.lastBin.load(std::memory_order_acquire) > bin) continue;
        if (entry->counter.cursor.load(std::memory_order_acquire) < stored) return 0;
    }
    return 1;
}

int RawsharkMngrLastMessage(int index, char* dest) {
    RawsharkEntry* entry = RawsharkMngrEntry(index);
    if (!entry) {
        dest[0] = '\0';
        return 0;
    }
    RawsharkMessageLoad(&entry->LastMessage, dest);
    return 1;
}
