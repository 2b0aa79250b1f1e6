// SPDX-License-Identifier: GPL-2.0-or-later
// filterhistory.cpp - reading and appending the dialogs' input histories.
#include "filterset/filterhistory.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/platform.h"
#include "platform/text.h"
#include "shell/debuglog.h"

int FilterHistoryPath(const char* name, char* out, size_t size) { return DataFilePath(name, out, size); }

int FilterHistoryRead(const char* path, std::vector<std::string>* items) {
    items->clear();
    FILE* file = fopen(path, "r");
    if (!file) return 0;
    char piece[256];
    // One item per piece of up to 255 characters (or up to and including a
    // line feed), so a longer line gives several items.
    while (fgets(piece, sizeof piece, file)) {
        size_t len = strlen(piece);
        for (size_t back = 2; back >= 1; --back) {
            if (len >= back && (piece[len - back] == '\n' || piece[len - back] == '\r')) {
                piece[len - back] = '\0';
                break;
            }
        }
        TrimBlanks(piece);
        if (piece[0]) items->emplace_back(piece);
    }
    fclose(file);
    std::stable_sort(items->begin(), items->end(),
                     [](const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
    return static_cast<int>(items->size());
}

int FilterHistoryHasPrefix(const std::vector<std::string>& items, const char* text) {
    size_t len = strlen(text);
    for (const std::string& item : items) {
        if (item.size() >= len && strncasecmp(item.c_str(), text, len) == 0) return 1;
    }
    return 0;
}

int FilterHistoryAppend(const char* path, const char* text) {
    DataFolderCreate();
    FILE* file = fopen(path, "a");
    if (!file) {
        DEBUG_LOG("fopen(%s) err,errno=%d", path, errno);
        return 0;
    }
    fprintf(file, "%s\n", text);
    fclose(file);
    return 1;
}

int FilterHistoryRecord(const char* path, const std::vector<std::string>& items, const char* text) {
    if (!text[0] || FilterHistoryHasPrefix(items, text)) return 0;
    return FilterHistoryAppend(path, text);
}
