// SPDX-License-Identifier: GPL-2.0-or-later
// captureoptsdlg.h - what the Capture Options dialog does, as plain code over
// the record of its controls, in both forms:
//
//   lumo           interface, promiscuous mode, byte limit, capture filter
//                  with its history, rawshark path, four switches, sampling
//                  interval
//   lumo_offline   only the rawshark path, the four switches and the
//                  sampling interval
//
// The dialog edits a CaptureOptsSettings, the blocks of the settings it owns,
// and changes it only on an accepted OK; the window copies the blocks out of
// its settings before the dialog and back after an accepted OK. The Qt dialog
// (captureoptsdlg_qt.h) binds its controls to these calls. UI thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/captureblock.h"
#include "capture/interfaceinfo.h"
#include "pipeline/rawsharkblock.h"
#include "platform/platform.h"

// What the dialog edits: the capture block (lumo only), the rawshark block
// and the sampling interval, each as the settings hold it.
struct CaptureOptsSettings {
    CaptureBlock capture;
    RawsharkBlock rawshark;
    int64_t samplingInterval;  // microseconds
};

// The controls of the dialog.
struct CaptureOptsForm {
    int offline;                  // 1: the lumo_offline form (no capture controls)
    int interfaceIndex;           // interface combo selection, -1 none
    int promiscuous;              // "Capture packets in promiscuous mode"
    int limitEnabled;             // "Limit each packet to"; the limit field is enabled then
    char limitText[32];           // limit field (digits only)
    char captureFilter[256];      // capture filter combo text (at most 255 characters)
    char rawsharkPath[kPathMax];  // rawshark path field
    int macResolution;            // the four switches, in the order of the settings
    int networkResolution;
    int transportResolution;
    int concurrentDns;
    int onePass;             // "Judge all filters in one pass"
    int judges;              // "Judges", 0: automatic
    char samplingText[256];  // sampling interval field (digits only)
};

// Results of OK, in the order the checks run.
enum CaptureOptsResult {
    CaptureOptsAccepted = 1,
    CaptureOptsNoInterface = 2,   // "SendDlgItemMessage() error", no icon
    CaptureOptsZeroInterval = 3,  // "Sampling Interval cannot be 0.", warning
    CaptureOptsCannotOpen = 4,    // "pcap_open_live() error.", warning
    CaptureOptsBadFilter = 5,     // "Invalid capture filter.", warning
};

// The message of a refused OK (nullptr for CaptureOptsAccepted).
const char* CaptureOptsMessage(int result);

// The combo item of an interface: "description: name", or the name alone
// when it has no description.
void CaptureOptsInterfaceText(const InterfaceInfo* iface, char* out, size_t size);

// The address line: "IP address: a.b.c.d", or "IP address: unknown" for 0.
void CaptureOptsAddressLine(const InterfaceInfo* iface, char* out, size_t size);

// Index of the first interface named exactly (case-sensitive) like name, else
// 0; -1 when count <= 0.
int CaptureOptsFindInterface(const InterfaceInfo* list, int count, const char* name);

// Opening: the form shows settings (the interface in use preselected from the
// list of count interfaces).
void CaptureOptsOpen(const CaptureOptsSettings* settings, const InterfaceInfo* list, int count, int offline,
                     CaptureOptsForm* form);

// OK of the lumo form: runs the checks in order (selection, sampling interval,
// the capture filter against the chosen interface through CaptureTestFilter),
// stopping at the first failure with settings unchanged; then records a new
// capture filter in the history (historyPath may be null to skip) and copies
// everything into settings. Returns a CaptureOptsResult.
int CaptureOptsOk(const CaptureOptsForm* form, const InterfaceInfo* list, int count,
                  const std::vector<std::string>& history, const char* historyPath, CaptureOptsSettings* settings);

// OK of the lumo_offline form: only the sampling interval is checked.
int CaptureOptsOkOffline(const CaptureOptsForm* form, CaptureOptsSettings* settings);

// The capture filter field's colour (FieldColor of filtersetdlg.h): white
// when empty after trimming, else valid when the filter compiles for the
// interface in use (interfaceName, from the settings), invalid otherwise.
int CaptureOptsFieldColor(const char* interfaceName, const char* text);
