// SPDX-License-Identifier: GPL-2.0-or-later
// captureoptsdlg_test.cpp - the Capture Options dialog's algorithms without a
// window: opening, the interface texts, the OK checks in their order with
// the settings untouched on every refusal, the capture-filter history, the
// offline form, and the live colour through the real capture library.
#include "filterset/captureoptsdlg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "filterset/filterhistory.h"
#include "filterset/filtersetdlg.h"
#include "support/testdir.h"

namespace {

InterfaceInfo Iface(const char* name, const char* description, uint32_t address) {
    InterfaceInfo info;
    memset(&info, 0, sizeof info);
    strcpy(info.name, name);
    strcpy(info.description, description);
    info.address = address;
    info.netmask = address ? 0x000000ff : 0;
    info.linkType = 1;
    return info;
}

class CaptureOptsTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        history_ = dir_ + "/capturefilter";
        memset(&settings_, 0, sizeof settings_);
        settings_.samplingInterval = 50000;
        settings_.capture.promiscuousMode = 1;
        settings_.capture.limitBytes = 128;
        settings_.capture.timeout = 10;
        strcpy(settings_.capture.iface.name, "lo");
        strcpy(settings_.rawshark.rawsharkPath, "/usr/bin/rawshark");
        list_[0] = Iface("nosuchif0", "First card", 0x0101a8c0);  // 192.168.1.1
        list_[1] = Iface("lo", "", 0x0100007f);                   // 127.0.0.1
        list_[2] = Iface("LO", "upper case twin", 0);
    }
    static bool Root() { return geteuid() == 0; }

    std::string dir_;
    std::string history_;
    CaptureOptsSettings settings_;
    InterfaceInfo list_[3];
    std::vector<std::string> items_;
};

TEST_F(CaptureOptsTest, OpeningShowsSettingsWithTheInterfaceInUse) {
    settings_.capture.enableLimitBytes = 1;
    settings_.rawshark.networkResolution = 1;
    settings_.rawshark.concurrentDns = 1;
    strcpy(settings_.capture.captureFilter, "udp");
    CaptureOptsForm form;
    CaptureOptsOpen(&settings_, list_, 3, 0, &form);
    EXPECT_EQ(form.interfaceIndex, 1);  // exact, case-sensitive match
    EXPECT_EQ(form.promiscuous, 1);
    EXPECT_EQ(form.limitEnabled, 1);
    EXPECT_STREQ(form.limitText, "128");
    EXPECT_STREQ(form.captureFilter, "udp");
    EXPECT_STREQ(form.rawsharkPath, "/usr/bin/rawshark");
    EXPECT_EQ(form.macResolution, 0);
    EXPECT_EQ(form.networkResolution, 1);
    EXPECT_EQ(form.transportResolution, 0);
    EXPECT_EQ(form.concurrentDns, 1);
    EXPECT_STREQ(form.samplingText, "50000");

    strcpy(settings_.capture.iface.name, "gone0");
    CaptureOptsOpen(&settings_, list_, 3, 0, &form);
    EXPECT_EQ(form.interfaceIndex, 0);
    EXPECT_EQ(CaptureOptsFindInterface(list_, 0, "lo"), -1);

    char text[600];
    CaptureOptsInterfaceText(&list_[0], text, sizeof text);
    EXPECT_STREQ(text, "First card: nosuchif0");
    CaptureOptsInterfaceText(&list_[1], text, sizeof text);
    EXPECT_STREQ(text, "lo");
    CaptureOptsAddressLine(&list_[0], text, sizeof text);
    EXPECT_STREQ(text, "IP address: 192.168.1.1");
    CaptureOptsAddressLine(&list_[2], text, sizeof text);
    EXPECT_STREQ(text, "IP address: unknown");
}

TEST_F(CaptureOptsTest, ChecksRunInOrderAndLeaveSettingsUntouched) {
    const CaptureOptsSettings before = settings_;
    CaptureOptsForm form;
    CaptureOptsOpen(&settings_, list_, 3, 0, &form);
    strcpy(form.captureFilter, "udp port");  // does not compile
    form.samplingText[0] = '\0';             // empty interval
    form.interfaceIndex = -1;                // no selection

    EXPECT_EQ(CaptureOptsOk(&form, list_, 3, items_, history_.c_str(), &settings_), CaptureOptsNoInterface);
    form.interfaceIndex = 0;  // cannot be opened
    EXPECT_EQ(CaptureOptsOk(&form, list_, 3, items_, history_.c_str(), &settings_), CaptureOptsZeroInterval);
    strcpy(form.samplingText, "0");
    EXPECT_EQ(CaptureOptsOk(&form, list_, 3, items_, history_.c_str(), &settings_), CaptureOptsZeroInterval);
    strcpy(form.samplingText, "20000");
    EXPECT_EQ(CaptureOptsOk(&form, list_, 3, items_, history_.c_str(), &settings_), CaptureOptsCannotOpen);
    EXPECT_EQ(memcmp(&before, &settings_, sizeof settings_), 0);
    EXPECT_FALSE(TestPathExists(history_));

    EXPECT_STREQ(CaptureOptsMessage(CaptureOptsNoInterface), "SendDlgItemMessage() error");
    EXPECT_STREQ(CaptureOptsMessage(CaptureOptsZeroInterval), "Sampling Interval cannot be 0.");
    EXPECT_STREQ(CaptureOptsMessage(CaptureOptsCannotOpen), "pcap_open_live() error.");
    EXPECT_STREQ(CaptureOptsMessage(CaptureOptsBadFilter), "Invalid capture filter.");
    EXPECT_EQ(CaptureOptsMessage(CaptureOptsAccepted), nullptr);

    if (!Root()) GTEST_SKIP() << "opening \"lo\" needs root (cap_net_raw)";
    form.interfaceIndex = 1;
    EXPECT_EQ(CaptureOptsOk(&form, list_, 3, items_, history_.c_str(), &settings_), CaptureOptsBadFilter);
    EXPECT_EQ(memcmp(&before, &settings_, sizeof settings_), 0);
    EXPECT_FALSE(TestPathExists(history_));
}

