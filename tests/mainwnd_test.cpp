// SPDX-License-Identifier: GPL-2.0-or-later
// mainwnd_test.cpp - the main window's shared logic without a window: legend
// clicks and toggles at the designed coordinates, the double-click decision,
// placement, drops, the checker's library path, the rawshark prerequisite,
// the start-up filter set, and the file dialogs' remembered folders.
#include "shell/mainwnd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/filedialogs.h"
#include "support/testdir.h"

namespace {

// A view of n filters whose legend lines sit where the renderer puts them:
// text at (20, 4 + 16 i), here 60 pixels wide and 12 high.
MainWndView ViewWithLegend(int n) {
    MainWndView view;
    MainWndViewInit(&view);
    view.filters.count = n;
    for (int i = 0; i < n; ++i) view.legendRects[i] = {20, 4 + 16 * i, 80, 16 + 16 * i};
    return view;
}

TEST(MainWndLegend, ClickTogglesCellsOnlyInsideTheStripAndBelowTheCount) {
    MainWndView view = ViewWithLegend(3);

    MainWndLeftButtonDown(&view, 3, 20);  // x < 4: nothing
    for (int i = 0; i < FilterSetMax; ++i) EXPECT_EQ(view.filterVisible[i], 1);

    MainWndLeftButtonDown(&view, 4, 16);  // cell 1, left edge
    EXPECT_EQ(view.filterVisible[1], 0);
    MainWndLeftButtonDown(&view, 19, 31);  // cell 1, last pixel
    EXPECT_EQ(view.filterVisible[1], 1);
    MainWndLeftButtonDown(&view, 20, 20);  // x = 20 is past the strip (and left of nothing)
    EXPECT_EQ(view.filterVisible[1], 1);
    MainWndLeftButtonDown(&view, 10, 0);  // cell 0, top row
    EXPECT_EQ(view.filterVisible[0], 0);
    MainWndLeftButtonDown(&view, 10, 3 * 16 + 5);  // cell 3: no filter 3
    EXPECT_EQ(view.filterVisible[3], 1);
    EXPECT_EQ(view.selectedFilter, -1);
}

TEST(MainWndLegend, ClickSelectsByRectangleWithoutLeftEdgeAndLaterMatchWins) {
    MainWndView view = ViewWithLegend(3);
    MainWndLeftButtonDown(&view, 50, 4 + 16 * 2);  // top edge of line 2
    EXPECT_EQ(view.selectedFilter, 2);
    MainWndLeftButtonDown(&view, 80, 16);  // right and bottom edges of line 0 are inside
    EXPECT_EQ(view.selectedFilter, 0);
    MainWndLeftButtonDown(&view, 81, 16);  // one past the right edge
    EXPECT_EQ(view.selectedFilter, -1);

    // inside the toggle strip and within line 1's rows: toggles and selects
    MainWndLeftButtonDown(&view, 8, 22);
    EXPECT_EQ(view.selectedFilter, 1);
    EXPECT_EQ(view.filterVisible[1], 0);

    // overlapping rectangles: the later filter wins
    view.legendRects[2] = {20, 0, 200, 100};
    MainWndLeftButtonDown(&view, 50, 10);
    EXPECT_EQ(view.selectedFilter, 2);
    // a click elsewhere clears the selection
    MainWndLeftButtonDown(&view, 300, 200);
    EXPECT_EQ(view.selectedFilter, -1);

    MainWndViewReset(&view);
    EXPECT_EQ(view.filterVisible[1], 1);
}

TEST(MainWndLegend, DoubleClickOpensEditorOnlyOffTheLegend) {
    MainWndView view = ViewWithLegend(2);
    EXPECT_TRUE(MainWndLegendHit(&view, 30, 8));   // legend line 0
    EXPECT_TRUE(MainWndLegendHit(&view, 6, 20));   // toggle cell 1
    EXPECT_FALSE(MainWndLegendHit(&view, 6, 40));  // toggle cell 2: no filter 2
    EXPECT_FALSE(MainWndLegendHit(&view, 150, 100));
    EXPECT_FALSE(MainWndLegendHit(&view, 2, 8));  // left of the strip
    MainWndView empty = ViewWithLegend(0);
    EXPECT_FALSE(MainWndLegendHit(&empty, 30, 8));
}

TEST(MainWndPlacementRule, SavedRectangleOnlyWhenLargeEnoughAndOnAMonitor) {
    const MonitorRect monitors[2] = {{0, 0, 1920, 1080}, {1920, 0, 3840, 1080}};
    Settings s;
    memset(&s, 0, sizeof s);
    int x, y, w, h;
    EXPECT_EQ(MainWndPlacement(&s, monitors, 2, &x, &y, &w, &h), 0);  // a first run
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);

