// SPDX-License-Identifier: GPL-2.0-or-later
// text.cpp - blanks trimming, bounded text copies, colour helpers, CSV
// fields.
#include "platform/text.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

static int IsBlank(char c) { return c == ' ' || c == '\t'; }

void TrimBlanks(char* text) {
    if (!text || !text[0]) return;
    size_t len = strlen(text);
    while (len > 0 && IsBlank(text[len - 1])) text[--len] = '\0';
    size_t lead = 0;
    while (IsBlank(text[lead])) ++lead;
    if (lead) memmove(text, text + lead, len - lead + 1);
}

size_t TextCopy(char* dst, size_t size, const char* src) {
    size_t len = src ? strlen(src) : 0;
    if (!dst || size == 0) return len;
    size_t n = len < size - 1 ? len : size - 1;
    if (n) memcpy(dst, src, n);
    dst[n] = '\0';
    return len;
}

size_t TextAppend(char* dst, size_t size, const char* src) {
    if (!dst || size == 0) return (src ? strlen(src) : 0);
    size_t have = strnlen(dst, size);
    if (have == size) return size + (src ? strlen(src) : 0);
    return have + TextCopy(dst + have, size - have, src);
}

int HasExtension(const char* path, const char* ext) {
    if (!path || !ext) return 0;
    const char* dot = strrchr(path, '.');
    if (!dot) return 0;
    return strcasecmp(dot, ext) == 0;
}

void ColorToText(uint32_t color, char* out) {
    snprintf(out, 9, "0x%02x%02x%02x", (color >> 16) & 0xff, (color >> 8) & 0xff, color & 0xff);
}

uint32_t ColorFromText(const char* text) {
    const char* p = text ? text : "";
    while (isspace(static_cast<unsigned char>(*p))) ++p;
    int negative = 0;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    // strtoull would take a second sign or more blanks after the sign; the
    // conversion this mirrors does not.
    if (*p == '+' || *p == '-' || isspace(static_cast<unsigned char>(*p))) return 0;
    errno = 0;
    char* end = nullptr;
    unsigned long long magnitude = strtoull(p, &end, 0);
    if (end == p) return 0;
    uint32_t value;
    if (errno == ERANGE || magnitude > 0xffffffffULL) {
        value = 0xffffffffu;  // saturates, whatever the sign
    } else {
        value = static_cast<uint32_t>(magnitude);
        if (negative) value = 0u - value;
    }
    return value & 0xffffff;
}

void CsvWriteField(FILE* out, const char* text) {
    size_t n = strlen(text);
    int quote = n > 0 && (text[0] == ' ' || text[n - 1] == ' ');
    for (const char* p = text; *p && !quote; p++) {
        quote = *p == ',' || *p == '"' || *p == '\r' || *p == '\n';
    }
    if (!quote) {
        fputs(text, out);
        return;
    }
    fputc('"', out);
    for (const char* p = text; *p; p++) {
        if (*p == '"') fputc('"', out);
        fputc(*p, out);
    }
    fputc('"', out);
}
