// SPDX-License-Identifier: GPL-2.0-or-later
// rawsharkmngr.cpp - one rawshark process per filter, its reader thread, and
// what a verdict does in each program.
//
//   messages      RawsharkMessageStore / Load (the lock-free LastMessage)
//   command       RawsharkMngrBuildCommand, RawsharkMngrBuildJudgeCommand, preferences
//   verdicts      RawsharkMngrParseLines, RawsharkMngrTakeRead, the reader thread
//   list          RawsharkMngrListEdit(Offline), RawsharkMngrListClear
//   packets       RawsharkMngrWritePacket, the bounded write
//   reading       RawsharkMngrCount, ReadBytes/Packets, AllDone, LastMessage
#include "pipeline/rawsharkmngr_internal.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pipeline/packetstore.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "shell/debuglog.h"

namespace {

struct RawsharkMngrRecord {
    // FilterSetMax entries and the judge's after them, allocated by the
    // first build and kept for the life of the process, so a late reader
    // never meets freed memory.
    RawsharkEntry* entries;
    std::atomic<int32_t> count;        // entries of the current list
    std::atomic<int32_t> judgeActive;  // 1: entries[FilterSetMax] is the list's lumo_judge
    std::atomic<int32_t> clearing;     // 1 while a teardown kills the processes
    RawsharkCommand command;           // RawsharkCommandLine: one build at a time
};

RawsharkMngrRecord RawsharkMngr;  // constant-initialised, all zero

constexpr char kMessagePrefix[] = "rawshark:";
constexpr int kMessagePrefixLength = 9;
constexpr char kJudgeName[] = "lumo_judge";
constexpr char kJudgePrefix[] = "lumo_judge:";
constexpr int kJudgePrefixLength = 11;
constexpr char kJudgeFilterPrefix[] = "lumo_judge: filter ";
constexpr int kJudgeFilterPrefixLength = 19;

RawsharkEntry* JudgeEntry() { return &RawsharkMngr.entries[FilterSetMax]; }

bool IsJudge(const RawsharkEntry* entry) { return entry->servedCount > 0; }
// What a line longer than the buffer keeps of its end: enough for the
// verdict rule, which looks at the last three characters (and a CR).
constexpr int kLongLineTail = 8;

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

// ---------------------------------------------------------------- command

// Appends one argument to argv (and nothing to the text). 0 when full.
static int AddArg(RawsharkCommand* command, const char* arg) {
    size_t len = strlen(arg);
    if (command->argc >= kRawsharkMaxArgs) return 0;
    if (command->used + len + 1 > sizeof command->store) return 0;
    char* at = command->store + command->used;
    memcpy(at, arg, len + 1);
    command->used += static_cast<int>(len + 1);
    command->argv[command->argc++] = at;
    command->argv[command->argc] = nullptr;
    return 1;
}

// The -N letters of the block ("C" is never passed: rawshark 4.0 rejects it,
// and the judge takes the same switches).
static void ResolutionLetters(const RawsharkBlock* rawshark, char* letters, size_t size) {
    snprintf(letters, size, "%s%s%s", rawshark->macResolution ? "m" : "", rawshark->networkResolution ? "n" : "",
             rawshark->transportResolution ? "t" : "");
}

int RawsharkMngrBuildCommand(const RawsharkBlock* rawshark, int linkType, const char* filterText,
                             RawsharkCommand* command) {
    command->text[0] = '\0';
    command->argc = 0;
    command->used = 0;
    command->argv[0] = nullptr;

    // "C" (concurrent DNS) is never passed: rawshark 4.0 rejects it. With no
    // letter left "-N" is left out too, or rawshark would take the next
    // option ("-R") as its argument.
    char letters[8];
    ResolutionLetters(rawshark, letters, sizeof letters);
    char resolution[16] = "";
    if (letters[0]) snprintf(resolution, sizeof resolution, "-N %s", letters);

    int n;
    if (filterText && filterText[0]) {
        n = snprintf(command->text, sizeof command->text, "%s -d encap:%d -l -r - -n %s -R \"%s\" ",
                     rawshark->rawsharkPath, linkType, resolution, filterText);
    } else {
        n = snprintf(command->text, sizeof command->text, "%s -d encap:%d -l -r - -n %s ", rawshark->rawsharkPath,
                     linkType, resolution);
    }
    if (n < 0 || n >= static_cast<int>(sizeof command->text)) {
        command->text[0] = '\0';
        return 0;
    }

    char encap[32];
    snprintf(encap, sizeof encap, "encap:%d", linkType);
    int ok = AddArg(command, rawshark->rawsharkPath) && AddArg(command, "-d") && AddArg(command, encap) &&
             AddArg(command, "-l") && AddArg(command, "-r") && AddArg(command, "-") && AddArg(command, "-n");
    if (ok && letters[0]) ok = AddArg(command, "-N") && AddArg(command, letters);
    if (ok && filterText && filterText[0]) ok = AddArg(command, "-R") && AddArg(command, filterText);
    return ok;
}

// Appends formatted text to the command's text. 0 when it does not fit
// (the text is then as it was).
static int AddText(RawsharkCommand* command, const char* format, ...) {
    size_t have = strlen(command->text);
    va_list args;
    va_start(args, format);
    int n = vsnprintf(command->text + have, sizeof command->text - have, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= sizeof command->text - have) {
        command->text[have] = '\0';
        return 0;
    }
    return 1;
}

int RawsharkMngrBuildJudgeCommand(const RawsharkBlock* rawshark, const char* judgePath, int linkType, int count,
                                  const FilterEntry* entries, RawsharkCommand* command) {
    command->text[0] = '\0';
    command->argc = 0;
    command->used = 0;
    command->argv[0] = nullptr;
    char letters[8], encap[32];
    ResolutionLetters(rawshark, letters, sizeof letters);
    snprintf(encap, sizeof encap, "encap:%d", linkType);
    int ok = AddText(command, "%s -d %s -n ", judgePath, encap) && AddArg(command, judgePath) &&
             AddArg(command, "-d") && AddArg(command, encap) && AddArg(command, "-n");
    if (ok && letters[0]) ok = AddText(command, "-N %s ", letters) && AddArg(command, "-N") && AddArg(command, letters);
    if (!ok) return 0;
    RawsharkMngrAppendPreferences(command);
    for (int i = 0; ok && i < count; ++i) {
        const char* text = entries[i].filterText;
        if (!text[0]) continue;
        ok = AddText(command, "-R \"%s\" ", text) && AddArg(command, "-R") && AddArg(command, text);
    }
    return ok;
}

int RawsharkMngrAppendPreferenceLine(RawsharkCommand* command, const char* line) {
    char text[kRawsharkMessageSize];
    TextCopy(text, sizeof text, line);
    for (const char cut : {'\r', '\n', '#'}) {
        char* at = strchr(text, cut);
        if (at) *at = '\0';
    }
    for (char* p = text; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c >= 0x80) *p = ' ';
    }
    TrimBlanks(text);
    // A double quote could not be carried inside the quoted option text.
    if (strchr(text, '"') || !strchr(text, ':')) return 0;

