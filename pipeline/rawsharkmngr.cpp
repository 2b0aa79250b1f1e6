// rawsharkmngr.cpp - one rawshark process per filter, its reader thread, and
// what a verdict does in each program.
//
//   messages      RawsharkMessageStore / Load (the lock-free LastMessage)
//   command       RawsharkMngrBuildCommand, preferences
//   verdicts      RawsharkMngrParseLines, RawsharkMngrTakeRead, the reader thread
//   list          RawsharkMngrListEdit(Offline), RawsharkMngrListClear
//   packets       RawsharkMngrWritePacket
//   reading       RawsharkMngrCount, ReadBytes/Packets, AllDone, LastMessage
#include "pipeline/rawsharkmngr.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <sys/uio.h>
#include <unistd.h>

#include "pipeline/packetstore.h"
#include "platform/platform.h"
#include "shell/common.h"
#include "shell/debuglog.h"

namespace {

struct RawsharkMngrRecord {
    // FilterSetMax entries, allocated by the first build and kept for the
    // life of the process, so a late reader never meets freed memory.
    RawsharkEntry* entries;
    std::atomic<int32_t> count;  // entries of the current list
    RawsharkCommand command;     // RawsharkCommandLine: one build at a time
};

RawsharkMngrRecord RawsharkMngr;  // constant-initialised, all zero

constexpr char kMessagePrefix[] = "rawshark:";
constexpr int kMessagePrefixLength = 9;
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
    snprintf(letters, sizeof letters, "%s%s%s", rawshark->macResolution ? "m" : "",
             rawshark->networkResolution ? "n" : "", rawshark->transportResolution ? "t" : "");
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
    if (!DataFilePath("preferences", path, sizeof path)) return 0;
    FILE* file = fopen(path, "r");
    if (!file) return 0;  // no preferences is not an error
    int appended = 0;
    char line[256];  // at most 255 characters per read; the rest of a longer line comes as the next piece
    while (fgets(line, sizeof line, file)) {
        int added = RawsharkMngrAppendPreferenceLine(command, line);
        if (added < 0) {
            // Whole options or none: the rest of the file is left out.
            DebugLog("%s(%d),RawsharkMngrAppendPreferences() err,command line full", __FILE__, __LINE__);
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

int RawsharkMngrParseLines(const char* buffer, int length, RawsharkEntry* entry) {
    int consumed = 0;
    while (consumed < length) {
        const char* line = buffer + consumed;
        const char* lf = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(length - consumed)));
        if (!lf) break;
        int size = static_cast<int>(lf - line);  // without the LF
        consumed += size + 1;
        if (size > 0 && line[size - 1] == '\r') --size;

        int longLine = entry->longLine;
        entry->longLine = 0;
        if (longLine == 2) continue;  // the end of a "rawshark:" line already taken

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

void RawsharkMngrReadThread(RawsharkEntry* entry) {
    entry->ReaderState.store(ReaderRunning, std::memory_order_release);
    for (;;) {
        int fd = entry->console.output;
        if (fd == 0) {
            DebugLog("%s(%d),handle==NULL", __FILE__, __LINE__);
            break;
        }
        ssize_t got = read(fd, entry->buffer + entry->fill, static_cast<size_t>(kRawsharkBufferSize - entry->fill));
        if (got < 0) {
            if (errno == EINTR) continue;
            DebugLog("%s(%d),ReadFile() err,errno=%d", __FILE__, __LINE__, errno);
            break;
        }
        if (got == 0) {
            DebugLog("%s(%d),ReadFile() err,readsize=0", __FILE__, __LINE__);
            break;
        }
        RawsharkMngrTakeRead(entry, static_cast<int>(got));
    }
    // Nothing of the entry is touched after this store.
    entry->ReaderState.store(ReaderEnded, std::memory_order_release);
}

// ---------------------------------------------------------------- list

static void EntryReset(RawsharkEntry* entry, int mode, int index) {
    memset(&entry->filter, 0, sizeof entry->filter);
    memset(&entry->console, 0, sizeof entry->console);
    entry->mode = mode;
    entry->index = index;
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
    RawsharkMessageStore(&entry->LastMessage, "", 0);
}

void RawsharkMngrListClear() {
    int count = RawsharkMngr.count.load(std::memory_order_relaxed);
    // Readers of the list stop looking at the entries first.
    RawsharkMngr.count.store(0, std::memory_order_release);
    RawsharkEntry* entries = RawsharkMngr.entries;
    // Kill every process first, so their readers see end of file together.
    for (int i = 0; i < count; ++i) {
        if (entries[i].console.process && !ChildConsoleKill(&entries[i].console)) {
            DebugLog("%s(%d),RawsharkMngrListClear() err,kill failed,index=%d", __FILE__, __LINE__, i);
        }
    }
    for (int i = 0; i < count; ++i) {
        RawsharkEntry* entry = &entries[i];
        if (entry->thread.joinable()) {
            // The reader's pipe is closed only after the reader has ended:
            // closing a descriptor another thread is blocked on is unsafe.
            while (entry->ReaderState.load(std::memory_order_acquire) != ReaderEnded) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            entry->thread.join();
        }
        ChildConsoleRelease(&entry->console);
        SampleCounterFree(&entry->counter);
    }
}

static int ListBuild(int mode, const RawsharkBlock* rawshark, int linkType, int count, const FilterEntry* filters,
                     int binCount) {
    RawsharkMngrListClear();
    if (count <= 0) return 1;
    if (count > FilterSetMax) {
        DebugLog("%s(%d),RawsharkMngrListEdit() err,count=%d", __FILE__, __LINE__, count);
        return 0;
    }
    if (!RawsharkMngr.entries) {
        RawsharkMngr.entries = new (std::nothrow) RawsharkEntry[FilterSetMax]();
        if (!RawsharkMngr.entries) {
            DebugLog("%s(%d),RawsharkMngrListEdit() err,malloc", __FILE__, __LINE__);
            return 0;
        }
    }
    RawsharkCommand* command = &RawsharkMngr.command;
    for (int i = 0; i < count; ++i) {
        RawsharkEntry* entry = &RawsharkMngr.entries[i];
        EntryReset(entry, mode, i);
        entry->filter = filters[i];
        entry->filter.filterText[sizeof entry->filter.filterText - 1] = '\0';
        RawsharkMngr.count.store(i + 1, std::memory_order_release);

        if (mode == RawsharkMngrLive && !SampleCounterInit(&entry->counter, static_cast<uint32_t>(binCount))) {
            DebugLog("%s(%d),SampleCounterInit() err,size=%d", __FILE__, __LINE__, binCount);
            RawsharkMngrListClear();
            return 0;
        }
        const char* filterText = entry->filter.filterText;
        if (!RawsharkMngrBuildCommand(rawshark, linkType, filterText, command)) {
            DebugLog("%s(%d),RawsharkMngrListEdit() err,command line too long", __FILE__, __LINE__);
            RawsharkMngrListClear();
            return 0;
        }
        RawsharkMngrAppendPreferences(command);
        if (!filterText[0]) continue;  // matches every packet: no process, no thread

        if (!ChildConsoleNewArgv(command->text, command->argv, &entry->console)) {
            RawsharkMngrListClear();
            return 0;
        }
        try {
            entry->thread = std::thread(RawsharkMngrReadThread, entry);
        } catch (...) {
            DebugLog("%s(%d),CreateThread() err,errno=%d", __FILE__, __LINE__, errno);
            RawsharkMngrListClear();
            return 0;
        }
    }
    // Every reader runs before the first packet is written, so no packet is
    // skipped for an entry whose reader has not started yet.
    for (int i = 0; i < count; ++i) {
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

// Writes the whole record, continuing after partial writes. 0 or errno.
static int WriteRecord(int fd, const PacketRecordHeader* header, const uint8_t* data) {
    iovec parts[2] = {{const_cast<PacketRecordHeader*>(header), sizeof *header},
                      {const_cast<uint8_t*>(data), header->incl_len}};
    iovec* part = parts;
    int left = (header->incl_len && data) ? 2 : 1;
    while (left > 0) {
        ssize_t n = writev(fd, part, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
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

void RawsharkMngrWritePacket(const PacketRecordHeader* header, const uint8_t* data) {
    int count = RawsharkMngr.count.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        RawsharkEntry* entry = &RawsharkMngr.entries[i];
        if (!entry->filter.filterText[0]) {
            ApplyVerdict(entry, 1);  // an empty filter matches every packet
            continue;
        }
        if (entry->ReaderState.load(std::memory_order_acquire) != ReaderRunning || entry->console.input == 0) {
            continue;  // process not running or already ended
        }
        int error = WriteRecord(entry->console.input, header, data);
        if (error) DebugLog("%s(%d),WriteFile() err,errno=%d", __FILE__, __LINE__, error);
    }
}

// ---------------------------------------------------------------- reading

int RawsharkMngrCount() { return RawsharkMngr.count.load(std::memory_order_acquire); }

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

int RawsharkMngrLastMessage(int index, char* dest) {
    RawsharkEntry* entry = RawsharkMngrEntry(index);
    if (!entry) {
        dest[0] = '\0';
        return 0;
    }
    RawsharkMessageLoad(&entry->LastMessage, dest);
    return 1;
}