    s.positionX = 2000, s.positionY = 100, s.sizeX = 640, s.sizeY = 480;
    EXPECT_EQ(MainWndPlacement(&s, monitors, 2, &x, &y, &w, &h), 1);
    EXPECT_EQ(x, 2000);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(MainWndPlacement(&s, monitors, 1, &x, &y, &w, &h), 0);  // that monitor is gone
    EXPECT_EQ(w, 320);

    s.positionX = 10, s.sizeX = 10;
    EXPECT_EQ(MainWndPlacement(&s, monitors, 2, &x, &y, &w, &h), 0);
    s.sizeX = 11, s.sizeY = 10;
    EXPECT_EQ(MainWndPlacement(&s, monitors, 2, &x, &y, &w, &h), 0);
    s.sizeY = 11;
    EXPECT_EQ(MainWndPlacement(&s, monitors, 2, &x, &y, &w, &h), 1);
    s.positionX = -500, s.sizeX = 400;  // wholly left of the leftmost monitor
    EXPECT_EQ(MainWndPlacement(&s, monitors, 2, &x, &y, &w, &h), 0);
}

TEST(MainWndFiles, DropKindsAndLibraryPath) {
    EXPECT_EQ(MainWndDropKind("/tmp/a.fs"), DropFilterSet);
    EXPECT_EQ(MainWndDropKind("/tmp/A.FS"), DropFilterSet);
    EXPECT_EQ(MainWndDropKind("/tmp/b.PCAP"), DropCaptureFile);
    EXPECT_EQ(MainWndDropKind("/tmp/b.pcapng"), DropCaptureFile);
    EXPECT_EQ(MainWndDropKind("/tmp/b.cap"), DropCaptureFile);
    EXPECT_EQ(MainWndDropKind("/tmp/b.pcapng.gz"), DropCaptureFile);
    EXPECT_EQ(MainWndDropKind("/tmp/set.fs.txt"), DropOther);
    EXPECT_EQ(MainWndDropKind("/tmp/noextension"), DropOther);
    EXPECT_EQ(MainWndDropKind("/tmp/dir.fs/file"), DropOther);

    char out[kPathMax];
    ASSERT_EQ(MainWndLibraryPath("/usr/bin/rawshark", out, sizeof out), 1);
    EXPECT_STREQ(out, "/usr/bin/libwireshark.so");
    ASSERT_EQ(MainWndLibraryPath("/rawshark", out, sizeof out), 1);
    EXPECT_STREQ(out, "/libwireshark.so");
    EXPECT_EQ(MainWndLibraryPath("rawshark", out, sizeof out), 0);
    EXPECT_EQ(MainWndLibraryPath("", out, sizeof out), 0);
    char small[12];
    EXPECT_EQ(MainWndLibraryPath("/usr/bin/rawshark", small, sizeof small), 0);
}

class MainWndDataTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        setenv("LUMO_HOME", dir_.c_str(), 1);
        memset(&settings_, 0, sizeof settings_);
        FileDialogForgetAll();
    }
    void TearDown() override {
        unsetenv("LUMO_HOME");
        FileDialogForgetAll();
    }
    std::string dir_;
    Settings settings_;
};

