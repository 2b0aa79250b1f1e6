// SPDX-License-Identifier: GPL-2.0-or-later
// captureoptsdlg_qt_test.cpp - the Capture Options dialog as a user drives it
// on the offscreen platform: both forms, the address line, the OK checks in
// order with their boxes, Cancel, the "..." button and the live colour of
// the capture filter against the interface in use.
#include <QCheckBox>
#include <QSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "../support/testdir.h"
#include "filterset/captureoptsdlg_qt.h"
#include "filterset/filtersetdlg.h"
#include "qt_test_support.h"

namespace {

InterfaceInfo Iface(const char* name, const char* description, uint32_t address) {
    InterfaceInfo info;
    memset(&info, 0, sizeof info);
    strcpy(info.name, name);
    strcpy(info.description, description);
    info.address = address;
    info.linkType = 1;
    return info;
}

class CaptureOptionsDialogTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        setenv("LUMO_HOME", dir_.c_str(), 1);
        memset(&settings_, 0, sizeof settings_);
        settings_.samplingInterval = 50000;
        settings_.capture.promiscuousMode = 1;
        settings_.capture.limitBytes = 128;
        settings_.capture.timeout = 10;
        strcpy(settings_.capture.iface.name, "lo");
        strcpy(settings_.capture.captureFilter, "udp");
        strcpy(settings_.rawshark.rawsharkPath, "/usr/bin/rawshark");
        list_[0] = Iface("nosuchif0", "First card", 0x0101a8c0);
        list_[1] = Iface("lo", "", 0x0100007f);
    }
    void TearDown() override { unsetenv("LUMO_HOME"); }

    template <typename T>
    T* Find(QDialog& dialog, const char* name) {
        T* w = dialog.findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    std::string dir_;
    CaptureOptsSettings settings_;
    InterfaceInfo list_[2];
};

