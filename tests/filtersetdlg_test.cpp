// SPDX-License-Identifier: GPL-2.0-or-later
// filtersetdlg_test.cpp - the filter set dialogs' algorithms without a
// window: the working copy under New, Edit, Delete, drop, OK and Cancel; the
// Filter Configuration form's OK rules; the history files; the live colour
// of the filter field through the real checker.
#include "filterset/filtersetdlg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filterset/dfilter.h"
#include "filterset/filterhistory.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "support/testdir.h"

namespace {

FilterSet MakeSet(const std::vector<std::string>& texts) {
    FilterSet set;
    ResetFilterEntries(set.entries, FilterSetMax);
    set.count = 0;
    for (const std::string& t : texts) {
        strcpy(set.entries[set.count].filterText, t.c_str());
        set.count++;
    }
    return set;
}

std::string RowColor(const FilterEntry& e) {
    FilterListRow row;
    FilterListRowTexts(&e, &row);
    return row.color;
}

class FilterSetDlgTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        setenv("LUMO_HOME", dir_.c_str(), 1);
        history_ = dir_ + "/displayfilter";
    }
    void TearDown() override {
        DfilterStopChildProcess();
        PlatformSetProgramFolder(nullptr);
        unsetenv("LUMO_HOME");
    }
    std::string dir_;
    std::string history_;
};

TEST_F(FilterSetDlgTest, NewAfterDeletingSecondOfThreeOffersDefaultAndTakesPositionColour) {
    FilterSet applied = MakeSet({"tcp", "udp", "icmp"});
    applied.entries[1].unit = UnitPacket;
    applied.entries[1].autoScale = 0;
    applied.entries[1].scale = 500;
    FilterSet working;
    FilterSetDlgOpen(&working, &applied);
    ASSERT_TRUE(FilterSetDlgDelete(&working, 1));
    EXPECT_EQ(working.count, 2);

    FilterEntry edited;
    ASSERT_TRUE(FilterSetDlgNewBegin(&working, &edited));
    EXPECT_STREQ(edited.filterText, "");
    EXPECT_TRUE(edited.autoScale);
    EXPECT_TRUE(edited.autoColor);
    EXPECT_EQ(edited.unit, UnitBps);

    strcpy(edited.filterText, "arp");
    EXPECT_EQ(FilterSetDlgNewCommit(&working, &edited), 2);
    EXPECT_EQ(working.count, 3);
    EXPECT_EQ(working.entries[2].color, 0xffff00u);
    EXPECT_EQ(RowColor(working.entries[2]), "auto(0xffff00)");
}

TEST_F(FilterSetDlgTest, DeletingFirstRecoloursAutomaticColoursAndKeepsFixedOnes) {
    FilterSet applied = MakeSet({"a", "b", "c", "d"});
    for (int i = 0; i < 4; ++i) applied.entries[i].color = DefaultFilterColors[i];
    applied.entries[3].autoColor = 0;
    applied.entries[3].color = 0x123456;
    applied.entries[2].scale = 77;  // a stale scale behind "auto"
    FilterSet working;
    FilterSetDlgOpen(&working, &applied);
    ASSERT_TRUE(FilterSetDlgDelete(&working, 0));

    ASSERT_EQ(working.count, 3);
    EXPECT_STREQ(working.entries[0].filterText, "b");
    EXPECT_EQ(working.entries[0].color, 0x00ff00u);  // former second: green
    EXPECT_STREQ(working.entries[1].filterText, "c");
    EXPECT_EQ(working.entries[1].color, 0xff0000u);  // former third: red
    EXPECT_EQ(working.entries[1].scale, 0);
    EXPECT_STREQ(working.entries[2].filterText, "d");
    EXPECT_EQ(working.entries[2].color, 0x123456u);  // fixed colour moves with it
    // the freed positions hold the defaults of their own positions
    for (int j = 3; j < FilterSetMax; ++j) {
        EXPECT_STREQ(working.entries[j].filterText, "");
        EXPECT_EQ(working.entries[j].color, DefaultFilterColors[j]) << j;
    }
    EXPECT_FALSE(FilterSetDlgDelete(&working, 3));  // not a row
    EXPECT_FALSE(FilterSetDlgDelete(&working, -1));
    // the applied set has not moved
    EXPECT_EQ(applied.count, 4);
    EXPECT_STREQ(applied.entries[0].filterText, "a");
}

