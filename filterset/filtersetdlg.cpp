// SPDX-License-Identifier: GPL-2.0-or-later
// filtersetdlg.cpp - the filter set dialogs' algorithms over their records.
#include "filterset/filtersetdlg.h"

#include <cerrno>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filterset/dfilter.h"
#include "filterset/filterhistory.h"
#include "platform/text.h"

const char* const kFilterListHeaders[4] = {"Filter", "Scale", "Unit", "Color(RGB)"};
const int kFilterListWidths[4] = {220, 80, 80, 120};
const char* const kFilterUnitItems[4] = {"byte", "bps", "packet", "pps"};

// ---------------------------------------------------------------- Filter Set Configuration

void FilterSetDlgOpen(FilterSet* working, const FilterSet* applied) { *working = *applied; }

int FilterSetDlgNewEnabled(const FilterSet* working) { return working->count != FilterSetMax; }

int FilterSetDlgNewBegin(const FilterSet* working, FilterEntry* edited) {
    if (working->count >= FilterSetMax || working->count < 0) return 0;
    *edited = working->entries[working->count];
    return 1;
}

int FilterSetDlgNewCommit(FilterSet* working, const FilterEntry* edited) {
    if (working->count >= FilterSetMax || working->count < 0) return -1;
    int i = working->count++;
    working->entries[i] = *edited;
    if (working->entries[i].autoColor) working->entries[i].color = DefaultFilterColors[i];
    return i;
}

int FilterSetDlgEditBegin(const FilterSet* working, int i, FilterEntry* edited) {
    if (i < 0 || i >= working->count) return 0;
    *edited = working->entries[i];
    return 1;
}

int FilterSetDlgEditCommit(FilterSet* working, int i, const FilterEntry* edited) {
    if (i < 0 || i >= working->count) return 0;
    working->entries[i] = *edited;
    if (working->entries[i].autoColor) working->entries[i].color = DefaultFilterColors[i];
    return 1;
}

int FilterSetDlgDelete(FilterSet* working, int i) {
    if (i < 0 || i >= working->count) return 0;
    working->count -= 1;
    for (int j = i; j < FilterSetMax - 1; ++j) working->entries[j] = working->entries[j + 1];
    // ResetFilterEntries gives entry k the defaults of position k, so the
    // freed tail is taken from a full default table, position by position.
    FilterEntry defaults[FilterSetMax];
    ResetFilterEntries(defaults, FilterSetMax);
    for (int j = working->count; j < FilterSetMax; ++j) working->entries[j] = defaults[j];
    for (int j = 0; j < FilterSetMax; ++j) {
        if (working->entries[j].autoColor) working->entries[j].color = DefaultFilterColors[j];
        if (working->entries[j].autoScale) working->entries[j].scale = 0;
    }
    return 1;
}

int FilterSetDlgDrop(FilterSet* working, const char* path) {
    if (!HasExtension(path, ".fs")) return 0;
    ResetFilterEntries(working->entries, FilterSetMax);
    working->count = FilterSetLoadFilterSet(path, working->entries, FilterSetMax);
    return 1;
}

void FilterSetDlgOk(const FilterSet* working, FilterSet* applied) { *applied = *working; }

void FilterListRowTexts(const FilterEntry* entry, FilterListRow* row) {
    TextCopy(row->filter, sizeof row->filter, entry->filterText);
    if (entry->autoScale) {
        TextCopy(row->scale, sizeof row->scale, "auto");
    } else {
        snprintf(row->scale, sizeof row->scale, "%" PRId64, entry->scale);
    }
    if (entry->calc != CalcNone) {
        snprintf(row->unit, sizeof row->unit, "%s(%s)", FilterCalcKeyword(entry->calc), entry->calcField);
    } else {
        TextCopy(row->unit, sizeof row->unit, FilterUnitKeyword(entry->unit));
    }
    char hex[16];
    ColorToText(entry->color, hex);
    if (entry->autoColor) {
        snprintf(row->color, sizeof row->color, "auto(%s)", hex);
    } else {
        TextCopy(row->color, sizeof row->color, hex);
    }
}

// ---------------------------------------------------------------- Filter Configuration

