// SPDX-License-Identifier: GPL-2.0-or-later
// filtersetdlg_qt_test.cpp - the filter set dialogs and the file dialogs as
// a user drives them, on the offscreen platform: list rows, buttons, row
// activation, drops, OK and Cancel, the Filter column's width and the tips
// of cut cells; the filter field's live colour, the quote refusal and the
// typed text kept beside the history; titles, filters and remembered
// folders of the file dialogs.
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTableWidget>
#include <QTest>
#include <QToolTip>
#include <QUrl>
#include <cstdlib>
#include <cstring>

#include "filterset/dfilter.h"
#include "filterset/filtersetdlg_qt.h"
#include "platform/platform.h"
#include "qt_test_support.h"
#include "platform/filedialogs.h"
#include "platform/filedialogs_qt.h"
#include "../support/testdir.h"

namespace {

FilterSet ThreeFilters() {
    FilterSet set;
    ResetFilterEntries(set.entries, FilterSetMax);
    set.count = 3;
    strcpy(set.entries[0].filterText, "tcp");
    strcpy(set.entries[1].filterText, "udp");
    strcpy(set.entries[2].filterText, "icmp");
    set.entries[2].autoColor = 0;
    set.entries[2].color = 0x123456;
    return set;
}

QStringList Row(QTableWidget* list, int r) {
    QStringList texts;
    for (int c = 0; c < 4; ++c) texts << (list->item(r, c) ? list->item(r, c)->text() : QString());
    return texts;
}

// Fills the Filter Configuration dialog's filter text and presses OK.
ModalWatcher::Action EnterFilter(const QString& text) {
    return [text](QDialog* dialog) {
        auto* combo = dialog->findChild<QComboBox*>("filterCombo");
        ASSERT_NE(combo, nullptr);
        combo->setEditText(text);
        dialog->findChild<QPushButton*>("okButton")->click();
    };
}

// A drag that enters w and drops there, as the window system delivers it.
void DropOn(QWidget* w, QMimeData* mime) {
    const QPoint at(20, 20);
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &drop);
    ASSERT_TRUE(drop.isAccepted());
    ASSERT_TRUE(PumpPosted()) << "the drop was not handled";  // handled from the event loop
}

class DialogTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        setenv("LUMO_HOME", dir_.c_str(), 1);
        FileDialogForgetAll();
    }
    void TearDown() override {
        DfilterStopChildProcess();
        PlatformSetProgramFolder(nullptr);
        unsetenv("LUMO_HOME");
    }
    std::string dir_;
};