TEST_F(FilterSetDlgTest, SixteenFiltersRefuseNewAndKeepTheSet) {
    std::vector<std::string> texts;
    for (int i = 0; i < 16; ++i) texts.push_back("frame.len > " + std::to_string(i));
    FilterSet applied = MakeSet(texts);
    FilterSet working;
    FilterSetDlgOpen(&working, &applied);
    EXPECT_FALSE(FilterSetDlgNewEnabled(&working));
    FilterEntry edited;
    memset(&edited, 0x5a, sizeof edited);
    EXPECT_FALSE(FilterSetDlgNewBegin(&working, &edited));
    EXPECT_EQ(FilterSetDlgNewCommit(&working, &working.entries[0]), -1);
    EXPECT_EQ(working.count, 16);

    ASSERT_TRUE(FilterSetDlgDelete(&working, 15));
    EXPECT_TRUE(FilterSetDlgNewEnabled(&working));
}

TEST_F(FilterSetDlgTest, EditCommitsOnlyWhenAskedAndOkAloneReplacesApplied) {
    FilterSet applied = MakeSet({"tcp", "udp"});
    FilterSet working;
    FilterSetDlgOpen(&working, &applied);

    FilterEntry edited;
    ASSERT_TRUE(FilterSetDlgEditBegin(&working, 1, &edited));
    strcpy(edited.filterText, "dns");
    edited.autoColor = 0;
    edited.color = 0x0000ff;
    // the Filter Configuration dialog was cancelled: nothing is committed
    EXPECT_STREQ(working.entries[1].filterText, "udp");
    EXPECT_FALSE(FilterSetDlgEditBegin(&working, 2, &edited));

    // an edit that switches Auto color on gets the position's colour back
    ASSERT_TRUE(FilterSetDlgEditCommit(&working, 1, &edited));
    EXPECT_EQ(working.entries[1].color, 0x0000ffu);
    edited.autoColor = 1;
    ASSERT_TRUE(FilterSetDlgEditCommit(&working, 1, &edited));
    EXPECT_EQ(working.entries[1].color, DefaultFilterColors[1]);

    // Cancel of the set dialog: the working copy is abandoned
    EXPECT_STREQ(applied.entries[1].filterText, "udp");
    FilterSetDlgOk(&working, &applied);
    EXPECT_STREQ(applied.entries[1].filterText, "dns");
    EXPECT_EQ(applied.count, 2);
}

TEST_F(FilterSetDlgTest, DropTakesFsFilesInAnyCaseOnly) {
    const std::string fs = dir_ + "/set.FS";
    ASSERT_TRUE(TestFileWrite(fs, "\"tcp\",bps,0,0x00ff00\r\n\"udp\",pps,0,0xff0000\r\n"));
    ASSERT_TRUE(TestFileWrite(dir_ + "/x.pcap", "junk"));
    FilterSet applied = MakeSet({"a", "b", "c"});
    FilterSet working;
    FilterSetDlgOpen(&working, &applied);

    EXPECT_FALSE(FilterSetDlgDrop(&working, (dir_ + "/x.pcap").c_str()));
    EXPECT_FALSE(FilterSetDlgDrop(&working, (dir_ + "/noextension").c_str()));
    EXPECT_EQ(working.count, 3);

    ASSERT_TRUE(FilterSetDlgDrop(&working, fs.c_str()));
    ASSERT_EQ(working.count, 2);
    EXPECT_STREQ(working.entries[1].filterText, "udp");
    EXPECT_EQ(applied.count, 3);  // only the working copy changed

    ASSERT_TRUE(FilterSetDlgDrop(&working, (dir_ + "/missing.fs").c_str()));
    EXPECT_EQ(working.count, 0);
    EXPECT_STREQ(working.entries[0].filterText, "");
}

TEST_F(FilterSetDlgTest, ListRowTextsShowAutoAndFixedValues) {
    FilterSet set = MakeSet({"ip.src == 10.0.0.1"});
    FilterListRow row;
    FilterListRowTexts(&set.entries[0], &row);
    EXPECT_STREQ(row.filter, "ip.src == 10.0.0.1");
    EXPECT_STREQ(row.scale, "auto");
    EXPECT_STREQ(row.unit, "bps");
    EXPECT_STREQ(row.color, "auto(0x00ff00)");

    set.entries[0].autoScale = 0;
    set.entries[0].scale = -25;
    set.entries[0].autoColor = 0;
    set.entries[0].color = 0x0a0b0c;
    set.entries[0].unit = UnitPps;
    FilterListRowTexts(&set.entries[0], &row);
    EXPECT_STREQ(row.scale, "-25");
    EXPECT_STREQ(row.unit, "pps");
    EXPECT_STREQ(row.color, "0x0a0b0c");
}

// ---------------------------------------------------------------- Filter Configuration