void FilterConfigOpen(const FilterEntry* entry, FilterConfigForm* form) {
    memset(form, 0, sizeof *form);
    TextCopy(form->filterText, sizeof form->filterText, entry->filterText);
    snprintf(form->scaleText, sizeof form->scaleText, "%" PRId64, entry->scale);
    form->autoScale = entry->autoScale ? 1 : 0;
    form->unitIndex = (entry->unit >= 0 && entry->unit <= 3) ? entry->unit : -1;
    ColorToText(entry->color, form->colorText);
    form->autoColor = entry->autoColor ? 1 : 0;
    form->calcIndex = entry->calc >= CalcNone && entry->calc <= CalcCount ? entry->calc : 0;
    TextCopy(form->calcField, sizeof form->calcField, entry->calcField);
    form->styleIndex = entry->style >= StyleLine && entry->style <= StyleDots ? entry->style : 0;
}

const char* const kFilterCalcItems[6] = {"(count the unit)", "sum", "min", "max", "avg", "count"};
const char* const kFilterStyleItems[5] = {"line", "impulse", "bar", "step", "dots"};

// A calculation's field as the form holds it, trimmed; 0 when it holds a
// character no field name has.
static int FieldNameOf(const char* text, char* out, size_t size) {
    TextCopy(out, size, text);
    TrimBlanks(out);
    for (const char* p = out; *p; ++p) {
        if (!isalnum(static_cast<unsigned char>(*p)) && *p != '_' && *p != '-' && *p != '.') return 0;
    }
    return 1;
}

int FilterConfigOk(const FilterConfigForm* form, const std::vector<std::string>& history, const char* historyPath,
                   FilterEntry* entry) {
    char text[256];
    TextCopy(text, sizeof text, form->filterText);
    TrimBlanks(text);
    if (strchr(text, '"')) return 0;
    char field[kCalcFieldSize];
    if (form->calcIndex > 0 && !FieldNameOf(form->calcField, field, sizeof field)) return 0;

    if (historyPath) FilterHistoryRecord(historyPath, history, text);

    TextCopy(entry->filterText, sizeof entry->filterText, text);
    if (form->autoScale) {
        entry->autoScale = 1;
    } else {
        entry->autoScale = 0;
        entry->scale = strtoll(form->scaleText, nullptr, 10);
    }
    if (form->autoColor) {
        entry->autoColor = 1;
    } else {
        entry->autoColor = 0;
        entry->color = ColorFromText(form->colorText);
    }
    switch (form->unitIndex) {
        case 0: entry->unit = UnitByte; break;
        case 2: entry->unit = UnitPacket; break;
        case 3: entry->unit = UnitPps; break;
        default: entry->unit = UnitBps; break;
    }
    entry->calc = form->calcIndex > 0 && form->calcIndex <= CalcCount ? form->calcIndex : CalcNone;
    TextCopy(entry->calcField, sizeof entry->calcField, entry->calc != CalcNone ? field : "");
    entry->style = form->styleIndex >= StyleLine && form->styleIndex <= StyleDots ? form->styleIndex : StyleLine;
    return 1;
}

int FilterConfigCalcFieldColor(const char* field, int calcIndex, char* reason, size_t size) {
    if (reason && size) reason[0] = '\0';
    if (calcIndex <= 0) return FieldWhite;
    char name[kCalcFieldSize];
    int clean = FieldNameOf(field, name, sizeof name);
    if (!name[0] || !clean) {
        snprintf(reason, size, "%s", !name[0] ? "give the field to calculate on" : kFieldNameMessage);
        return FieldInvalid;
    }
    int verdict = 0;
    if (!DfilterDravik(name, &verdict)) return FieldWhite;
    if (!verdict) {
        snprintf(reason, size, "%s is not a field name", name);
        return FieldInvalid;
    }
    if (calcIndex == CalcCount) return FieldValid;
    char numeric[kCalcFieldSize + 1];
    snprintf(numeric, sizeof numeric, "#%s", name);
    if (!DfilterDravik(numeric, &verdict)) return FieldWhite;
    if (!verdict) {
        snprintf(reason, size, "%s holds neither numbers nor time intervals (count counts any field)", name);
        return FieldInvalid;
    }
    return FieldValid;
}

int FilterConfigFieldColor(const char* text) {
    char trimmed[256];
    TextCopy(trimmed, sizeof trimmed, text);
    TrimBlanks(trimmed);
    if (!trimmed[0]) return FieldWhite;
    // One request is one line: a text with a line break gets no verdict.
    if (strpbrk(trimmed, "\r\n")) return FieldWhite;
    int verdict = 0;
    if (!DfilterDravik(trimmed, &verdict)) return FieldWhite;
    if (strchr(trimmed, '"')) return FieldInvalid;
    return verdict == 1 ? FieldValid : FieldInvalid;
}
