// SPDX-License-Identifier: GPL-2.0-or-later
// rawsharkcommand.cpp - the rawshark and lumo_judge command lines and the
// preferences file.
#include "pipeline/rawsharkcommand.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/text.h"
#include "shell/debuglog.h"

// A preferences line as one read gives it: at most 255 characters.
constexpr int kPreferenceLineSize = 256;

// Appends one argument to argv (and nothing to the text). 0 when full.
static int AddArg(RawsharkCommand* command, const char* arg) {
    size_t len = strlen(arg);
    if (command->argc >= kRawsharkMaxArgs) return 0;
    if (command->used + len + 1 > sizeof command->store) return 0;
    char* at = command->store + command->used;
    memcpy(at, arg, len + 1);
    command->used += static_cast<int>(len + 1);
    command->argv[command->argc++] = at;
    command->argv[command->argc] = nullptr;
    return 1;
}

// The -N letters of the block ("C" is never passed: rawshark 4.0 rejects it,
// and the judge takes the same switches).
static void ResolutionLetters(const RawsharkBlock* rawshark, char* letters, size_t size) {
    snprintf(letters, size, "%s%s%s", rawshark->macResolution ? "m" : "", rawshark->networkResolution ? "n" : "",
             rawshark->transportResolution ? "t" : "");
}

int RawsharkCommandBuild(const RawsharkBlock* rawshark, int linkType, const char* filterText,
                         RawsharkCommand* command) {
    command->text[0] = '\0';
    command->argc = 0;
    command->used = 0;
    command->argv[0] = nullptr;

    // "C" (concurrent DNS) is never passed: rawshark 4.0 rejects it. With no
    // letter left "-N" is left out too, or rawshark would take the next
    // option ("-R") as its argument.
    char letters[8];
    ResolutionLetters(rawshark, letters, sizeof letters);
    char resolution[16] = "";
    if (letters[0]) snprintf(resolution, sizeof resolution, "-N %s", letters);

    int n;
    if (filterText && filterText[0]) {
        n = snprintf(command->text, sizeof command->text, "%s -d encap:%d -l -r - -n %s -R \"%s\" ",
                     rawshark->rawsharkPath, linkType, resolution, filterText);
    } else {
        n = snprintf(command->text, sizeof command->text, "%s -d encap:%d -l -r - -n %s ", rawshark->rawsharkPath,
                     linkType, resolution);
    }
    if (n < 0 || n >= static_cast<int>(sizeof command->text)) {
        command->text[0] = '\0';
        return 0;
    }

    char encap[32];
    snprintf(encap, sizeof encap, "encap:%d", linkType);
    int ok = AddArg(command, rawshark->rawsharkPath) && AddArg(command, "-d") && AddArg(command, encap) &&
             AddArg(command, "-l") && AddArg(command, "-r") && AddArg(command, "-") && AddArg(command, "-n");
    if (ok && letters[0]) ok = AddArg(command, "-N") && AddArg(command, letters);
    if (ok && filterText && filterText[0]) ok = AddArg(command, "-R") && AddArg(command, filterText);
    return ok;
}

// Appends formatted text to the command's text. 0 when it does not fit
// (the text is then as it was).
static int AddText(RawsharkCommand* command, const char* format, ...) {
    size_t have = strlen(command->text);
    va_list args;
    va_start(args, format);
    int n = vsnprintf(command->text + have, sizeof command->text - have, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= sizeof command->text - have) {
        command->text[have] = '\0';
        return 0;
    }
    return 1;
}