TEST_F(FilterSetDlgTest, ColourFieldIsReadWithAutomaticBase) {
    EXPECT_EQ(ColorFromText("255"), 0x0000ffu);
    EXPECT_EQ(ColorFromText("0XFF0000"), 0xff0000u);
    EXPECT_EQ(ColorFromText("0xff0000"), 0xff0000u);
    EXPECT_EQ(ColorFromText("red"), 0u);
    EXPECT_EQ(ColorFromText(""), 0u);
    EXPECT_EQ(ColorFromText("010"), 8u);                 // octal
    EXPECT_EQ(ColorFromText("  0x12zz"), 0x12u);         // stops at the first unsuitable character
    EXPECT_EQ(ColorFromText("0x1ff00ff00"), 0xffffffu);  // saturates, low 24 bits kept
    EXPECT_EQ(ColorFromText("-1"), 0xffffffu);
    EXPECT_EQ(ColorFromText("-2"), 0xfffffeu);
    EXPECT_EQ(ColorFromText("--2"), 0u);
}

TEST_F(FilterSetDlgTest, OkWritesTheFormAndRefusesADoubleQuote) {
    FilterSet set = MakeSet({"tcp"});
    FilterEntry entry = set.entries[0];
    FilterConfigForm form;
    FilterConfigOpen(&entry, &form);
    EXPECT_STREQ(form.filterText, "tcp");
    EXPECT_STREQ(form.scaleText, "0");
    EXPECT_STREQ(form.colorText, "0x00ff00");
    EXPECT_EQ(form.unitIndex, 1);
    EXPECT_TRUE(form.autoScale);
    EXPECT_TRUE(form.autoColor);

    std::vector<std::string> history;
    strcpy(form.filterText, "http.host == \"x\"");
    FilterEntry before = entry;
    EXPECT_EQ(FilterConfigOk(&form, history, history_.c_str(), &entry), 0);
    EXPECT_EQ(memcmp(&before, &entry, sizeof entry), 0);
    EXPECT_FALSE(TestPathExists(history_));

    // auto scale cleared with an empty field gives a fixed scale of 0
    strcpy(form.filterText, "  udp \t");
    form.scaleText[0] = '\0';
    form.autoScale = 0;
    form.autoColor = 0;
    strcpy(form.colorText, "255");
    form.unitIndex = 3;
    ASSERT_EQ(FilterConfigOk(&form, history, history_.c_str(), &entry), 1);
    EXPECT_STREQ(entry.filterText, "udp");
    EXPECT_EQ(entry.autoScale, 0);
    EXPECT_EQ(entry.scale, 0);
    EXPECT_EQ(entry.autoColor, 0);
    EXPECT_EQ(entry.color, 0x0000ffu);
    EXPECT_EQ(entry.unit, UnitPps);
    FilterListRow row;
    FilterListRowTexts(&entry, &row);
    EXPECT_STREQ(row.scale, "0");

    // ticked boxes keep the stored scale and colour; units map by item
    form.autoScale = 1;
    form.autoColor = 1;
    entry.scale = 1234;
    const int units[5][2] = {{0, UnitByte}, {1, UnitBps}, {2, UnitPacket}, {3, UnitPps}, {-1, UnitBps}};
    for (const auto& u : units) {
        form.unitIndex = u[0];
        ASSERT_EQ(FilterConfigOk(&form, history, nullptr, &entry), 1);
        EXPECT_EQ(entry.unit, u[1]) << u[0];
    }
    EXPECT_EQ(entry.scale, 1234);
    EXPECT_EQ(entry.color, 0x0000ffu);
    EXPECT_EQ(entry.autoScale, 1);

    // an empty filter is accepted and not recorded
    form.filterText[0] = '\0';
    ASSERT_EQ(FilterConfigOk(&form, history, history_.c_str(), &entry), 1);
    EXPECT_STREQ(entry.filterText, "");

    // a calculation and a style; a field name with a character no field has is refused
    form.calcIndex = CalcMax;
    strcpy(form.calcField, " tcp.window_size ");
    form.styleIndex = StyleStep;
    ASSERT_EQ(FilterConfigOk(&form, history, nullptr, &entry), 1);
    EXPECT_EQ(entry.calc, CalcMax);
    EXPECT_STREQ(entry.calcField, "tcp.window_size");
    EXPECT_EQ(entry.style, StyleStep);
    FilterListRowTexts(&entry, &row);
    EXPECT_STREQ(row.unit, "max(tcp.window_size)");
    strcpy(form.calcField, "tcp.len),x");
    EXPECT_EQ(FilterConfigOk(&form, history, nullptr, &entry), 0);
    EXPECT_STREQ(entry.calcField, "tcp.window_size");
}

