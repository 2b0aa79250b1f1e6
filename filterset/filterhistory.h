// SPDX-License-Identifier: GPL-2.0-or-later
// filterhistory.h - the input histories of the dialogs: "displayfilter"
// (Filter Configuration) and "capturefilter" (Capture Options), plain text
// files in the data folder with one filter per line. The program only reads
// them and appends to them; it never rewrites or shortens them.
// UI thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Full path of the history file `name` in the data folder. Returns 1, or 0
// when it does not fit.
int FilterHistoryPath(const char* name, char* out, size_t size);

// Reads the history at path into items: pieces of at most 255 characters
// (a longer line gives several), a CR or LF in either of the last two
// positions of a piece ends its text there, blanks around it removed, empty
// pieces skipped. The items are then sorted without regard to case, equal
// ones kept in file order (duplicates stay), as the sorted combo list shows
// them. A missing file gives no items. Returns the number of items.
int FilterHistoryRead(const char* path, std::vector<std::string>* items);

// 1 when some item begins with text (compared without regard to case), so
// that a text that starts an existing entry is not recorded again.
int FilterHistoryHasPrefix(const std::vector<std::string>& items, const char* text);

// Appends text and a line feed to the history at path (created, and the data
// folder with it, when missing). Returns 1, or 0 when the file cannot be
// opened (the caller carries on silently).
int FilterHistoryAppend(const char* path, const char* text);

// The OK rule of both dialogs: a non-empty text that no item begins with is
// appended. Returns 1 when it was appended.
int FilterHistoryRecord(const char* path, const std::vector<std::string>& items, const char* text);
