// SPDX-License-Identifier: GPL-2.0-or-later
// rawsharklines.cpp - rawshark's and lumo_judge's output lines.
#include "pipeline/rawsharklines.h"

#include <cstring>

#include "filterset/filterset.h"
#include "platform/calc.h"

namespace {

constexpr char kMessagePrefix[] = "rawshark:";
constexpr int kMessagePrefixLength = sizeof kMessagePrefix - 1;
constexpr int kJudgePrefixLength = sizeof kRawsharkLinesJudgePrefix - 1;
constexpr char kJudgeFilterPrefix[] = "lumo_judge: filter ";
constexpr int kJudgeFilterPrefixLength = sizeof kJudgeFilterPrefix - 1;
constexpr char kJudgeFieldPrefix[] = "lumo_judge: field ";
constexpr int kJudgeFieldPrefixLength = sizeof kJudgeFieldPrefix - 1;
constexpr char kJudgeKindPrefix[] = "lumo_judge: kind ";
constexpr int kJudgeKindPrefixLength = sizeof kJudgeKindPrefix - 1;

// What a line longer than the buffer keeps of its end: enough for the
// verdict rule, which looks at the last three characters (and a CR).
constexpr int kLongLineTail = 8;

bool StartsWith(const char* line, int size, const char* prefix, int prefixLength) {
    return size >= prefixLength && memcmp(line, prefix, static_cast<size_t>(prefixLength)) == 0;
}

// The position I of "PREFIX I" at the start of a line, with the character
// after it in *after; 0 when there is none or it is out of range.
int PositionAfter(const RawsharkLinesHandler* handler, const char* line, int size, const char* prefix, int prefixLength,
                  int* after) {
    if (!StartsWith(line, size, prefix, prefixLength)) return 0;
    int n = 0, at = prefixLength;
    while (at < size && line[at] >= '0' && line[at] <= '9' && n <= FilterSetMax) n = n * 10 + (line[at++] - '0');
    if (at >= size || n < 1 || n > handler->verdicts) return 0;
    *after = at;
    return n;
}

// "lumo_judge: filter I: ..." and "lumo_judge: field I: ..." are the
// message of position I-1, "lumo_judge: kind I NAME" the kind of its field;
// any other "lumo_judge:" line is the judge's own.
void JudgeMessage(const RawsharkLinesHandler* handler, const char* line, int size) {
    int at = 0, n;
    if ((n = PositionAfter(handler, line, size, kJudgeFilterPrefix, kJudgeFilterPrefixLength, &at)) &&
        line[at] == ':') {
        handler->message(handler->context, n - 1, line, size);
        return;
    }
    if ((n = PositionAfter(handler, line, size, kJudgeFieldPrefix, kJudgeFieldPrefixLength, &at)) && line[at] == ':') {
        handler->message(handler->context, n - 1, line, size);
        return;
    }
    if ((n = PositionAfter(handler, line, size, kJudgeKindPrefix, kJudgeKindPrefixLength, &at)) && line[at] == ' ') {
        if (handler->kind) handler->kind(handler->context, n - 1, CalcKindOfName(line + at + 1, size - at - 1));
        return;
    }
    handler->message(handler->context, -1, line, size);
}

// One complete line of the judge: exactly as many verdicts as it judges, or
// a message; anything else (and any line longer than the buffer) is ignored.
void JudgeLine(const RawsharkLinesHandler* handler, const char* line, int size, int longLine) {
    if (longLine) return;
    if (StartsWith(line, size, kRawsharkLinesJudgePrefix, kJudgePrefixLength)) {
        JudgeMessage(handler, line, size);
        return;
    }
    uint64_t frame = 0;
    if (handler->numbered) {
        int at = 0;
        while (at < size && at < 20 && line[at] >= '0' && line[at] <= '9')
            frame = frame * 10 + uint64_t(line[at++] - '0');
        if (at == 0 || at >= size || line[at] != ' ' || frame == 0) return;
        line += at + 1;
        size -= at + 1;
    }
    int k = handler->verdicts;
    if (size < k) return;
    for (int p = 0; p < k; ++p) {
        if (line[p] != '0' && line[p] != '1') return;
    }
    // then one word for each position with a field, in order
    CalcCell cells[FilterSetMax];
    int at = k;
    for (int p = 0; p < k; ++p) {
        if (!(handler->calcMask & (1u << p))) continue;
        if (at >= size || line[at] != ' ') return;
        int start = ++at;
        while (at < size && line[at] != ' ') ++at;
        if (!CalcCellParse(line + start, at - start, &cells[p])) return;
    }
    if (at != size) return;
    if (handler->numbered) {
        handler->row(handler->context, frame, line, cells);
        return;
    }
    for (int p = 0; p < k; ++p) {
        handler->verdict(handler->context, p, line[p] == '1', (handler->calcMask & (1u << p)) ? &cells[p] : nullptr);
    }
}

}  // namespace