TEST_F(FilterSetDlgTest, HistoryRecordsNewTextsOnceAndNotTheStartOfAnEntry) {
    ASSERT_TRUE(TestFileWrite(history_, "tcp.port == 80\n"));
    std::vector<std::string> items;
    ASSERT_EQ(FilterHistoryRead(history_.c_str(), &items), 1);

    FilterEntry entry = MakeSet({""}).entries[0];
    FilterConfigForm form;
    FilterConfigOpen(&entry, &form);
    strcpy(form.filterText, "TCP");
    ASSERT_EQ(FilterConfigOk(&form, items, history_.c_str(), &entry), 1);
    EXPECT_EQ(TestFileRead(history_), "tcp.port == 80\n");

    strcpy(form.filterText, " udp ");
    ASSERT_EQ(FilterConfigOk(&form, items, history_.c_str(), &entry), 1);
    EXPECT_EQ(TestFileRead(history_), "tcp.port == 80\nudp\n");

    ASSERT_EQ(FilterHistoryRead(history_.c_str(), &items), 2);
    ASSERT_EQ(FilterConfigOk(&form, items, history_.c_str(), &entry), 1);
    EXPECT_EQ(TestFileRead(history_), "tcp.port == 80\nudp\n");
}

TEST_F(FilterSetDlgTest, HistoryReadSplitsLongLinesTrimsSortsAndKeepsDuplicates) {
    const std::string longLine(300, 'x');
    ASSERT_TRUE(TestFileWrite(history_, "  udp\t\r\n\n   \nTCP\r\nbeta\n" + longLine + "\nudp\nAlpha"));
    std::vector<std::string> items;
    ASSERT_EQ(FilterHistoryRead(history_.c_str(), &items), 7);
    // the 300-character line gives pieces of 255 and 45; sorting puts the
    // shorter (a prefix of the longer) first
    const std::vector<std::string> want = {
        "Alpha", "beta", "TCP", "udp", "udp", std::string(45, 'x'), std::string(255, 'x')};
    EXPECT_EQ(items, want);

    EXPECT_EQ(FilterHistoryRead((dir_ + "/none").c_str(), &items), 0);
    EXPECT_TRUE(items.empty());
}

TEST_F(FilterSetDlgTest, FilterFieldColourFollowsTheRealChecker) {
    // no checker: no verdict, the field stays white
    EXPECT_EQ(FilterConfigFieldColor("tcp"), FieldWhite);

    PlatformSetProgramFolder(LUMO_BIN_DIR);
    DfilterStartChildProcess(nullptr);
    ASSERT_NE(DfilterCheckerProcess(), 0) << "dravik did not start from " LUMO_BIN_DIR;
    EXPECT_EQ(FilterConfigFieldColor(""), FieldWhite);
    EXPECT_EQ(FilterConfigFieldColor("   "), FieldWhite);
    EXPECT_EQ(FilterConfigFieldColor(" tcp.port == 80 "), FieldValid);
    EXPECT_EQ(FilterConfigFieldColor("tcp.port =="), FieldInvalid);
    EXPECT_EQ(FilterConfigFieldColor("no_such_field_xyz"), FieldInvalid);
    EXPECT_EQ(FilterConfigFieldColor("http.host == \"a\""), FieldInvalid);  // quote: red whatever the verdict

    // a calculation's field: numbers and time intervals for sum..avg, any field for count
    char why[256];
    EXPECT_EQ(FilterConfigCalcFieldColor("tcp.len", 0, why, sizeof why), FieldWhite);  // no calculation
    EXPECT_EQ(FilterConfigCalcFieldColor(" tcp.analysis.ack_rtt ", CalcAvg, why, sizeof why), FieldValid);
    EXPECT_EQ(FilterConfigCalcFieldColor("frame.time_delta", CalcMax, why, sizeof why), FieldValid);
    EXPECT_EQ(FilterConfigCalcFieldColor("http.host", CalcSum, why, sizeof why), FieldInvalid);
    EXPECT_NE(std::string(why).find("neither numbers nor time"), std::string::npos) << why;
    EXPECT_EQ(FilterConfigCalcFieldColor("http.host", CalcCount, why, sizeof why), FieldValid);
    EXPECT_EQ(FilterConfigCalcFieldColor("no.such.field", CalcCount, why, sizeof why), FieldInvalid);
    EXPECT_STREQ(why, "no.such.field is not a field name");
    EXPECT_EQ(FilterConfigCalcFieldColor("tcp.len)", CalcSum, why, sizeof why), FieldInvalid);
    EXPECT_EQ(FilterConfigCalcFieldColor("", CalcMin, why, sizeof why), FieldInvalid);
    DfilterStopChildProcess();
    PlatformSetProgramFolder(nullptr);
}

}  // namespace
