// profile.h - our private-profile (ini) reader and writer with the Windows
// rules: section and key names compared without case, the first matching
// section and key win, a missing file, section or key gives the default,
// and writing a key keeps every other line of the file as it was. Lines end
// in LF or CR LF; the writer keeps the file's own line end (LF for a new file).
#pragma once

#include <cstddef>

// Copies the value of key (blanks around it removed; one pair of surrounding
// double quotes removed) into out, cut to size - 1 characters, or def when the
// key is missing. Returns the length copied.
size_t ProfileGetString(const char* section, const char* key, const char* def,
                        char* out, size_t size, const char* path);

// The value of key read as a decimal integer (leading blanks, one sign,
// digits up to the first other character; no digits give 0), or def when
// the key is missing.
int ProfileGetInt(const char* section, const char* key, int def, const char* path);

// Sets key to value in section, adding the section at the end of the file
// and the key at the end of its section when missing; every other line is
// kept. The file is replaced atomically (written beside it, then renamed).
// Returns 1, or 0 when the file cannot be written.
int ProfileWriteString(const char* section, const char* key, const char* value, const char* path);