TEST_F(CaptureOptsTest, AcceptedOkCopiesEverythingAndRecordsTheFilterOnce) {
    if (!Root()) GTEST_SKIP() << "opening \"lo\" needs root (cap_net_raw)";
    ASSERT_TRUE(TestFileWrite(history_, "tcp port 80\n"));
    ASSERT_EQ(FilterHistoryRead(history_.c_str(), &items_), 1);
    strcpy(settings_.capture.iface.name, "nosuchif0");
    CaptureOptsForm form;
    CaptureOptsOpen(&settings_, list_, 3, 0, &form);
    form.interfaceIndex = 1;
    form.promiscuous = 0;
    form.limitEnabled = 1;
    strcpy(form.limitText, "0");  // any unsigned number, 0 included
    strcpy(form.captureFilter, "  udp port 9\t");
    strcpy(form.rawsharkPath, "/nowhere/rawshark");  // not tested here
    form.macResolution = 1;
    form.transportResolution = 1;
    strcpy(form.samplingText, "100000");

    ASSERT_EQ(CaptureOptsOk(&form, list_, 3, items_, history_.c_str(), &settings_), CaptureOptsAccepted);
    EXPECT_STREQ(settings_.capture.iface.name, "lo");
    EXPECT_EQ(settings_.capture.iface.address, 0x0100007fu);
    EXPECT_EQ(settings_.capture.iface.linkType, 1);
    EXPECT_EQ(settings_.capture.promiscuousMode, 0);
    EXPECT_EQ(settings_.capture.enableLimitBytes, 1);
    EXPECT_EQ(settings_.capture.limitBytes, 0);
    EXPECT_EQ(settings_.capture.timeout, 10);  // copied unchanged
    EXPECT_STREQ(settings_.capture.captureFilter, "udp port 9");
    EXPECT_STREQ(settings_.rawshark.rawsharkPath, "/nowhere/rawshark");
    EXPECT_EQ(settings_.rawshark.macResolution, 1);
    EXPECT_EQ(settings_.rawshark.networkResolution, 0);
    EXPECT_EQ(settings_.rawshark.transportResolution, 1);
    EXPECT_EQ(settings_.samplingInterval, 100000);
    EXPECT_EQ(TestFileRead(history_), "tcp port 80\nudp port 9\n");

    // the beginning of an existing entry and an empty filter are not recorded
    ASSERT_EQ(FilterHistoryRead(history_.c_str(), &items_), 2);
    strcpy(form.captureFilter, "udp");  // begins "udp port 9"
    ASSERT_EQ(CaptureOptsOk(&form, list_, 3, items_, history_.c_str(), &settings_), CaptureOptsAccepted);
    form.captureFilter[0] = '\0';
    ASSERT_EQ(CaptureOptsOk(&form, list_, 3, items_, history_.c_str(), &settings_), CaptureOptsAccepted);
    EXPECT_STREQ(settings_.capture.captureFilter, "");
    EXPECT_EQ(TestFileRead(history_), "tcp port 80\nudp port 9\n");
}

TEST_F(CaptureOptsTest, OfflineFormChecksOnlyTheInterval) {
    CaptureOptsSettings before = settings_;
    CaptureOptsForm form;
    CaptureOptsOpen(&settings_, nullptr, 0, 1, &form);
    EXPECT_EQ(form.interfaceIndex, -1);
    EXPECT_STREQ(form.samplingText, "50000");
    strcpy(form.rawsharkPath, "/opt/rawshark");
    form.concurrentDns = 1;
    form.samplingText[0] = '\0';
    EXPECT_EQ(CaptureOptsOkOffline(&form, &settings_), CaptureOptsZeroInterval);
    EXPECT_EQ(memcmp(&before, &settings_, sizeof settings_), 0);

    strcpy(form.samplingText, "1000");
    ASSERT_EQ(CaptureOptsOkOffline(&form, &settings_), CaptureOptsAccepted);
    EXPECT_STREQ(settings_.rawshark.rawsharkPath, "/opt/rawshark");
    EXPECT_EQ(settings_.rawshark.concurrentDns, 1);
    EXPECT_EQ(settings_.samplingInterval, 1000);
    EXPECT_STREQ(settings_.capture.iface.name, "lo");  // capture fields untouched
}

TEST_F(CaptureOptsTest, FilterFieldColourAgainstTheInterfaceInUse) {
    EXPECT_EQ(CaptureOptsFieldColor("lo", ""), FieldWhite);
    EXPECT_EQ(CaptureOptsFieldColor("lo", " \t "), FieldWhite);
    EXPECT_EQ(CaptureOptsFieldColor("nosuchif0", "udp"), FieldInvalid);  // cannot be opened
    if (!Root()) GTEST_SKIP() << "opening \"lo\" needs root (cap_net_raw)";
    EXPECT_EQ(CaptureOptsFieldColor("lo", " udp port 9 "), FieldValid);
    EXPECT_EQ(CaptureOptsFieldColor("lo", "udp port"), FieldInvalid);
}

}  // namespace
