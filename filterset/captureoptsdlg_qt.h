// SPDX-License-Identifier: GPL-2.0-or-later
// captureoptsdlg_qt.h - the Capture Options dialog on Qt Widgets, in the
// lumo form (interface, promiscuous mode, byte limit, capture filter with its
// history and live check, rawshark path, switches, sampling interval) or the
// lumo_offline form (rawshark path, switches, sampling interval). The
// algorithms are captureoptsdlg.h's. Modal; UI thread.
//
// Object names for tests: captureOptionsDialog with interfaceCombo,
// addressLabel, promiscuousCheck, limitCheck, limitEdit, captureFilterCombo,
// rawsharkPathEdit, browseButton, macCheck, networkCheck, transportCheck,
// dnsCheck, samplingEdit, okButton, cancelButton (the offline form has only
// the last ten).
#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <vector>

#include "capture/interfaceinfo.h"
#include "filterset/captureoptsdlg.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTimer;

// Runs the dialog on the settings it edits, with the interface list of the
// window's creation (list may be null and count 0 for the offline form).
// caption is the caption of its boxes ("Lumo" / "Lumo_offline"), fileCaption
// that of the rawshark file dialog's error box ("lumo" / "lumo_offline").
// Returns 1 after an accepted OK (settings changed), 0 after Cancel or the
// close box (settings unchanged).
int RunCaptureOptionsDialog(QWidget* owner, CaptureOptsSettings* settings, const InterfaceInfo* list, int count,
                            int offline, const char* caption, const char* fileCaption);

class CaptureOptionsDialog : public QDialog {
    Q_OBJECT
public:
    CaptureOptionsDialog(QWidget* owner, CaptureOptsSettings* settings, const InterfaceInfo* list, int count,
                         int offline, const char* caption, const char* fileCaption);

    // The colour last given to the capture filter field (a FieldColor).
    int FilterFieldColor() const { return fieldColor_; }

private:
    void OnTick();
    void OnInterfaceChosen(int index);
    void OnBrowse();
    void OnOk();
    void ReadForm(CaptureOptsForm* form) const;

    CaptureOptsSettings* settings_;
    const InterfaceInfo* list_;
    int count_;
    int offline_;
    QByteArray caption_;
    QByteArray fileCaption_;
    std::vector<std::string> history_;
    QString lastCaptureFilterText_;
    int fieldColor_ = 0;
    QComboBox* interfaceCombo_ = nullptr;
    QLabel* addressLabel_ = nullptr;
    QCheckBox* promiscuousCheck_ = nullptr;
    QCheckBox* limitCheck_ = nullptr;
    QLineEdit* limitEdit_ = nullptr;
    QComboBox* captureFilterCombo_ = nullptr;
    QLineEdit* rawsharkPathEdit_;
    QCheckBox* onePassCheck_ = nullptr;
    QSpinBox* judgesSpin_ = nullptr;
    QCheckBox* switchChecks_[4];
    QLineEdit* samplingEdit_;
    QTimer* timer_ = nullptr;
};
