// SPDX-License-Identifier: GPL-2.0-or-later
// profile.h - our private-profile (ini) reader and writer with the Windows
// rules: section and key names compared without case, the first matching
// section and the first matching key in it win (keys of a later section of
// the same name are not looked at), a missing file, section or key gives the
// default, and writing a key keeps every other line of the file as it was.
// Lines end in LF or CR LF; blanks around names and values do not count; a
// line with neither "[...]" nor "=" is kept but means nothing. The writer
// keeps the file's own line end (LF for a new file).
//
// The file forms read or rewrite the whole file per call; the Text forms do
// the same over a file's text in memory. Any thread, but one writer per file.
#pragma once

#include <cstddef>
#include <string>

// Copies the value of key (blanks around it removed; one pair of surrounding
// double quotes removed; cut at a NUL byte) into out, cut to size - 1
// characters, or def when the key is missing. Returns the length copied.
size_t ProfileGetString(const char* section, const char* key, const char* def, char* out, size_t size,
                        const char* path);

// The value of key read as a decimal integer the way GetPrivateProfileInt
// reads it (leading blanks, one sign, digits up to the first other
// character, wrapping at 32 bits; no digits give 0), or def when the key is
// missing or its value is empty.
int ProfileGetInt(const char* section, const char* key, int def, const char* path);

// Sets key to value in section, adding the section at the end of the file
// and the key after the last line of its section when missing; every other
// line is kept. The file is replaced atomically (written beside it, then
// renamed). Returns 1, or 0 when the file cannot be written or a name or the
// value cannot be held by an ini line (a line end in any of them, "=" or a
// leading "[" in the key, "]" in the section).
int ProfileWriteString(const char* section, const char* key, const char* value, const char* path);

// Sets count keys at once with one atomic replace of the file (the order of
// keys[] is the order new keys are added in). Returns 1, or 0 when the file
// cannot be written or any pair is refused (then the file is untouched).
int ProfileWriteStrings(const char* section, const char* const* keys, const char* const* values, int count,
                        const char* path);

// ---------------------------------------------------------------- in memory

// ProfileGetString over the file text text[0..length).
size_t ProfileTextGetString(const char* text, size_t length, const char* section, const char* key, const char* def,
                            char* out, size_t size);

// ProfileGetInt over the file text text[0..length).
int ProfileTextGetInt(const char* text, size_t length, const char* section, const char* key, int def);

// ProfileWriteString over the file text in *text. Returns 1, or 0 (text
// unchanged) when a name or the value is refused.
int ProfileTextWriteString(std::string* text, const char* section, const char* key, const char* value);
