// SPDX-License-Identifier: GPL-2.0-or-later
// profile.cpp - private-profile (ini) files read and written with the Windows
// rules, over the whole file text.
//
//   ScanLine / LineOf      one line: its extent, and what it is
//   FindKey                the first matching section, the first key in it
//   Get...                 values as GetPrivateProfileString/Int give them
//   TextSet                rewrite one key, keeping every other byte
//   file forms             read the file, or rewrite it atomically
#include "platform/profile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/text.h"

namespace {

// What a line of an ini file is once blanks around it are ignored.
enum LineKind { LineEmpty, LineSection, LineKey, LineOther };

struct Line {
    size_t start;  // first byte of the line
    size_t end;    // its line feed, or the end of the text
    size_t next;   // first byte of the next line
    LineKind kind;
    size_t nameStart, nameEnd;    // section or key name, blanks removed
    size_t valueStart, valueEnd;  // key value, blanks removed
};

// The blanks Windows skips around names and values (a CR before the LF is
// one of them, which is what makes LF and CR LF files read alike).
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

Line LineOf(const char* text, size_t length, size_t start) {
    Line line{};
    line.start = start;
    const void* lf = memchr(text + start, '\n', length - start);
    line.end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - text) : length;
    line.next = lf ? line.end + 1 : length;

    size_t a = start, b = line.end;
    while (a < b && IsSpace(text[a])) ++a;
    while (b > a && IsSpace(text[b - 1])) --b;
    if (a == b) {
        line.kind = LineEmpty;
        return line;
    }
    if (text[a] == '[') {
        // The name runs to the last ']' of the line, as Windows reads it.
        const char* close = nullptr;
        for (size_t i = b; i > a + 1; --i) {
            if (text[i - 1] == ']') {
                close = text + i - 1;
                break;
            }
        }
        if (close) {
            line.kind = LineSection;
            line.nameStart = a + 1;
            line.nameEnd = static_cast<size_t>(close - text);
            return line;
        }
    }
    const void* eq = memchr(text + a, '=', b - a);
    if (!eq) {
        line.kind = LineOther;
        return line;
    }
    size_t e = static_cast<size_t>(static_cast<const char*>(eq) - text);
    size_t ne = e;
    while (ne > a && IsSpace(text[ne - 1])) --ne;
    size_t vs = e + 1;
    while (vs < b && IsSpace(text[vs])) ++vs;
    line.kind = LineKey;
    line.nameStart = a;
    line.nameEnd = ne;
    line.valueStart = vs;
    line.valueEnd = b;
    return line;
}

bool NameIs(const char* text, size_t start, size_t end, const char* name) {
    size_t n = strlen(name);
    return end - start == n && strncasecmp(text + start, name, n) == 0;
}

// Where a key lives in the text. section: the first section of that name
// (or none); key: the first key line of that name inside it (or none);
// sectionLast: the last non-empty line of that section, where a new key goes.
struct Place {
    bool haveSection = false;
    bool haveKey = false;
    Line key{};
    Line sectionLast{};
};

Place FindKey(const char* text, size_t length, const char* section, const char* key) {
    Place place;
    bool inside = false;
    for (size_t pos = 0; pos < length;) {
        Line line = LineOf(text, length, pos);
        pos = line.next;
        if (line.kind == LineSection) {
            if (inside) break;  // the first section of the name is the only one looked at
            if (NameIs(text, line.nameStart, line.nameEnd, section)) {
                inside = true;
                place.haveSection = true;
                place.sectionLast = line;
            }
            continue;
        }
        if (!inside || line.kind == LineEmpty) continue;
        place.sectionLast = line;
        if (key && line.kind == LineKey && NameIs(text, line.nameStart, line.nameEnd, key)) {
            place.haveKey = true;
            place.key = line;
            return place;
        }
    }
    return place;
}

// The value of a found key: cut at a NUL byte, one pair of surrounding
// double quotes removed.
void ValueOf(const char* text, const Line& line, size_t* start, size_t* end) {
    size_t a = line.valueStart, b = line.valueEnd;
    const void* nul = memchr(text + a, '\0', b - a);
    if (nul) b = static_cast<size_t>(static_cast<const char*>(nul) - text);
    if (b - a >= 2 && text[a] == '"' && text[b - 1] == '"') {
        ++a;
        --b;
    }
    *start = a;
    *end = b;
}

size_t CopyOut(const char* src, size_t n, char* out, size_t size) {
    if (!out || size == 0) return 0;
    if (n > size - 1) n = size - 1;
    if (n) memcpy(out, src, n);
    out[n] = '\0';
    return n;
}

// GetPrivateProfileInt's conversion: decimal only, accumulated in 32 bits.
int ParseProfileInt(const char* s, size_t n) {
    size_t i = 0;
    while (i < n && static_cast<unsigned char>(s[i]) <= ' ') ++i;
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    uint32_t value = 0;
    for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i) value = value * 10u + static_cast<uint32_t>(s[i] - '0');
    if (negative) value = 0u - value;
    return static_cast<int>(value);
}