    size_t have = strlen(command->text);
    int n = snprintf(command->text + have, sizeof command->text - have, " -o \"%s\" ", text);
    if (n < 0 || static_cast<size_t>(n) >= sizeof command->text - have) {
        command->text[have] = '\0';
        return -1;
    }
    int argc = command->argc, used = command->used;
    if (!AddArg(command, "-o") || !AddArg(command, text)) {
        command->text[have] = '\0';
        command->argc = argc;
        command->used = used;
        command->argv[argc] = nullptr;
        return -1;
    }
    return 1;
}

int RawsharkMngrAppendPreferences(RawsharkCommand* command) {
    char path[kPathMax];
    if (!DataFilePath(kPreferencesFile, path, sizeof path)) return 0;
    FILE* file = fopen(path, "r");
    if (!file) return 0;  // no preferences is not an error
    int appended = 0;
    char line[256];  // at most 255 characters per read; the rest of a longer line comes as the next piece
    while (fgets(line, sizeof line, file)) {
        int added = RawsharkMngrAppendPreferenceLine(command, line);
        if (added < 0) {
            // Whole options or none: the rest of the file is left out.
            DEBUG_LOG("RawsharkMngrAppendPreferences() err,command line full");
            break;
        }
        appended += added;
    }
    fclose(file);
    return appended;
}

// ---------------------------------------------------------------- verdicts

// What one verdict does: the only difference between the two programs.
static void ApplyVerdict(RawsharkEntry* entry, int matched) {
    if (entry->mode == RawsharkMngrLive) {
        SampleCounterAdvance(&entry->counter, matched);
        return;
    }
    int64_t k = entry->cursor.load(std::memory_order_relaxed);
    // A verdict with no stored packet behind it (a stray line) is dropped.
    if (k >= PacketStoreCount()) return;
    if (matched) PacketStoreMark(k, entry->index);
    entry->cursor.store(k + 1, std::memory_order_release);
}

