// SPDX-License-Identifier: GPL-2.0-or-later
// captureoptsdlg.cpp - the Capture Options dialog's algorithms over its form.
#include "filterset/captureoptsdlg.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/capture.h"
#include "filterset/filterhistory.h"
#include "filterset/filtersetdlg.h"
#include "platform/text.h"

const char* CaptureOptsMessage(int result) {
    switch (result) {
        case CaptureOptsNoInterface: return "SendDlgItemMessage() error";
        case CaptureOptsZeroInterval: return "Sampling Interval cannot be 0.";
        case CaptureOptsCannotOpen: return "pcap_open_live() error.";
        case CaptureOptsBadFilter: return "Invalid capture filter.";
        default: return nullptr;
    }
}

void CaptureOptsInterfaceText(const InterfaceInfo* iface, char* out, size_t size) {
    if (iface->description[0]) {
        snprintf(out, size, "%s: %s", iface->description, iface->name);
    } else {
        TextCopy(out, size, iface->name);
    }
}

void CaptureOptsAddressLine(const InterfaceInfo* iface, char* out, size_t size) {
    uint32_t a = iface->address;
    if (a == 0) {
        TextCopy(out, size, "IP address: unknown");
        return;
    }
    // First octet in the lowest byte: memory order is the dotted order.
    snprintf(out, size, "IP address: %u.%u.%u.%u", a & 0xff, (a >> 8) & 0xff, (a >> 16) & 0xff, (a >> 24) & 0xff);
}

int CaptureOptsFindInterface(const InterfaceInfo* list, int count, const char* name) {
    if (count <= 0) return -1;
    for (int i = 0; i < count; ++i) {
        if (strcmp(list[i].name, name) == 0) return i;
    }
    return 0;
}

void CaptureOptsOpen(const CaptureOptsSettings* settings, const InterfaceInfo* list, int count, int offline,
                     CaptureOptsForm* form) {
    memset(form, 0, sizeof *form);
    form->offline = offline;
    form->interfaceIndex = -1;
    if (!offline) {
        form->interfaceIndex = CaptureOptsFindInterface(list, count, settings->capture.iface.name);
        form->promiscuous = settings->capture.promiscuousMode ? 1 : 0;
        form->limitEnabled = settings->capture.enableLimitBytes ? 1 : 0;
        snprintf(form->limitText, sizeof form->limitText, "%u", static_cast<uint32_t>(settings->capture.limitBytes));
        TextCopy(form->captureFilter, sizeof form->captureFilter, settings->capture.captureFilter);
    }
    TextCopy(form->rawsharkPath, sizeof form->rawsharkPath, settings->rawshark.rawsharkPath);
    form->macResolution = settings->rawshark.macResolution ? 1 : 0;
    form->networkResolution = settings->rawshark.networkResolution ? 1 : 0;
    form->transportResolution = settings->rawshark.transportResolution ? 1 : 0;
    form->concurrentDns = settings->rawshark.concurrentDns ? 1 : 0;
    form->onePass = settings->rawshark.onePass ? 1 : 0;
    form->judges = settings->rawshark.judges < 0 ? 0 : settings->rawshark.judges;
    snprintf(form->samplingText, sizeof form->samplingText, "%" PRId64, settings->samplingInterval);
}

static void ReadRawsharkBlock(const CaptureOptsForm* form, RawsharkBlock* block) {
    TextCopy(block->rawsharkPath, sizeof block->rawsharkPath, form->rawsharkPath);
    block->macResolution = form->macResolution ? 1 : 0;
    block->networkResolution = form->networkResolution ? 1 : 0;
    block->transportResolution = form->transportResolution ? 1 : 0;
    block->concurrentDns = form->concurrentDns ? 1 : 0;
    block->onePass = form->onePass ? 1 : 0;
    block->judges = form->judges;
}

int CaptureOptsOk(const CaptureOptsForm* form, const InterfaceInfo* list, int count,
                  const std::vector<std::string>& history, const char* historyPath, CaptureOptsSettings* settings) {
    CaptureBlock capture = settings->capture;  // keeps "timeout" as it was
    RawsharkBlock rawshark = settings->rawshark;

    if (form->interfaceIndex < 0 || form->interfaceIndex >= count) return CaptureOptsNoInterface;
    capture.iface = list[form->interfaceIndex];
    capture.promiscuousMode = form->promiscuous ? 1 : 0;
    capture.enableLimitBytes = form->limitEnabled ? 1 : 0;
    capture.limitBytes = static_cast<int32_t>(strtoul(form->limitText, nullptr, 10));
    TextCopy(capture.captureFilter, sizeof capture.captureFilter, form->captureFilter);
    TrimBlanks(capture.captureFilter);
    ReadRawsharkBlock(form, &rawshark);

    int64_t interval = strtoll(form->samplingText, nullptr, 10);
    if (interval == 0) return CaptureOptsZeroInterval;

    // Tested against the interface chosen here, also when the text is empty.
    int test = CaptureTestFilter(capture.iface.name, capture.captureFilter);
    if (test == -1) return CaptureOptsCannotOpen;
    if (test == 0) return CaptureOptsBadFilter;

    if (historyPath) FilterHistoryRecord(historyPath, history, capture.captureFilter);

    settings->capture = capture;
    settings->rawshark = rawshark;
    settings->samplingInterval = interval;
    return CaptureOptsAccepted;
}

int CaptureOptsOkOffline(const CaptureOptsForm* form, CaptureOptsSettings* settings) {
    RawsharkBlock rawshark = settings->rawshark;
    ReadRawsharkBlock(form, &rawshark);
    int64_t interval = strtoll(form->samplingText, nullptr, 10);
    if (interval == 0) return CaptureOptsZeroInterval;
    settings->rawshark = rawshark;
    settings->samplingInterval = interval;
    return CaptureOptsAccepted;
}

int CaptureOptsFieldColor(const char* interfaceName, const char* text) {
    char trimmed[256];
    TextCopy(trimmed, sizeof trimmed, text);
    TrimBlanks(trimmed);
    if (!trimmed[0]) return FieldWhite;
    return CaptureTestFilter(interfaceName, trimmed) == 1 ? FieldValid : FieldInvalid;
}