bool HasLineEnd(const char* s) { return strpbrk(s, "\r\n") != nullptr; }

// Names and values an ini line cannot hold are refused rather than written
// into lines that would read back as something else.
bool Acceptable(const char* section, const char* key, const char* value) {
    if (!section || !key || !value || !key[0]) return false;
    if (HasLineEnd(section) || strchr(section, ']')) return false;
    if (HasLineEnd(key) || strchr(key, '=') || key[0] == '[') return false;
    return !HasLineEnd(value);
}

// The line end the file already uses: CR LF when its first line has one.
const char* LineEndOf(const std::string& text) {
    size_t lf = text.find('\n');
    return (lf != std::string::npos && lf > 0 && text[lf - 1] == '\r') ? "\r\n" : "\n";
}

void TextSet(std::string* text, const char* section, const char* key, const char* value) {
    const char* eol = LineEndOf(*text);
    Place place = FindKey(text->data(), text->size(), section, key);
    if (place.haveKey) {
        // Replace "name = old" by "name=value", keeping the file's spelling of
        // the name and everything outside the line (its CR included).
        const Line& l = place.key;
        std::string replacement = text->substr(l.nameStart, l.nameEnd - l.nameStart) + "=" + value;
        size_t end = l.end;
        if (end > l.start && (*text)[end - 1] == '\r') --end;
        text->replace(l.start, end - l.start, replacement);
        return;
    }
    std::string entry = std::string(key) + "=" + value + eol;
    if (place.haveSection) {
        const Line& last = place.sectionLast;
        if (last.next == last.end) {  // the last line of the file has no line end
            text->append(eol);
            text->append(entry);
        } else {
            text->insert(last.next, entry);
        }
        return;
    }
    if (!text->empty() && text->back() != '\n') text->append(eol);
    text->append("[").append(section).append("]").append(eol).append(entry);
}

// 1 when the file was read whole, 0 when there is no file (an empty text),
// -1 when it exists but cannot be read.
int ReadWholeFile(const char* path, std::string* text) {
    text->clear();
    if (!path) return 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? 0 : -1;
    char buffer[65536];
    int result = 1;
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) result = -1;
        if (n <= 0) break;
        text->append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return result;
}

}  // namespace

// ---------------------------------------------------------------- in memory

size_t ProfileTextGetString(const char* text, size_t length, const char* section, const char* key, const char* def,
                            char* out, size_t size) {
    if (!def) def = "";
    if (!text || !section || !key) return CopyOut(def, strlen(def), out, size);
    Place place = FindKey(text, length, section, key);
    if (!place.haveKey) return CopyOut(def, strlen(def), out, size);
    size_t a, b;
    ValueOf(text, place.key, &a, &b);
    return CopyOut(text + a, b - a, out, size);
}

int ProfileTextGetInt(const char* text, size_t length, const char* section, const char* key, int def) {
    if (!text || !section || !key) return def;
    Place place = FindKey(text, length, section, key);
    if (!place.haveKey) return def;
    size_t a, b;
    ValueOf(text, place.key, &a, &b);
    if (a == b) return def;  // an empty value reads as a missing one
    return ParseProfileInt(text + a, b - a);
}

int ProfileTextWriteString(std::string* text, const char* section, const char* key, const char* value) {
    if (!text || !Acceptable(section, key, value)) return 0;
    TextSet(text, section, key, value);
    return 1;
}

// ---------------------------------------------------------------- files

size_t ProfileGetString(const char* section, const char* key, const char* def, char* out, size_t size,
                        const char* path) {
    std::string text;
    ReadWholeFile(path, &text);
    return ProfileTextGetString(text.data(), text.size(), section, key, def, out, size);
}

int ProfileGetInt(const char* section, const char* key, int def, const char* path) {
    std::string text;
    ReadWholeFile(path, &text);
    return ProfileTextGetInt(text.data(), text.size(), section, key, def);
}

int ProfileWriteString(const char* section, const char* key, const char* value, const char* path) {
    return ProfileWriteStrings(section, &key, &value, 1, path);
}

int ProfileWriteStrings(const char* section, const char* const* keys, const char* const* values, int count,
                        const char* path) {
    if (!path || count < 0 || (count > 0 && (!keys || !values))) return 0;
    for (int i = 0; i < count; ++i) {
        if (!Acceptable(section, keys[i], values[i])) return 0;
    }
    // A file that exists but cannot be read is left alone: rewriting it from
    // nothing would lose every other line.
    std::string text;
    if (ReadWholeFile(path, &text) < 0) return 0;
    for (int i = 0; i < count; ++i) TextSet(&text, section, keys[i], values[i]);
    return FileWriteAtomic(path, text.data(), text.size(), nullptr);
}