TEST_F(MainWndDataTest, RawsharkPrerequisiteNeedsAnExistingFile) {
    EXPECT_FALSE(MainWndRawsharkPathUsable(&settings_));
    strcpy(settings_.rawshark.rawsharkPath, (dir_ + "/rawshark").c_str());
    EXPECT_FALSE(MainWndRawsharkPathUsable(&settings_));
    ASSERT_TRUE(TestFileWrite(dir_ + "/rawshark", "#!/bin/sh\n"));
    EXPECT_TRUE(MainWndRawsharkPathUsable(&settings_));
}

TEST_F(MainWndDataTest, StartupFilterSetLoadsOnlyWithARawsharkPathAndRoundTrips) {
    const std::string startup = dir_ + "/startupfilterset.fs";
    ASSERT_TRUE(TestFileWrite(startup, "\"tcp\",bps,0,0x00ff00\r\n\"udp\",packet,0,0xff0000\r\n"));
    MainWndView view;
    MainWndViewInit(&view);
    view.filters.count = 5;

    EXPECT_EQ(MainWndLoadStartupFilterSet(&view, &settings_, "startupfilterset.fs"), 0);
    EXPECT_EQ(view.filters.count, 0);

    strcpy(settings_.rawshark.rawsharkPath, "/usr/bin/rawshark");
    EXPECT_EQ(MainWndLoadStartupFilterSet(&view, &settings_, "startupfilterset.fs"), 1);
    ASSERT_EQ(view.filters.count, 2);
    EXPECT_EQ(view.filters.entries[1].unit, UnitPacket);

    // the set at exit, in list order, replaces the file
    strcpy(view.filters.entries[0].filterText, "arp");
    ASSERT_TRUE(MainWndSaveStartupFilterSet(&view, "startupfilterset.fs"));
    MainWndView again;
    MainWndViewInit(&again);
    ASSERT_EQ(MainWndLoadFilterSet(&again, startup.c_str()), 2);
    EXPECT_STREQ(again.filters.entries[0].filterText, "arp");
    EXPECT_STREQ(again.filters.entries[1].filterText, "udp");

    // a file that cannot be read gives an empty set and a reset display state
    again.filterVisible[0] = 0;
    again.selectedFilter = 1;
    EXPECT_EQ(MainWndLoadFilterSet(&again, (dir_ + "/missing.fs").c_str()), 0);
    EXPECT_EQ(again.filterVisible[0], 1);
    EXPECT_EQ(again.selectedFilter, -1);
}

TEST_F(MainWndDataTest, FileDialogsRememberFoldersPerKind) {
    EXPECT_EQ(std::string(FileDialogInitialFolder(FolderFilterSet)), dir_);
    EXPECT_EQ(std::string(FileDialogInitialFolder(FolderDump)), dir_);

    FileDialogRemember(FolderFilterSet, "/srv/sets/web.fs");
    EXPECT_STREQ(FileDialogInitialFolder(FolderFilterSet), "/srv/sets");  // load and save share it
    EXPECT_EQ(std::string(FileDialogInitialFolder(FolderDump)), dir_);    // the dump keeps its own

    FileDialogRemember(FolderDump, "/x.pcap");
    EXPECT_STREQ(FileDialogInitialFolder(FolderDump), "/");
    FileDialogRemember(FolderDump, "relative.pcap");  // no folder: back to the data folder
    EXPECT_EQ(std::string(FileDialogInitialFolder(FolderDump)), dir_);

    EXPECT_TRUE(FileDialogIsRawshark("/usr/bin/rawshark"));
    EXPECT_TRUE(FileDialogIsRawshark("/opt/ws/RawShark"));
    EXPECT_FALSE(FileDialogIsRawshark("/usr/bin/tshark"));
    EXPECT_FALSE(FileDialogIsRawshark("/usr/bin/rawshark.sh"));
    EXPECT_FALSE(FileDialogIsRawshark("/usr/bin/rawshark/"));

    char folder[kPathMax];
    FileDialogRawsharkFolder("", folder, sizeof folder);
    EXPECT_STREQ(folder, "/usr/bin");
    FileDialogRawsharkFolder("/opt/wireshark/bin/rawshark", folder, sizeof folder);
    EXPECT_STREQ(folder, "/opt/wireshark/bin");
}

}  // namespace
