// SPDX-License-Identifier: GPL-2.0-or-later
// filtersetdlg.h - what the two filter set dialogs do, as plain code over
// their records, so that it runs and is tested without a window:
//
//   Filter Set Configuration   a working copy of the applied FilterSet,
//                              edited by New, Edit, Delete and a dropped
//                              ".fs" file; OK copies it back
//   Filter Configuration       the control values of one entry under edit
//                              (FilterConfigForm); OK writes them into the
//                              edited entry when they are acceptable
//
// The Qt dialogs (filtersetdlg_qt.h) bind their controls to these calls.
// The dialogs of both programs are the same; only the caption of their
// message boxes differs ("Lumo" or "Lumo_offline"). UI thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filterset/filterset.h"

// ---------------------------------------------------------------- messages

constexpr const char* kFilterSetMaxMessage = "Maximum number of filters is 16.";         // information icon
constexpr const char* kFilterQuoteMessage = "Do not include [\"] in character string.";  // warning icon

// ---------------------------------------------------------------- Filter Set Configuration

// The working copy takes all 16 entries and the count of the applied set.
void FilterSetDlgOpen(FilterSet* working, const FilterSet* applied);

// 1 while a filter can be added (count is not 16): the New button's state.
int FilterSetDlgNewEnabled(const FilterSet* working);

// New, first half: copies the first unused position (a default entry) into
// edited. Returns 1, or 0 when the set is full (show kFilterSetMaxMessage).
int FilterSetDlgNewBegin(const FilterSet* working, FilterEntry* edited);

// New, after the Filter Configuration dialog returned 1: appends edited (an
// automatic colour becomes the default colour of its position). Returns the
// index of the new row, or -1 when the set is full.
int FilterSetDlgNewCommit(FilterSet* working, const FilterEntry* edited);

// Edit (or activation of row i), first half: copies entry i into edited.
// Returns 1, or 0 when i is not a row.
int FilterSetDlgEditBegin(const FilterSet* working, int i, FilterEntry* edited);

// Edit, after the Filter Configuration dialog returned 1: stores edited at i
// (an automatic colour becomes the default colour of position i). Returns 1,
// or 0 when i is not a row.
int FilterSetDlgEditCommit(FilterSet* working, int i, const FilterEntry* edited);

// Delete row i: the later entries move up, the freed positions get default
// entries, every automatic colour becomes its new position's default and
// every automatic scale 0. Returns 1, or 0 when i is not a row.
int FilterSetDlgDelete(FilterSet* working, int i);

// A file dropped on the dialog: a name ending in ".fs" (any case) replaces
// the working copy with the file's filters (an unreadable file gives an
// empty set). Returns 1 when it was taken, 0 when the drop is ignored.
int FilterSetDlgDrop(FilterSet* working, const char* path);

// OK: the applied set takes all 16 entries and the count of the working copy.
void FilterSetDlgOk(const FilterSet* working, FilterSet* applied);

// The four column texts of a list row.
struct FilterListRow {
    char filter[256];  // "Filter": the filter text
    char scale[32];    // "Scale": "auto", or the scale in signed decimal
    char unit[160];    // "Unit": "byte", "bps", "packet" or "pps", or the calculation "avg(FIELD)"
    char color[32];    // "Color(RGB)": "0xrrggbb", or "auto(0xrrggbb)"
};
void FilterListRowTexts(const FilterEntry* entry, FilterListRow* row);

// The column headers and widths in pixels.
extern const char* const kFilterListHeaders[4];
extern const int kFilterListWidths[4];

// ---------------------------------------------------------------- Filter Configuration

// The controls of the Filter Configuration dialog.
struct FilterConfigForm {
    char filterText[256];            // filter combo box text (at most 255 characters)
    char scaleText[32];              // scale field (digits only)
    int autoScale;                   // "Auto scale" ticked; the scale field is disabled then
    int unitIndex;                   // unit combo selection 0..3 ("byte", "bps", "packet", "pps"), -1 none
    char colorText[64];              // colour field, any text
    int autoColor;                   // "Auto color" ticked; the colour field is disabled then
    int calcIndex;                   // calculation combo: 0 none (count the unit), then sum, min, max, avg, count
    char calcField[kCalcFieldSize];  // field box (for a calculation)
    int styleIndex;                  // style combo 0..4: line, impulse, bar, step, dots
};

// The calculation and style combo box items in order.
extern const char* const kFilterCalcItems[6];
extern const char* const kFilterStyleItems[5];

constexpr const char* kFieldNameMessage =
    "A field name holds only letters, digits, \"_\", \"-\" and \".\".";  // warning icon

// The unit combo box items in order.
extern const char* const kFilterUnitItems[4];

// Opening: the form shows the entry (scale in signed decimal also when it is
// automatic, colour as "0xrrggbb").
void FilterConfigOpen(const FilterEntry* entry, FilterConfigForm* form);

// OK: 0 when the filter text holds a double quote (show kFilterQuoteMessage
// and stay; entry unchanged), or a calculation's field holds anything but a
// field name's characters (show kFieldNameMessage). Otherwise records a new text in the history
// (see FilterHistoryRecord; historyPath may be null to skip it), writes the
// trimmed text, scale, unit and colour into entry and returns 1. A fixed
// colour is read with automatic base ("0x" hexadecimal, "0" octal, else
// decimal; no number gives 0), low 24 bits kept.
int FilterConfigOk(const FilterConfigForm* form, const std::vector<std::string>& history, const char* historyPath,
                   FilterEntry* entry);

// Background of an edit field that shows whether its text is valid.
enum FieldColor { FieldWhite = 0, FieldValid = 1, FieldInvalid = 2 };

// The backgrounds of FieldValid (light green) and FieldInvalid (light red),
// 0x00RRGGBB.
constexpr uint32_t kValidColor = 0xafffaf;
constexpr uint32_t kInvalidColor = 0xffafaf;

// The filter field's colour for text: white when it is empty (after trimming)
// or the checker gives no verdict; invalid when it holds a double quote
// (whatever the checker says); else valid or invalid as the checker answers.
// Asks the display-filter checker (DfilterDravik).
int FilterConfigFieldColor(const char* text);

// The field box's colour for a calculation (calcIndex as the form's) on
// field, with the reason when it is invalid (reason, size bytes; "" else):
// white with no calculation, or when the checker gives no verdict; invalid
// for an empty name, a name that is no field, or (but for count, which
// counts any field) a field of neither numbers nor time intervals; else
// valid. Asks the display-filter checker.
int FilterConfigCalcFieldColor(const char* field, int calcIndex, char* reason, size_t size);
