// SPDX-License-Identifier: GPL-2.0-or-later
// text.h - small text helpers every module shares: blanks trimming, bounded
// text copies, file-name extensions, CSV fields and the colour conventions.
//
// Colours are 0x00RRGGBB (red in bits 16..23, blue in the low byte), the
// pixel layout of the drawing surface. In files they are "0x" and six
// lower-case hexadecimal digits, red first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Removes leading and trailing blanks and tabs in place; an empty text is
// left alone.
void TrimBlanks(char* text);

// Copies src into dst (size bytes, NUL always written when size > 0), cutting
// it to fit. Returns the length of src, so a result >= size means it was cut.
size_t TextCopy(char* dst, size_t size, const char* src);

// Appends src to the NUL-terminated dst (size bytes), cutting to fit.
// Returns the length the whole text would have.
size_t TextAppend(char* dst, size_t size, const char* src);

// 1 when the text from the last '.' of path on equals ext (".fs") without
// regard to case; 0 when it differs or path has no '.'.
int HasExtension(const char* path, const char* ext);

// Writes "0x%02x%02x%02x" of red, green, blue into out (at least 9 bytes).
void ColorToText(uint32_t color, char* out);

// The colour a text names, as the settings file and the colour field read
// it: blanks, at most one sign, then digits in the base their prefix gives
// ("0x" hexadecimal, "0" octal, else decimal) up to the first other
// character, as a 32-bit unsigned value (a magnitude beyond 32 bits gives all
// ones, a '-' negates modulo 2^32), of which the low 24 bits are kept. No
// number gives 0. Any thread.
uint32_t ColorFromText(const char* text);

// Writes text as one CSV field: quoted (quotes doubled) when it holds a
// comma, a quote, a line break or a leading or trailing blank.
void CsvWriteField(FILE* out, const char* text);