TEST_F(CaptureOptionsDialogTest, ChecksRunInOrderWithTheirBoxesAndSettingsStayUntilOk) {
    const CaptureOptsSettings before = settings_;
    CaptureOptionsDialog dialog(nullptr, &settings_, list_, 2, 0, "Lumo", "lumo");
    dialog.show();
    auto* iface = Find<QComboBox>(dialog, "interfaceCombo");
    auto* address = Find<QLabel>(dialog, "addressLabel");
    auto* sampling = Find<QLineEdit>(dialog, "samplingEdit");
    auto* filter = Find<QComboBox>(dialog, "captureFilterCombo");
    auto* ok = Find<QPushButton>(dialog, "okButton");
    ASSERT_TRUE(iface && address && sampling && filter && ok);
    EXPECT_EQ(dialog.windowTitle(), "Capture Options");
    EXPECT_EQ(iface->itemText(0), "First card: nosuchif0");
    EXPECT_EQ(iface->itemText(1), "lo");
    EXPECT_EQ(iface->currentIndex(), 1);
    EXPECT_EQ(address->text(), "IP address: 127.0.0.1");
    EXPECT_EQ(Find<QCheckBox>(dialog, "promiscuousCheck")->text(), "Capture packets in promiscuous mode");
    EXPECT_TRUE(Find<QCheckBox>(dialog, "promiscuousCheck")->isChecked());
    EXPECT_FALSE(Find<QLineEdit>(dialog, "limitEdit")->isEnabled());
    EXPECT_EQ(Find<QLineEdit>(dialog, "limitEdit")->text(), "128");
    EXPECT_EQ(filter->currentText(), "udp");
    EXPECT_EQ(sampling->text(), "50000");
    SaveScreenshot(&dialog, "capture_options");

    Find<QCheckBox>(dialog, "limitCheck")->click();
    EXPECT_TRUE(Find<QLineEdit>(dialog, "limitEdit")->isEnabled());
    iface->setCurrentIndex(0);
    EXPECT_EQ(address->text(), "IP address: 192.168.1.1");

    ModalWatcher watcher;
    iface->setCurrentIndex(-1);  // no selection comes first, even with an empty interval
    sampling->setText("");
    ok->click();
    sampling->setText("20000");
    iface->setCurrentIndex(0);
    filter->setEditText("udp port");
    ok->click();  // nosuchif0 cannot be opened
    ASSERT_EQ(watcher.shown.size(), 2u);
    EXPECT_EQ(watcher.shown[0].text, "SendDlgItemMessage() error");
    EXPECT_EQ(watcher.shown[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(watcher.shown[0].title, "Lumo");
    EXPECT_EQ(watcher.shown[1].text, "pcap_open_live() error.");
    EXPECT_EQ(watcher.shown[1].icon, QMessageBox::Warning);
    sampling->setText("0");
    ok->click();
    ASSERT_EQ(watcher.shown.size(), 3u);
    EXPECT_EQ(watcher.shown[2].text, "Sampling Interval cannot be 0.");
    EXPECT_EQ(watcher.shown[2].icon, QMessageBox::Warning);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(sampling->text(), "0");  // entries stay as typed
    EXPECT_EQ(memcmp(&before, &settings_, sizeof settings_), 0);

    if (geteuid() != 0) GTEST_SKIP() << "opening \"lo\" needs root (cap_net_raw)";
    sampling->setText("20000");
    iface->setCurrentIndex(1);
    ok->click();
    ASSERT_EQ(watcher.shown.size(), 4u);
    EXPECT_EQ(watcher.shown[3].text, "Invalid capture filter.");
    EXPECT_EQ(memcmp(&before, &settings_, sizeof settings_), 0);

    filter->setEditText(" udp port 53 ");
    ok->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_STREQ(settings_.capture.captureFilter, "udp port 53");
    EXPECT_EQ(settings_.capture.enableLimitBytes, 1);
    EXPECT_EQ(settings_.samplingInterval, 20000);
    EXPECT_EQ(TestFileRead(dir_ + "/capturefilter"), "udp port 53\n");
}

TEST_F(CaptureOptionsDialogTest, CancelAfterChangingEveryControlLeavesSettings) {
    ASSERT_TRUE(TestFileWrite(dir_ + "/capturefilter", "tcp\n"));
    const CaptureOptsSettings before = settings_;
    CaptureOptionsDialog dialog(nullptr, &settings_, list_, 2, 0, "Lumo", "lumo");
    dialog.show();
    Find<QComboBox>(dialog, "interfaceCombo")->setCurrentIndex(0);
    Find<QCheckBox>(dialog, "promiscuousCheck")->click();
    Find<QCheckBox>(dialog, "limitCheck")->click();
    Find<QLineEdit>(dialog, "limitEdit")->setText("64");
    auto* filter = Find<QComboBox>(dialog, "captureFilterCombo");
    QApplication::setActiveWindow(&dialog);
    filter->setFocus();
    filter->setEditText("");
    QTest::keyClicks(filter->lineEdit(), "tc");  // fault: completed to "tcp" from the history
    EXPECT_EQ(filter->currentText().toStdString(), "tc");
    filter->setEditText("icmp");
    Find<QLineEdit>(dialog, "rawsharkPathEdit")->setText("/x/rawshark");
    for (const char* name : {"macCheck", "networkCheck", "transportCheck", "dnsCheck"}) {
        Find<QCheckBox>(dialog, name)->click();
    }
    Find<QLineEdit>(dialog, "samplingEdit")->setText("7");
    // The dialog's ticks see the changed controls (and must change nothing).
    QSignalSpy ticks(dialog.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly), &QTimer::timeout);
    ASSERT_TRUE(PumpUntil([&] { return ticks.count() >= 2; }, 5000)) << "the dialog's timer did not tick";
    Find<QPushButton>(dialog, "cancelButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(memcmp(&before, &settings_, sizeof settings_), 0);
    EXPECT_EQ(TestFileRead(dir_ + "/capturefilter"), "tcp\n");
}

TEST_F(CaptureOptionsDialogTest, FilterIsColouredAgainstTheInterfaceInUse) {
    CaptureOptionsDialog dialog(nullptr, &settings_, list_, 2, 0, "Lumo", "lumo");
    dialog.show();
    auto* filter = Find<QComboBox>(dialog, "captureFilterCombo");
    filter->setEditText("");
    ASSERT_TRUE(PumpUntil([&] { return dialog.FilterFieldColor() == FieldWhite; }, 1000));
    if (geteuid() != 0) GTEST_SKIP() << "opening \"lo\" needs root (cap_net_raw)";
    // choosing another interface does not change what the colour is tested on
    Find<QComboBox>(dialog, "interfaceCombo")->setCurrentIndex(0);
    filter->setEditText("udp port 9");
    ASSERT_TRUE(PumpUntil([&] { return dialog.FilterFieldColor() == FieldValid; }, 2000));
    EXPECT_EQ(filter->lineEdit()->palette().color(QPalette::Base).rgb() & 0xffffff, 0xafffafu);
    filter->setEditText("udp port");
    ASSERT_TRUE(PumpUntil([&] { return dialog.FilterFieldColor() == FieldInvalid; }, 2000));
    SaveScreenshot(&dialog, "capture_options_invalid_filter");
}

TEST_F(CaptureOptionsDialogTest, OfflineFormHasOnlyRawsharkAndIntervalAndBrowseFillsThePath) {
    ASSERT_TRUE(TestFileWrite(dir_ + "/rawshark", ""));
    CaptureOptionsDialog dialog(nullptr, &settings_, nullptr, 0, 1, "Lumo_offline", "lumo_offline");
    dialog.show();
    SaveScreenshot(&dialog, "capture_options_offline");
    for (const char* absent :
         {"interfaceCombo", "addressLabel", "promiscuousCheck", "limitCheck", "limitEdit", "captureFilterCombo"}) {
        EXPECT_EQ(dialog.findChild<QWidget*>(absent), nullptr) << absent;
    }
    EXPECT_EQ(Find<QLineEdit>(dialog, "rawsharkPathEdit")->text(), "/usr/bin/rawshark");

    ModalWatcher watcher;
    watcher.Then(ModalWatcher::ChooseFile(QString::fromStdString(dir_ + "/rawshark")));
    Find<QPushButton>(dialog, "browseButton")->click();
    EXPECT_EQ(Find<QLineEdit>(dialog, "rawsharkPathEdit")->text().toStdString(), dir_ + "/rawshark");
    EXPECT_STREQ(settings_.rawshark.rawsharkPath, "/usr/bin/rawshark");  // only OK takes it

    Find<QLineEdit>(dialog, "samplingEdit")->setText("");
    Find<QPushButton>(dialog, "okButton")->click();
    ASSERT_EQ(watcher.shown.size(), 2u);
    EXPECT_EQ(watcher.shown[1].text, "Sampling Interval cannot be 0.");
    EXPECT_EQ(watcher.shown[1].title, "Lumo_offline");
    Find<QLineEdit>(dialog, "samplingEdit")->setText("1000");
    Find<QCheckBox>(dialog, "dnsCheck")->click();
    // The judging mode sits with the rawshark switches in both forms.
    auto* onePass = Find<QCheckBox>(dialog, "onePassCheck");
    EXPECT_EQ(onePass->text(), "Judge all filters in one pass");
    const int onePassBefore = settings_.rawshark.onePass;
    EXPECT_EQ(onePass->isChecked(), onePassBefore != 0);
    // beside it the judges, for one pass only; "automatic" stands for 0
    auto* judges = Find<QSpinBox>(dialog, "judgesSpin");
    EXPECT_EQ(judges->text(), "automatic");
    EXPECT_EQ(judges->isEnabled(), onePassBefore != 0);
    onePass->click();
    EXPECT_EQ(judges->isEnabled(), onePassBefore == 0);
    judges->setValue(3);
    Find<QPushButton>(dialog, "okButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings_.rawshark.onePass, onePassBefore ? 0 : 1);
    EXPECT_EQ(settings_.rawshark.judges, 3);
    EXPECT_EQ(std::string(settings_.rawshark.rawsharkPath), dir_ + "/rawshark");
    EXPECT_EQ(settings_.rawshark.concurrentDns, 1);
    EXPECT_EQ(settings_.samplingInterval, 1000);
}

}  // namespace

int main(int argc, char** argv) { return QtTestMain(argc, argv); }
