// SPDX-License-Identifier: GPL-2.0-or-later
// replay.cpp - the replay front end's logic: interface list, tool command
// line, output reader and the Start / timer / Stop / Exit steps.
//
//   interfaces     ReplayListInterfaces (the capture module's listing), item and address texts
//   tool           path, command line, argument vector
//   time           tick count, time label
//   output reader  marker scan across reads, the reader thread
//   steps          Start, timer tick, end of the tool (Stop, Exit)
#include "replay/replay.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include "capture/capture.h"
#include "platform/platform.h"
#include "platform/text.h"

const char kReplayToolName[] = "tarvo";
const char kReplayStartText[] = "Start Transmission";

ReplayRecord* ReplayMain() {
    static ReplayRecord record;
    return &record;
}

// ---------------------------------------------------------------- interfaces

int ReplayListInterfaces(int capacity, InterfaceInfo* table, char* err) {
    int found = CaptureGetInterfaceList(capacity, table);
    if (found < 0) {
        ErrorSet(err, "pcap_findalldevs() error");
        return -1;
    }
    if (found == 0) {
        ErrorSet(err, "Network Interface is not found.");
        return 0;
    }
    ErrorClear(err);
    return found;
}

void ReplayInterfaceText(const InterfaceInfo* info, char* out, size_t size) {
    if (info->description[0]) {
        snprintf(out, size, "%s: %s", info->description, info->name);
    } else {
        snprintf(out, size, "%s", info->name);
    }
}

void ReplayAddressText(uint32_t address, char* out, size_t size) {
    if (address == 0) {
        snprintf(out, size, "IP address: unknown");
        return;
    }
    // The address is stored as on the wire: first octet in the lowest byte.
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&address);
    snprintf(out, size, "IP address: %d.%d.%d.%d", b[0], b[1], b[2], b[3]);
}

// ---------------------------------------------------------------- tool

int ReplayToolPath(char* out, size_t size) { return ProgramFilePath(kReplayToolName, out, size); }

int ReplayCommandLine(const char* tool, const char* pcap, const char* device, char* out, size_t size) {
    int n = snprintf(out, size, "%s \"%s\" %s s", tool, pcap, device);
    return n >= 0 && static_cast<size_t>(n) < size;
}

void ReplayArgv(const char* tool, const char* pcap, const char* device, const char* argv[5]) {
    argv[0] = tool;
    argv[1] = pcap;
    argv[2] = device;
    argv[3] = "s";
    argv[4] = nullptr;
}

// ---------------------------------------------------------------- time

uint32_t ReplayTickCount() {
    int64_t ms = PerfCounter() / (PerfFrequency() / 1000);
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

void ReplayTimeText(uint32_t elapsedMs, char* out, size_t size) {
    snprintf(out, size, "%d.%03d", static_cast<int>(elapsedMs / 1000), static_cast<int>(elapsedMs % 1000));
}

// ---------------------------------------------------------------- output reader

int ReplayScanChunk(ReplayMarkerScan* scan, const char* chunk, size_t length) {
    const size_t textLength = sizeof kReplayStartText - 1;
    const size_t keep = textLength - 1;  // a longer tail would hold a whole marker, found already
    static_assert(sizeof kReplayStartText - 2 <= sizeof scan->tail);

    // The text across the previous chunk's end: its tail and our first bytes.
    char joint[2 * sizeof scan->tail];
    size_t head = std::min(length, keep);
    memcpy(joint, scan->tail, scan->tailLength);
    memcpy(joint + scan->tailLength, chunk, head);
    size_t jointLength = scan->tailLength + head;
    int found = memmem(joint, jointLength, kReplayStartText, textLength) != nullptr ||
                memmem(chunk, length, kReplayStartText, textLength) != nullptr;

    if (length >= keep) {
        memcpy(scan->tail, chunk + length - keep, keep);
        scan->tailLength = keep;
    } else {  // the whole chunk is in joint; keep its last bytes
        size_t n = std::min(jointLength, keep);
        memmove(scan->tail, joint + jointLength - n, n);
        scan->tailLength = n;
    }
    return found;
}

static void LastLineKeep(ReplayLastLine* scan) {
    scan->current[scan->currentLength] = '\0';
    scan->currentLength = 0;
    TrimBlanks(scan->current);
    if (scan->current[0]) TextCopy(scan->line, sizeof scan->line, scan->current);
}

void ReplayLastLineFeed(ReplayLastLine* scan, const char* chunk, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char c = chunk[i];
        if (c == '\n' || c == '\r') {
            LastLineKeep(scan);
        } else if (c != '\0' && scan->currentLength + 1 < sizeof scan->current) {
            scan->current[scan->currentLength++] = c;
        }
    }
}

const char* ReplayLastLineEnd(ReplayLastLine* scan) {
    LastLineKeep(scan);
    return scan->line;
}