int RawsharkLinesParse(RawsharkLines* lines, const char* buffer, int length, const RawsharkLinesHandler* handler) {
    int consumed = 0;
    while (consumed < length) {
        const char* line = buffer + consumed;
        const char* lf = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(length - consumed)));
        if (!lf) break;
        int size = static_cast<int>(lf - line);  // without the LF
        consumed += size + 1;
        if (size > 0 && line[size - 1] == '\r') --size;

        int longLine = lines->longLine;
        lines->longLine = RawsharkLinesWhole;
        if (longLine == RawsharkLinesLongMessage) continue;  // the end of a message line already handed on
        if (handler->verdicts > 0) {
            JudgeLine(handler, line, size, longLine);
            continue;
        }

        // The message test comes first: a verdict line starts with a frame
        // number, so no verdict is lost, and an error text that happens to
        // end in '-' is not counted as a packet.
        if (!longLine && StartsWith(line, size, kMessagePrefix, kMessagePrefixLength)) {
            handler->message(handler->context, -1, line, size);
        } else if (size >= 5 && line[size - 1] == '-') {
            handler->verdict(handler->context, 0, line[size - 3] == '1', nullptr);
        }
    }
    return consumed;
}

void RawsharkLinesTakeRead(RawsharkLines* lines, int got, const RawsharkLinesHandler* handler) {
    lines->fill += got;
    int used = RawsharkLinesParse(lines, lines->buffer, lines->fill, handler);
    if (used > 0) {
        memmove(lines->buffer, lines->buffer + used, static_cast<size_t>(lines->fill - used));
        lines->fill -= used;
    }
    if (lines->fill < kRawsharkBufferSize) return;

    // A full buffer without a line end: the line is longer than the buffer.
    // Holding it would stall the reader (and every later verdict), so it is
    // followed to its end instead.
    if (lines->longLine == RawsharkLinesLongMessage) {
        lines->fill = 0;
    } else if (lines->longLine == RawsharkLinesWhole && handler->verdicts > 0 &&
               StartsWith(lines->buffer, lines->fill, kRawsharkLinesJudgePrefix, kJudgePrefixLength)) {
        JudgeMessage(handler, lines->buffer, kRawsharkLinesMessageKeep);
        lines->longLine = RawsharkLinesLongMessage;
        lines->fill = 0;
    } else if (lines->longLine == RawsharkLinesWhole &&
               StartsWith(lines->buffer, lines->fill, kMessagePrefix, kMessagePrefixLength)) {
        handler->message(handler->context, -1, lines->buffer, kRawsharkLinesMessageKeep);
        lines->longLine = RawsharkLinesLongMessage;
        lines->fill = 0;
    } else {
        memmove(lines->buffer, lines->buffer + lines->fill - kLongLineTail, kLongLineTail);
        lines->fill = kLongLineTail;
        lines->longLine = RawsharkLinesLong;
    }
}
