// SPDX-License-Identifier: GPL-2.0-or-later
// filedialogs.cpp - remembered folders and the rawshark name check.
#include "platform/filedialogs.h"

#include <cstring>
#include <strings.h>

#include "platform/platform.h"
#include "platform/text.h"

const char* const kRawsharkFileName = "rawshark";

static char RememberedFolders[FolderKindCount][kPathMax];

const char* FileDialogInitialFolder(int kind) {
    if (kind < 0 || kind >= FolderKindCount) kind = FolderFilterSet;
    char* folder = RememberedFolders[kind];
    if (!folder[0] && !DataFolder(folder, kPathMax)) folder[0] = '\0';
    return folder;
}

void FileDialogRemember(int kind, const char* chosenPath) {
    if (kind < 0 || kind >= FolderKindCount) return;
    char* folder = RememberedFolders[kind];
    const char* slash = strrchr(chosenPath, '/');
    if (!slash) {
        folder[0] = '\0';
        return;
    }
    size_t n = static_cast<size_t>(slash - chosenPath);
    if (n == 0) n = 1;  // a file in the root folder keeps "/"
    if (n >= static_cast<size_t>(kPathMax)) n = kPathMax - 1;
    memcpy(folder, chosenPath, n);
    folder[n] = '\0';
}

void FileDialogForgetAll() {
    for (int k = 0; k < FolderKindCount; ++k) RememberedFolders[k][0] = '\0';
}

void FileDialogRawsharkFolder(const char* configuredPath, char* out, size_t size) {
    const char* slash = configuredPath ? strrchr(configuredPath, '/') : nullptr;
    if (slash && slash != configuredPath) {
        size_t n = static_cast<size_t>(slash - configuredPath);
        if (n < size) {
            memcpy(out, configuredPath, n);
            out[n] = '\0';
            return;
        }
    }
    TextCopy(out, size, "/usr/bin");
}

int FileDialogIsRawshark(const char* path) {
    const char* slash = strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    return strcasecmp(base, kRawsharkFileName) == 0;
}