TEST_F(DialogTest, FilterSetDialogEditsTheWorkingCopyAndOkAppliesIt) {
    FilterSet applied = ThreeFilters();
    FilterSetConfigDialog dialog(nullptr, &applied, "Lumo");
    dialog.show();
    auto* list = dialog.findChild<QTableWidget*>("filterList");
    auto* edit = dialog.findChild<QPushButton*>("editButton");
    auto* del = dialog.findChild<QPushButton*>("deleteButton");
    ASSERT_TRUE(list && edit && del);
    EXPECT_EQ(dialog.windowTitle(), "Filter Set Configuration");
    ASSERT_EQ(list->rowCount(), 3);
    EXPECT_EQ(list->horizontalHeaderItem(3)->text(), "Color(RGB)");
    EXPECT_EQ(Row(list, 0), QStringList({"tcp", "auto", "bps", "auto(0x00ff00)"}));
    EXPECT_EQ(Row(list, 2), QStringList({"icmp", "auto", "bps", "0x123456"}));
    EXPECT_TRUE(dialog.findChild<QPushButton*>("newButton")->isEnabled());
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_FALSE(del->isEnabled());
    SaveScreenshot(&dialog, "filter_set_configuration");

    list->selectRow(0);
    EXPECT_TRUE(edit->isEnabled());
    del->click();  // the others move up and take their positions' colours
    ASSERT_EQ(list->rowCount(), 2);
    EXPECT_EQ(Row(list, 0), QStringList({"udp", "auto", "bps", "auto(0x00ff00)"}));
    EXPECT_EQ(Row(list, 1), QStringList({"icmp", "auto", "bps", "0x123456"}));

    ModalWatcher watcher;
    watcher.Then(EnterFilter("arp"));
    dialog.findChild<QPushButton*>("newButton")->click();
    ASSERT_EQ(list->rowCount(), 3);
    EXPECT_EQ(Row(list, 2), QStringList({"arp", "auto", "bps", "auto(0xffff00)"}));

    // a double-click on a row (press, release, double-click, release) opens
    // that row's filter once
    watcher.Then(EnterFilter("dns"));
    list->clearSelection();
    const QRect cell = list->visualItemRect(list->item(1, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_TRUE(PumpPosted()) << "the row activations the clicks posted did not run";
    ASSERT_EQ(watcher.shown.size(), 2u);
    EXPECT_EQ(watcher.shown[1].objectName, "filterConfigDialog");
    EXPECT_EQ(Row(list, 1)[0], "dns");

    EXPECT_STREQ(applied.entries[0].filterText, "tcp");  // nothing applied before OK
    dialog.findChild<QPushButton*>("okButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(applied.count, 3);
    EXPECT_STREQ(applied.entries[0].filterText, "udp");
    EXPECT_STREQ(applied.entries[1].filterText, "dns");
    EXPECT_STREQ(applied.entries[2].filterText, "arp");
}

// Fault: long filter texts were cut ("udp.port == 40000 && frame.le...")
// with no way to read them, and the columns kept their width when the
// dialog grew.
TEST_F(DialogTest, FilterColumnGrowsWithTheDialogAndCutCellsShowTheirText) {
    FilterSet applied = ThreeFilters();
    const QString longText = "udp.port == 40000 && frame.len > 1000 && ip.src == 10.1.2.3 && !icmp";
    strcpy(applied.entries[1].filterText, longText.toUtf8().constData());
    FilterSetConfigDialog dialog(nullptr, &applied, "Lumo");
    dialog.show();
    auto* list = dialog.findChild<QTableWidget*>("filterList");
    ASSERT_NE(list, nullptr);
    // The Filter column stretches to fill the list once the dialog is laid out.
    QHeaderView* header = list->horizontalHeader();
    ASSERT_TRUE(PumpUntil([&] { return header->length() == list->viewport()->width(); }, 2000))
        << header->length() << " " << list->viewport()->width();
    auto tipAt = [&](int row) {
        const QPoint at = list->visualItemRect(list->item(row, 0)).center();
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(tipAt(0).toStdString(), "");  // "tcp" fits: no tip
    EXPECT_EQ(tipAt(1).toStdString(), longText.toStdString());
    SaveScreenshot(&dialog, "filter_set_configuration_long_filter");

    const int filterWidth = list->columnWidth(0);
    EXPECT_GE(filterWidth, 220);
    const int narrow = list->viewport()->width();
    dialog.resize(dialog.width() + 500, dialog.height());
    ASSERT_TRUE(PumpUntil(
        [&] { return list->viewport()->width() > narrow && header->length() == list->viewport()->width(); }, 2000))
        << "the list did not take the dialog's new width: " << header->length() << " " << list->viewport()->width();
    EXPECT_EQ(list->columnWidth(0), filterWidth + 500);
    EXPECT_EQ(list->columnWidth(1), 80);  // the others keep their widths
    EXPECT_EQ(list->columnWidth(3), 120);
    QToolTip::hideText();
    ASSERT_TRUE(PumpUntil([] { return !QToolTip::isVisible(); }, 2000));
    EXPECT_EQ(tipAt(1).toStdString(), "");  // no longer cut
    SaveScreenshot(&dialog, "filter_set_configuration_wide");
}

TEST_F(DialogTest, CancelAfterEditsAndADropLeavesTheAppliedSet) {
    const std::string fs = dir_ + "/set.FS";
    ASSERT_TRUE(TestFileWrite(fs, "\"ip\",byte,1000,0x0000ff\r\n"));
    FilterSet applied = ThreeFilters();
    const FilterSet before = applied;
    FilterSetConfigDialog dialog(nullptr, &applied, "Lumo");
    dialog.show();
    auto* list = dialog.findChild<QTableWidget*>("filterList");

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(fs))});
    DropOn(&dialog, &mime);
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(Row(list, 0), QStringList({"ip", "1000", "byte", "0x0000ff"}));
    EXPECT_FALSE(dialog.findChild<QPushButton*>("editButton")->isEnabled());

    dialog.findChild<QPushButton*>("cancelButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(memcmp(&before, &applied, sizeof applied), 0);
}

TEST_F(DialogTest, FilterDialogColoursTheFieldAndRefusesAQuote) {
    ASSERT_TRUE(TestFileWrite(dir_ + "/displayfilter", "udp\nArp\n\ntcp.port == 80\n"));
    PlatformSetProgramFolder(LUMO_BIN_DIR);
    DfilterStartChildProcess(nullptr);
    ASSERT_NE(DfilterCheckerProcess(), 0);

    FilterSet set = ThreeFilters();
    FilterEntry edited = set.entries[1];
    FilterConfigDialog dialog(nullptr, &edited, "Lumo_offline");
    dialog.show();
    auto* combo = dialog.findChild<QComboBox*>("filterCombo");
    auto* scale = dialog.findChild<QLineEdit*>("scaleEdit");
    auto* autoScale = dialog.findChild<QCheckBox*>("autoScaleCheck");
    auto* unit = dialog.findChild<QComboBox*>("unitCombo");
    ASSERT_TRUE(combo && scale && autoScale && unit);
    EXPECT_EQ(dialog.windowTitle(), "Filter Configuration");
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), "Arp");  // sorted without regard to case
    EXPECT_EQ(combo->itemText(2), "udp");
    EXPECT_EQ(unit->count(), 4);
    EXPECT_EQ(unit->currentText(), "bps");
    EXPECT_FALSE(scale->isEnabled());
    EXPECT_EQ(scale->text(), "0");
    EXPECT_EQ(dialog.findChild<QLineEdit*>("colorEdit")->text(), "0xff0000");

    auto colour = [&] { return combo->lineEdit()->palette().color(QPalette::Base).rgb() & 0xffffff; };
    ASSERT_TRUE(PumpUntil([&] { return dialog.FilterFieldColor() == FieldValid; }, 2000));
    EXPECT_EQ(colour(), 0xafffafu);
    SaveScreenshot(&dialog, "filter_configuration_valid");
    combo->setEditText("udp.port ==");
    ASSERT_TRUE(PumpUntil([&] { return dialog.FilterFieldColor() == FieldInvalid; }, 2000));
    EXPECT_EQ(colour(), 0xffafafu);
    SaveScreenshot(&dialog, "filter_configuration_invalid");
    combo->setEditText("");
    ASSERT_TRUE(PumpUntil([&] { return dialog.FilterFieldColor() == FieldWhite; }, 2000));
    EXPECT_EQ(colour(), 0xffffffu);

    autoScale->click();
    EXPECT_TRUE(scale->isEnabled());

    ModalWatcher watcher;
    combo->setEditText("http.host == \"a\"");
    dialog.findChild<QPushButton*>("okButton")->click();
    ASSERT_EQ(watcher.shown.size(), 1u);
    EXPECT_EQ(watcher.shown[0].text, "Do not include [\"] in character string.");
    EXPECT_EQ(watcher.shown[0].title, "Lumo_offline");
    EXPECT_EQ(watcher.shown[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(dialog.isVisible());  // stays open
    EXPECT_STREQ(edited.filterText, "udp");

    combo->setEditText("dns");
    scale->setText("");
    unit->setCurrentIndex(2);
    dialog.findChild<QPushButton*>("okButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_STREQ(edited.filterText, "dns");
    EXPECT_EQ(edited.autoScale, 0);
    EXPECT_EQ(edited.scale, 0);
    EXPECT_EQ(edited.unit, UnitPacket);
    EXPECT_EQ(TestFileRead(dir_ + "/displayfilter"), "udp\nArp\n\ntcp.port == 80\ndns\n");
}

// Fault: the field completed inline from its history, so typing "tcp" with
// "tcp.bogus" in the history left "tcp.bogus" in the field and in the entry.
TEST_F(DialogTest, FilterFieldKeepsWhatWasTypedBesideItsHistory) {
    ASSERT_TRUE(TestFileWrite(dir_ + "/displayfilter", "udp\ntcp.bogus\nTCP.port == 80\n"));
    FilterEntry edited = ThreeFilters().entries[1];
    FilterConfigDialog dialog(nullptr, &edited, "Lumo");
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    auto* combo = dialog.findChild<QComboBox*>("filterCombo");
    ASSERT_NE(combo, nullptr);
    ASSERT_EQ(combo->count(), 3);  // the history list stays, sorted
    EXPECT_EQ(combo->itemText(0).toStdString(), "tcp.bogus");
    EXPECT_EQ(combo->itemText(1).toStdString(), "TCP.port == 80");

    combo->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "tcp");
    EXPECT_EQ(combo->currentText().toStdString(), "tcp");
    EXPECT_FALSE(combo->lineEdit()->hasSelectedText());
    dialog.findChild<QComboBox*>("unitCombo")->setFocus();  // leaving the field
    ASSERT_TRUE(PumpUntil([&] { return !combo->lineEdit()->hasFocus(); }, 2000)) << "the focus stayed in the field";
    ASSERT_TRUE(PumpPosted()) << "what leaving the field posted did not run";
    EXPECT_FALSE(combo->lineEdit()->hasFocus());
    EXPECT_EQ(combo->currentText().toStdString(), "tcp");
    // Return (which presses OK) keeps the text also when an item differs only in case.
    combo->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "tcP.PORT == 80");
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    EXPECT_STREQ(edited.filterText, "tcP.PORT == 80");
}

TEST_F(DialogTest, FileDialogsKeepTitlesFiltersAndRememberedFolders) {
    const std::string sets = dir_ + "/sets";
    ASSERT_EQ(mkdir(sets.c_str(), 0755), 0);
    ASSERT_TRUE(TestFileWrite(sets + "/web.fs", "\"tcp\"\r\n"));
    QString seenFolder;
    QStringList seenFilters;
    auto look = [&](ModalWatcher::Action then) {
        return [&, then](QDialog* dialog) {
            auto* files = qobject_cast<QFileDialog*>(dialog);
            seenFolder = files->directory().absolutePath();
            seenFilters = files->nameFilters();
            then(dialog);
        };
    };
    ModalWatcher watcher;
    char path[kPathMax] = "";
    watcher.Then(look(ModalWatcher::ChooseFile(QString::fromStdString(sets + "/web.fs"))));
    ASSERT_EQ(SelectFilterSetToLoad(nullptr, path, sizeof path), 1);
    EXPECT_EQ(std::string(path), sets + "/web.fs");
    EXPECT_EQ(watcher.shown.back().title, "Load Filter Set");
    EXPECT_EQ(seenFolder.toStdString(), dir_);
    EXPECT_EQ(seenFilters, QStringList({"Filter Set(*.fs)"}));

    // the save dialog starts where the last filter set came from
    path[0] = '\0';
    watcher.Then(look(ModalWatcher::ChooseFile(QString::fromStdString(sets + "/new.fs"))));
    ASSERT_EQ(SelectFilterSetToSave(nullptr, path, sizeof path), 1);
    EXPECT_EQ(std::string(path), sets + "/new.fs");
    EXPECT_EQ(watcher.shown.back().title, "Save Filter Set");
    EXPECT_EQ(seenFolder.toStdString(), sets);

    // the dump dialog keeps its own folder; a cancel returns 0
    path[0] = '\0';
    watcher.Then(look(ModalWatcher::Cancel));
    EXPECT_EQ(SelectDumpFile(nullptr, path, sizeof path), 0);
    EXPECT_EQ(watcher.shown.back().title, "Dump network traffic");
    EXPECT_EQ(seenFolder.toStdString(), dir_);
    EXPECT_EQ(seenFilters, QStringList({"Wireshark/tcpdump(*.pcap)"}));

    watcher.Then(look(ModalWatcher::Cancel));
    EXPECT_EQ(SelectCaptureFile(nullptr, path, sizeof path), 0);
    EXPECT_EQ(watcher.shown.back().title, "Open Capture File");
    ASSERT_EQ(seenFilters.size(), 8);
    EXPECT_TRUE(seenFilters[0].startsWith("All Capture Files(*.pcap *.pcap.gz *.pcapng *.pcapng.gz"))
        << seenFilters[0].toStdString();
    EXPECT_EQ(seenFilters[1], "Wireshark/tcpdump(*.pcap)");
    EXPECT_EQ(seenFilters.last(), "All Files(*)");
}

TEST_F(DialogTest, RawsharkDialogInsistsOnTheNameWithTheCallersCaption) {
    ASSERT_TRUE(TestFileWrite(dir_ + "/tshark", ""));
    ASSERT_TRUE(TestFileWrite(dir_ + "/RawShark", ""));
    ModalWatcher watcher;
    watcher.Then(ModalWatcher::ChooseFile(QString::fromStdString(dir_ + "/tshark")));
    watcher.Then(ModalWatcher::Ok);  // the error box
    watcher.Then(ModalWatcher::ChooseFile(QString::fromStdString(dir_ + "/RawShark")));
    char path[kPathMax] = "";
    ASSERT_EQ(SelectRawsharkExe(nullptr, path, sizeof path, "lumo"), 1);
    EXPECT_EQ(std::string(path), dir_ + "/RawShark");
    ASSERT_EQ(watcher.shown.size(), 3u);
    EXPECT_EQ(watcher.shown[0].title, "Select rawshark file");
    EXPECT_EQ(watcher.shown[1].text, "Select rawshark file");
    EXPECT_EQ(watcher.shown[1].title, "lumo");
    EXPECT_EQ(watcher.shown[1].icon, QMessageBox::Critical);

    watcher.Then(ModalWatcher::Cancel);
    path[0] = '\0';
    EXPECT_EQ(SelectRawsharkExe(nullptr, path, sizeof path, "lumo_offline"), 0);
}

}  // namespace

int main(int argc, char** argv) { return QtTestMain(argc, argv); }