// A "lumo_judge: filter I: ..." line (or its first 255 characters) is the
// message of the I-th served entry; another "lumo_judge:" line is the
// judge's own. Judge reader only.
static void JudgeMessage(RawsharkEntry* judge, const char* line, int size) {
    if (size >= kJudgeFilterPrefixLength && memcmp(line, kJudgeFilterPrefix, kJudgeFilterPrefixLength) == 0) {
        int n = 0, at = kJudgeFilterPrefixLength;
        while (at < size && line[at] >= '0' && line[at] <= '9' && n <= FilterSetMax) n = n * 10 + (line[at++] - '0');
        if (at < size && line[at] == ':' && n >= 1 && n <= judge->servedCount) {
            RawsharkMessageStore(&RawsharkMngr.entries[judge->served[n - 1]].LastMessage, line, size);
            return;
        }
    }
    RawsharkMessageStore(&judge->LastMessage, line, size);
}

// One complete line of the judge: exactly servedCount verdicts, or a
// message; anything else (and any line longer than the buffer) is ignored.
static void JudgeLine(RawsharkEntry* judge, const char* line, int size, int longLine) {
    if (longLine) return;
    if (size >= kJudgePrefixLength && memcmp(line, kJudgePrefix, kJudgePrefixLength) == 0) {
        JudgeMessage(judge, line, size);
        return;
    }
    int k = judge->servedCount;
    if (size != k) return;
    for (int p = 0; p < k; ++p) {
        if (line[p] != '0' && line[p] != '1') return;
    }
    for (int p = 0; p < k; ++p) ApplyVerdict(&RawsharkMngr.entries[judge->served[p]], line[p] == '1');
}

int RawsharkMngrParseLines(const char* buffer, int length, RawsharkEntry* entry) {
    int consumed = 0;
    bool judge = IsJudge(entry);
    while (consumed < length) {
        const char* line = buffer + consumed;
        const char* lf = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(length - consumed)));
        if (!lf) break;
        int size = static_cast<int>(lf - line);  // without the LF
        consumed += size + 1;
        if (size > 0 && line[size - 1] == '\r') --size;

        int longLine = entry->longLine;
        entry->longLine = 0;
        if (longLine == 2) continue;  // the end of a message line already taken
        if (judge) {
            JudgeLine(entry, line, size, longLine);
            continue;
        }

        // The message test comes first: a verdict line starts with a frame
        // number, so no verdict is lost, and an error text that happens to
        // end in '-' is not counted as a packet.
        if (!longLine && size >= kMessagePrefixLength && memcmp(line, kMessagePrefix, kMessagePrefixLength) == 0) {
            RawsharkMessageStore(&entry->LastMessage, line, size);
        } else if (size >= 5 && line[size - 1] == '-') {
            ApplyVerdict(entry, line[size - 3] == '1');
        }
    }
    return consumed;
}

void RawsharkMngrTakeRead(RawsharkEntry* entry, int got) {
    entry->fill += got;
    int used = RawsharkMngrParseLines(entry->buffer, entry->fill, entry);
    if (used > 0) {
        memmove(entry->buffer, entry->buffer + used, static_cast<size_t>(entry->fill - used));
        entry->fill -= used;
    }
    if (entry->fill < kRawsharkBufferSize) return;

    // A full buffer without a line end: the line is longer than the buffer.
    // Holding it would stall the reader (and every later verdict), so it is
    // followed to its end instead.
    if (entry->longLine == 2) {
        entry->fill = 0;
    } else if (entry->longLine == 0 && IsJudge(entry) && memcmp(entry->buffer, kJudgePrefix, kJudgePrefixLength) == 0) {
        JudgeMessage(entry, entry->buffer, kRawsharkMessageSize - 1);
        entry->longLine = 2;
        entry->fill = 0;
    } else if (entry->longLine == 0 && memcmp(entry->buffer, kMessagePrefix, kMessagePrefixLength) == 0) {
        RawsharkMessageStore(&entry->LastMessage, entry->buffer, kRawsharkMessageSize - 1);
        entry->longLine = 2;
        entry->fill = 0;
    } else {
        memmove(entry->buffer, entry->buffer + entry->fill - kLongLineTail, kLongLineTail);
        entry->fill = kLongLineTail;
        entry->longLine = 1;
    }
}