void ReplayOutputReader(ReplayRecord* record, int output) {
    char buffer[kReplayReadSize + 1];
    ReplayMarkerScan scan{};
    ReplayLastLine last{};
    int announced = 0;
    for (;;) {
        ssize_t n = read(output, buffer, kReplayReadSize);
        if (n > 0) {
            buffer[n] = '\0';
            if (ReplayScanChunk(&scan, buffer, static_cast<size_t>(n))) {
                // The elapsed time restarts from 0.000 now.
                record->startTick.store(ReplayTickCount(), std::memory_order_relaxed);
                announced = 1;
            }
            ReplayLastLineFeed(&last, buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // End of file: the tool and every process of its group have gone.
        // A failed read ends the reader too; the descriptor stays open until
        // the dialog thread has joined us.
        record->announced = announced;
        TextCopy(record->lastLine, sizeof record->lastLine, ReplayLastLineEnd(&last));
        return;
    }
}

// ---------------------------------------------------------------- steps

int ReplayStart(ReplayRecord* record, int selection, const char* pcapPath, char* err) {
    ErrorClear(err);
    // One tool and one reader at a time; Start is disabled while one runs.
    if (record->child.process != 0 || record->reader.joinable()) return 0;

    char tool[kPathMax];
    if (!ReplayToolPath(tool, sizeof tool) || !FileExists(tool)) {
        ErrorSet(err, "tarvo file is not found.");
        return 0;
    }
    if (selection < 0 || selection >= record->interfaceCount) {
        ErrorSet(err, "Select Interface.");
        return 0;
    }
    if (!pcapPath || !pcapPath[0] || !FileExists(pcapPath)) {
        ErrorSet(err, "pcap file is not found.");
        return 0;
    }

    record->startTick.store(ReplayTickCount(), std::memory_order_relaxed);
    record->announced = 0;
    record->lastLine[0] = '\0';
    const char* device = record->interfaces[selection].name;
    char commandLine[3 * kPathMax];
    if (!ReplayCommandLine(tool, pcapPath, device, commandLine, sizeof commandLine)) {
        TextCopy(commandLine, sizeof commandLine, tool);  // only shown in the log
    }
    const char* argv[5];
    ReplayArgv(tool, pcapPath, device, argv);
    // A tool that cannot be started leaves the record empty and is said so:
    // a dialog left Running with nothing to watch would look like a replay.
    char reason[kErrorLen];
    if (!ChildConsoleNewArgv(commandLine, argv, &record->child, reason)) {
        ErrorSet(err, "%s could not be started: %s.", kReplayToolName, reason);
        return 0;
    }
    record->reader = std::thread(ReplayOutputReader, record, record->child.output);
    return 1;
}

int ReplayToolEnded(const ReplayRecord* record) {
    const ChildConsole& c = record->child;
    if (c.process == 0) return 0;
    if (c.reaped) return 1;
    siginfo_t info;
    memset(&info, 0, sizeof info);
    int r;
    do {
        r = waitid(P_PID, static_cast<id_t>(c.process), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return errno == ECHILD;  // no longer ours to wait for: gone
    return info.si_pid == c.process;
}

// Kills what is left of the tool's group, joins the reader, then releases
// the child; *status is its wait status (0 when unknown).
static int EndTool(ReplayRecord* record, int* status) {
    ChildConsole* c = &record->child;
    // The kill takes the tool's whole process group: anything the tool
    // started holds the output pipe too, and the reader sees end of file
    // only once every holder is gone. ReplayToolEnded leaves the tool
    // unreaped, so its group id still names only its own group here.
    ChildConsoleKill(c);
    if (record->reader.joinable()) record->reader.join();
    *status = c->exitStatus;
    return ChildConsoleRelease(c);
}

int ReplayTick(ReplayRecord* record, char* label, size_t size, char* err) {
    if (record->child.process == 0) return kReplayTickIdle;
    if (ReplayToolEnded(record)) {
        int status = 0;
        EndTool(record, &status);
        const bool exitedZero = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (record->announced && exitedZero) return kReplayTickEnded;
        // Ended before it began sending, or with a failure: its last line
        // says why (tarvo prints the reason last).
        if (record->lastLine[0]) {
            ErrorSet(err, "%s", record->lastLine);
        } else if (WIFSIGNALED(status)) {
            ErrorSet(err, "%s ended by signal %d without any output.", kReplayToolName, WTERMSIG(status));
        } else {
            ErrorSet(err, "%s ended with exit status %d without any output.", kReplayToolName, WEXITSTATUS(status));
        }
        return kReplayTickFailed;
    }
    uint32_t elapsed = ReplayTickCount() - record->startTick.load(std::memory_order_relaxed);
    ReplayTimeText(elapsed, label, size);
    return kReplayTickTime;
}

int ReplayEndTool(ReplayRecord* record) {
    int status;
    return EndTool(record, &status);
}

int ReplayStop(ReplayRecord* record) { return ReplayEndTool(record); }

int ReplayExit(ReplayRecord* record) { return ReplayEndTool(record); }
