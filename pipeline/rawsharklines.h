// SPDX-License-Identifier: GPL-2.0-or-later
// rawsharklines.h - the two line protocols a judging process speaks on its
// output, taken from reads of any size:
//
//   rawshark     one line per packet whose last character is '-'; the
//                character two before it is the verdict ('1' matched).
//                A line beginning "rawshark:" is a message, never a verdict
//                (an error text may end in '-'). Other lines are ignored.
//   lumo_judge   one line per packet of N characters '0'/'1', the verdict
//                of position p (the p-th judged filter) at p, then a word
//                " N:SUM:MIN:MAX" or " 0" for each position with a field
//                (calcMask), in order (pipeline/calc.h).
//                "lumo_judge: filter I: ..." and "lumo_judge: field I: ..."
//                are the message of position I-1 (1 <= I <= N),
//                "lumo_judge: kind I NAME" the kind of its field, any other
//                "lumo_judge:" line the judge's own message. Other lines, and
//                lines of another shape, are ignored. One of several judges
//                (numbered) puts the packet's frame number and a blank
//                before the verdicts.
//
// Lines end at LF, a CR before it dropped. A line longer than the buffer is
// followed to its end without being held, so it never stalls the verdicts
// after it: a message line keeps its first kRawsharkLinesMessageKeep bytes,
// any other line its last bytes, so that a rawshark verdict ending it still
// counts (a lumo_judge line that long is no verdict line).
//
// No shared state: one RawsharkLines per process output, used by the one
// thread that reads that output.
#pragma once

#include <cstdint>

#include "platform/calc.h"

constexpr int kRawsharkBufferSize = 8192;       // bytes held of lines not yet complete
constexpr int kRawsharkLinesMessageKeep = 255;  // what an over-long message line keeps of its start

// What begins every message line of lumo_judge.
constexpr char kRawsharkLinesJudgePrefix[] = "lumo_judge:";

// RawsharkLines.longLine: where the reader is.
enum { RawsharkLinesWhole = 0, RawsharkLinesLong = 1, RawsharkLinesLongMessage = 2 };

// One process's output as the reader has it. All zero at its start.
struct RawsharkLines {
    char buffer[kRawsharkBufferSize];  // the reads not yet taken: the start of an incomplete line
    int32_t fill;                      // bytes held in buffer
    int32_t longLine;                  // RawsharkLinesWhole, or inside a line longer than the buffer
};

// What the lines are and where what they say goes; called on the reader's
// thread, in the order of the lines.
struct RawsharkLinesHandler {
    int32_t verdicts;   // 0: rawshark's lines; N > 0: lumo_judge's lines of N verdicts
    uint32_t calcMask;  // lumo_judge: the positions with a field
    void* context;      // handed to every call
    // One packet's verdict: position 0 for rawshark, p for lumo_judge, with
    // the sums of its field when the position has one (else nullptr).
    void (*verdict)(void* context, int position, int matched, const CalcCell* cell);
    // A message line (text[0..length), no line end, not NUL-terminated):
    // position -1 for the process's own, else the position it names.
    void (*message)(void* context, int position, const char* text, int length);
    // The kind of a position's field (CalcKind); may be null.
    void (*kind)(void* context, int position, int kind);
    // numbered: one of several judges; each verdict line goes to row
    // instead of verdict: the frame, the N verdict characters, the sums of
    // each position with a field (cells[p]).
    int32_t numbered;
    void (*row)(void* context, uint64_t frame, const char* verdicts, const CalcCell* cells);
};

// Hands on the complete lines of buffer[0..length) (buffer need not be
// lines->buffer), in order. Returns the bytes consumed: complete lines only.
int RawsharkLinesParse(RawsharkLines* lines, const char* buffer, int length, const RawsharkLinesHandler* handler);

// Takes `got` bytes that a read placed at lines->buffer + lines->fill: hands
// on the complete lines and keeps the rest at the front; a full buffer
// without a line end starts following an over-long line.
void RawsharkLinesTakeRead(RawsharkLines* lines, int got, const RawsharkLinesHandler* handler);