// The judge's command reading either the record stream (-d encap:N) or a
// capture file of its own (-r PATH).
static int BuildJudge(const RawsharkBlock* rawshark, const char* judgePath, int linkType, const char* capturePath,
                      int count, const FilterEntry* entries, RawsharkCommand* command) {
    command->text[0] = '\0';
    command->argc = 0;
    command->used = 0;
    command->argv[0] = nullptr;
    char letters[8], encap[32];
    ResolutionLetters(rawshark, letters, sizeof letters);
    snprintf(encap, sizeof encap, "encap:%d", linkType);
    int ok = AddArg(command, judgePath);
    if (ok && capturePath) {
        ok = AddText(command, "%s -r \"%s\" -n ", judgePath, capturePath) && AddArg(command, "-r") &&
             AddArg(command, capturePath) && AddArg(command, "-n");
    } else if (ok) {
        ok = AddText(command, "%s -d %s -n ", judgePath, encap) && AddArg(command, "-d") && AddArg(command, encap) &&
             AddArg(command, "-n");
    }
    if (ok && letters[0]) ok = AddText(command, "-N %s ", letters) && AddArg(command, "-N") && AddArg(command, letters);
    if (!ok) return 0;
    RawsharkCommandAppendPreferences(command);
    for (int i = 0; ok && i < count; ++i) {
        if (!FilterNeedsJudge(&entries[i])) continue;
        const char* text = entries[i].filterText;
        ok = AddText(command, "-R \"%s\" ", text) && AddArg(command, "-R") && AddArg(command, text);
        if (ok && entries[i].calc != CalcNone) {
            const char* field = entries[i].calcField;
            ok = AddText(command, "-F \"%s\" ", field) && AddArg(command, "-F") && AddArg(command, field);
        }
    }
    return ok;
}

int RawsharkCommandBuildJudge(const RawsharkBlock* rawshark, const char* judgePath, int linkType, int count,
                              const FilterEntry* entries, RawsharkCommand* command) {
    return BuildJudge(rawshark, judgePath, linkType, nullptr, count, entries, command);
}

int RawsharkCommandAppendJudgePart(RawsharkCommand* command, int part, int parts) {
    if (part == 0) return AddText(command, "-j ") && AddArg(command, "-j");
    char text[16];
    snprintf(text, sizeof text, "%d/%d", part, parts);
    return AddText(command, "-J %s ", text) && AddArg(command, "-J") && AddArg(command, text);
}

int RawsharkCommandBuildFileJudge(const RawsharkBlock* rawshark, const char* judgePath, const char* capturePath,
                                  int count, const FilterEntry* entries, RawsharkCommand* command) {
    return BuildJudge(rawshark, judgePath, 0, capturePath, count, entries, command);
}

int RawsharkCommandAppendPreferenceLine(RawsharkCommand* command, const char* line) {
    char text[kPreferenceLineSize];
    TextCopy(text, sizeof text, line);
    for (const char cut : {'\r', '\n', '#'}) {
        char* at = strchr(text, cut);
        if (at) *at = '\0';
    }
    for (char* p = text; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c >= 0x80) *p = ' ';
    }
    TrimBlanks(text);
    // A double quote could not be carried inside the quoted option text.
    if (strchr(text, '"') || !strchr(text, ':')) return 0;

    size_t have = strlen(command->text);
    int n = snprintf(command->text + have, sizeof command->text - have, " -o \"%s\" ", text);
    if (n < 0 || static_cast<size_t>(n) >= sizeof command->text - have) {
        command->text[have] = '\0';
        return -1;
    }
    int argc = command->argc, used = command->used;
    if (!AddArg(command, "-o") || !AddArg(command, text)) {
        command->text[have] = '\0';
        command->argc = argc;
        command->used = used;
        command->argv[argc] = nullptr;
        return -1;
    }
    return 1;
}

int RawsharkCommandAppendPreferences(RawsharkCommand* command) {
    char path[kPathMax];
    if (!DataFilePath(kPreferencesFile, path, sizeof path)) return 0;
    FILE* file = fopen(path, "r");
    if (!file) return 0;  // no preferences is not an error
    int appended = 0;
    char line[kPreferenceLineSize];  // the rest of a longer line comes as the next piece
    while (fgets(line, sizeof line, file)) {
        int added = RawsharkCommandAppendPreferenceLine(command, line);
        if (added < 0) {
            // Whole options or none: the rest of the file is left out.
            DEBUG_LOG("RawsharkCommandAppendPreferences() err,command line full");
            break;
        }
        appended += added;
    }
    fclose(file);
    return appended;
}
