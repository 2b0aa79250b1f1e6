// SPDX-License-Identifier: GPL-2.0-or-later
// filtersetdlg_qt.h - the Filter Set Configuration dialog (list of the
// filters with New, Edit, Delete, drop of a ".fs" file) and the Filter
// Configuration dialog (one filter: text with history and live check, scale,
// unit, colour). The algorithms are filtersetdlg.h's; these classes only bind
// controls to them. Both are modal; caption is the caption of their message
// boxes ("Lumo" or "Lumo_offline"). UI thread.
//
// Object names for tests: filterSetConfigDialog with filterList, newButton,
// editButton, deleteButton, okButton, cancelButton; filterConfigDialog with
// filterCombo, scaleEdit, autoScaleCheck, unitCombo, colorEdit,
// autoColorCheck, okButton, cancelButton.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QRegularExpressionValidator>
#include <QString>
#include <string>
#include <vector>

#include "filterset/filterset.h"
#include "filterset/filtersetdlg.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

// Runs the Filter Set Configuration dialog on a working copy of applied.
// Returns 1 after OK (applied replaced by the working copy), 0 after Cancel
// or the close box (applied unchanged).
int RunFilterSetConfigDialog(QWidget* owner, FilterSet* applied, const char* caption);

// Runs the Filter Configuration dialog on edited. Returns 1 after an
// accepted OK (edited updated), 0 after Cancel or the close box.
int RunFilterConfigDialog(QWidget* owner, FilterEntry* edited, const char* caption);

// The background a field gets for a FieldColor.
QColor FieldBackground(int fieldColor);

// Paints an edit field's (or an editable combo box's) background.
void SetFieldColor(QWidget* field, int fieldColor);

// A static text with an object name, as every control has one.
QLabel* NamedLabel(const char* text, const char* name, QWidget* parent);

// A validator that lets an edit field take digits only.
QRegularExpressionValidator* DigitsOnly(QObject* parent);

// An editable filter field whose list drops down with the history items
// (added by the caller). It never completes or replaces what is typed: the
// text is only what the user typed or picked from the list. Up to 255
// characters; Return adds nothing to the list.
QComboBox* NewHistoryCombo(const char* name, QWidget* parent);

class FilterConfigDialog : public QDialog {
    Q_OBJECT
public:
    FilterConfigDialog(QWidget* owner, FilterEntry* edited, const char* caption);

    // The colour last given to the filter field (a FieldColor).
    int FilterFieldColor() const { return fieldColor_; }

private:
    void OnTick();
    void OnOk();
    void ReadForm(FilterConfigForm* form) const;

    FilterEntry* edited_;
    QString caption_;
    std::vector<std::string> history_;
    QString lastFilterText_;  // the text seen at the last tick
    int fieldColor_ = FieldWhite;
    QComboBox* filterCombo_;
    QLineEdit* scaleEdit_;
    QCheckBox* autoScaleCheck_;
    QComboBox* unitCombo_;
    QLineEdit* colorEdit_;
    QCheckBox* autoColorCheck_;
    QComboBox* calcCombo_;
    QLineEdit* calcFieldEdit_;
    QComboBox* styleCombo_;
    QString lastCalcField_;
    int lastCalcIndex_ = -1;
    QTimer* timer_;
};

class FilterSetConfigDialog : public QDialog {
    Q_OBJECT
public:
    FilterSetConfigDialog(QWidget* owner, FilterSet* applied, const char* caption);

    // The working copy (what OK would apply).
    const FilterSet& Working() const { return working_; }

    // Runs the Filter Configuration dialog on row i, as a double-click or a
    // second click on the selected row does.
    void ActivateRow(int i);

    // What a drop of the file at path does (a ".fs" file replaces the list).
    void DropFile(const QString& path);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnNew();
    void OnEdit();
    void OnDelete();
    void OnOk();
    void SetRow(int index, const FilterEntry* entry, int insert);
    void RebuildRows();
    void UpdateButtons();
    int SelectedRow() const;

    FilterSet* applied_;
    FilterSet working_;
    FilterEntry editedEntry_;
    QByteArray captionBytes_;
    QTableWidget* list_;
    QPushButton* newButton_;
    QPushButton* editButton_;
    QPushButton* deleteButton_;
    int pressRow_ = -1;            // row under the last press
    int pressRowWasSelected_ = 0;  // it was the selected row already
};