// What an ended process leaves in the messages of the entries it judged,
// unless a teardown ended it: a process the packet source stopped says so
// (its own entry, or every entry the judge served); a judge that ended by
// itself says how, with its last note; a rawshark that ended by itself
// keeps its last "rawshark:" line. Reader thread, before ReaderEnded.
static void TellEnd(RawsharkEntry* entry) {
    if (RawsharkMngr.clearing.load(std::memory_order_acquire)) return;
    bool judge = IsJudge(entry);
    char text[kRawsharkMessageSize];
    int input = entry->inputState.load(std::memory_order_acquire);
    if (input == InputStalled) {
        snprintf(text, sizeof text, "%s not responding for %d s, stopped", judge ? kJudgeName : "rawshark",
                 kRawsharkStallMs / 1000);
    } else if (judge) {
        int status = 0;
        char how[32] = "";  // at most " (killed by signal N)", so the note's 200 characters fit
        if (ChildConsoleEndStatus(&entry->console, 1000, &status)) {
            // The normal end of a judge whose input was closed says nothing.
            if (input == InputEnded && WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
            if (WIFEXITED(status)) {
                snprintf(how, sizeof how, " (exit code %d)", WEXITSTATUS(status));
            } else if (WIFSIGNALED(status)) {
                snprintf(how, sizeof how, " (killed by signal %d)", WTERMSIG(status));
            }
        }
        char note[kRawsharkMessageSize];
        RawsharkMessageLoad(&entry->LastMessage, note);
        const char* detail = note[0] ? note + kJudgePrefixLength : "";
        while (*detail == ' ') ++detail;
        snprintf(text, sizeof text, "%s ended%s%s%.200s", kJudgeName, how, detail[0] ? ": " : "", detail);
    } else {
        return;
    }
    if (!judge) {
        RawsharkMessageStore(&entry->LastMessage, text, static_cast<int>(strlen(text)));
        return;
    }
    for (int p = 0; p < entry->servedCount; ++p) {
        RawsharkMessageStore(&RawsharkMngr.entries[entry->served[p]].LastMessage, text, static_cast<int>(strlen(text)));
    }
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
        ssize_t got = read(fd, entry->buffer + entry->fill, static_cast<size_t>(kRawsharkBufferSize - entry->fill));
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
    TellEnd(entry);
    SetServedState(entry, ReaderEnded);
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
    entry->fill = 0;
    entry->longLine = 0;
    entry->counter.cursor.store(0, std::memory_order_relaxed);
    entry->counter.matchedPackets.store(0, std::memory_order_relaxed);
    entry->counter.matchedBytes.store(0, std::memory_order_relaxed);
    entry->counter.lastBin.store(0, std::memory_order_relaxed);
    entry->counter.packets = nullptr;
    entry->counter.bytes = nullptr;
    entry->counter.size = 0;
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
    bool judge = RawsharkMngr.judgeActive.load(std::memory_order_relaxed) != 0;
    RawsharkMngr.clearing.store(1, std::memory_order_release);
    // Readers of the list stop looking at the entries first.
    RawsharkMngr.count.store(0, std::memory_order_release);
    RawsharkMngr.judgeActive.store(0, std::memory_order_release);
    RawsharkEntry* entries = RawsharkMngr.entries;
    // Kill every process first, so their readers see end of file together.
    for (int i = 0; i <= FilterSetMax; ++i) {
        if (i >= count && !(i == FilterSetMax && judge)) continue;
        if (entries[i].console.process && !ChildConsoleKill(&entries[i].console)) {
            DEBUG_LOG("RawsharkMngrListClear() err,kill failed,index=%d", i);
        }
    }
    // The judge's reader writes into the entries it serves: it ends first.
    if (judge) JoinReader(JudgeEntry());
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
    if (!ChildConsoleNewArgv(command->text, command->argv, &entry->console)) return 0;
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

// The one-pass half of a build: one judge for every non-empty filter.
// Returns 1 (also when every filter is empty: there is nothing to judge).
static int StartJudge(int mode, const RawsharkBlock* rawshark, int linkType, int count) {
    RawsharkEntry* judge = JudgeEntry();
    EntryReset(judge, mode, -1);
    FilterEntry filters[FilterSetMax];
    for (int i = 0; i < count; ++i) {
        filters[i] = RawsharkMngr.entries[i].filter;  // texts already cut to fit
        if (filters[i].filterText[0]) judge->served[judge->servedCount++] = i;
    }
    if (judge->servedCount == 0) return 1;
    char path[kPathMax];
    RawsharkCommand* command = &RawsharkMngr.command;
    if (!ProgramFilePath(kJudgeName, path, sizeof path) ||
        !RawsharkMngrBuildJudgeCommand(rawshark, path, linkType, count, filters, command)) {
        DEBUG_LOG("RawsharkMngrListEdit() err,command line too long");
        return 0;
    }
    if (!StartChild(judge, command)) return 0;
    RawsharkMngr.judgeActive.store(1, std::memory_order_release);
    return 1;
}

static int ListBuild(int mode, const RawsharkBlock* rawshark, int linkType, int count, const FilterEntry* filters,
                     int binCount) {
    RawsharkMngrListClear();
    if (count <= 0) return 1;
    if (count > FilterSetMax) {
        DEBUG_LOG("RawsharkMngrListEdit() err,count=%d", count);
        return 0;
    }
    if (!RawsharkMngr.entries) {
        RawsharkMngr.entries = new (std::nothrow) RawsharkEntry[FilterSetMax + 1]();
        if (!RawsharkMngr.entries) {
            DEBUG_LOG("RawsharkMngrListEdit() err,malloc");
            return 0;
        }
    }
    int onePass = rawshark->onePass != 0;
    if (onePass && !RawsharkMngrJudgeAvailable()) {
        DEBUG_LOG("RawsharkMngrListEdit() info,%s not in the program folder,one rawshark per filter", kJudgeName);
        onePass = 0;
    }
    RawsharkCommand* command = &RawsharkMngr.command;
    for (int i = 0; i < count; ++i) {
        RawsharkEntry* entry = &RawsharkMngr.entries[i];
        EntryReset(entry, mode, i);
        entry->filter = filters[i];
        entry->filter.filterText[sizeof entry->filter.filterText - 1] = '\0';
        RawsharkMngr.count.store(i + 1, std::memory_order_release);

        if (mode == RawsharkMngrLive && !SampleCounterInit(&entry->counter, static_cast<uint32_t>(binCount))) {
            DEBUG_LOG("SampleCounterInit() err,size=%d", binCount);
            RawsharkMngrListClear();
            return 0;
        }
        if (onePass) continue;  // the judge, started below, serves this entry
        const char* filterText = entry->filter.filterText;
        if (!RawsharkMngrBuildCommand(rawshark, linkType, filterText, command)) {
            DEBUG_LOG("RawsharkMngrListEdit() err,command line too long");
            RawsharkMngrListClear();
            return 0;
        }
        RawsharkMngrAppendPreferences(command);
        if (!filterText[0]) continue;  // matches every packet: no process, no thread
        if (!StartChild(entry, command)) {
            RawsharkMngrListClear();
            return 0;
        }
    }
    if (onePass && !StartJudge(mode, rawshark, linkType, count)) {
        RawsharkMngrListClear();
        return 0;
    }
    // Every reader runs before the first packet is written, so no packet is
    // skipped for an entry whose reader has not started yet.
    for (int i = 0; i <= FilterSetMax; ++i) {
        RawsharkEntry* entry = &RawsharkMngr.entries[i];
        if (!entry->thread.joinable()) continue;
        while (entry->ReaderState.load(std::memory_order_acquire) == ReaderNotStarted) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
    return 1;
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
static int WriteRecord(int fd, const PacketRecordHeader* header, const uint8_t* data) {
    iovec parts[2] = {{const_cast<PacketRecordHeader*>(header), sizeof *header},
                      {const_cast<uint8_t*>(data), header->incl_len}};
    iovec* part = parts;
    int left = (header->incl_len && data) ? 2 : 1;
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
static void WriteToChild(RawsharkEntry* entry, const PacketRecordHeader* header, const uint8_t* data) {
    if (entry->ReaderState.load(std::memory_order_acquire) != ReaderRunning || entry->console.input == 0 ||
        entry->inputState.load(std::memory_order_relaxed) != InputOpen) {
        return;  // process not running, already ended or stopped
    }
    int error = WriteRecord(entry->console.input, header, data);
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
        if (!entry->filter.filterText[0]) {
            ApplyVerdict(entry, 1);  // an empty filter matches every packet
            continue;
        }
        if (entry->console.process) WriteToChild(entry, header, data);  // per filter: its own rawshark
    }
    if (RawsharkMngr.judgeActive.load(std::memory_order_acquire)) WriteToChild(JudgeEntry(), header, data);
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
    if (RawsharkMngr.judgeActive.load(std::memory_order_acquire)) EndInput(JudgeEntry());
}

// ---------------------------------------------------------------- reading

int RawsharkMngrCount() { return RawsharkMngr.count.load(std::memory_order_acquire); }

RawsharkEntry* RawsharkMngrJudge() {
    return RawsharkMngr.judgeActive.load(std::memory_order_acquire) ? JudgeEntry() : nullptr;
}

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
        if (!entry->filter.filterText[0]) continue;  // no process behind it
        if (entry->ReaderState.load(std::memory_order_acquire) != ReaderEnded) return 0;
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
