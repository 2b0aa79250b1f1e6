// SPDX-License-Identifier: GPL-2.0-or-later
// Settings files of both programs: defaults, conversions, the rawshark
// check, write order, round trip, and the monitor test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "platform/platform.h"
#include "shell/debuglog.h"
#include "shell/settings.h"
#include "support/testdir.h"

namespace {

// Each test gets its own data folder and a PATH whose only rawshark is a
// fake one in the test's own bin folder.
class SettingsTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        home_ = dir_ + "/home";
        bin_ = dir_ + "/bin";
        mkdir(home_.c_str(), 0755);
        mkdir(bin_.c_str(), 0755);
        rawshark_ = bin_ + "/rawshark";
        TestFileWrite(rawshark_, "#!/bin/sh\n");
        chmod(rawshark_.c_str(), 0755);
        const char* path = getenv("PATH");
        oldPath_ = path ? path : "";
        setenv("PATH", bin_.c_str(), 1);
        setenv("LUMO_HOME", home_.c_str(), 1);
        DebugLogEnabled.store(0);
    }
    void TearDown() override {
        setenv("PATH", oldPath_.c_str(), 1);
        unsetenv("LUMO_HOME");
        DebugLogEnabled.store(0);
    }
    std::string Ini(SettingsProgram p) const { return home_ + (p == SettingsLumo ? "/lumo.ini" : "/lumo_offline.ini"); }

    std::string dir_, home_, bin_, rawshark_, oldPath_;
};

}  // namespace

TEST_F(SettingsTest, FilePathIsInTheDataFolder) {
    char path[kPathMax];
    ASSERT_EQ(1, SettingsFilePath(SettingsLumo, path, sizeof path));
    EXPECT_EQ(Ini(SettingsLumo), path);
    ASSERT_EQ(1, SettingsFilePath(SettingsLumoOffline, path, sizeof path));
    EXPECT_EQ(Ini(SettingsLumoOffline), path);
}

TEST_F(SettingsTest, FreshStartGivesDefaultsAndWritesEveryKeyInOrder) {
    Settings s;
    memset(&s, 0x5a, sizeof s);
    ASSERT_EQ(1, SettingsLoad(&s, SettingsLumo));
    EXPECT_EQ(65536, s.binCount);
    EXPECT_EQ(0, s.topmost);
    EXPECT_EQ(0x000000u, s.backColor);
    EXPECT_EQ(0x0000a0u, s.lineColor);
    EXPECT_EQ(0xa0a0ffu, s.charColor);
    EXPECT_EQ(50000, s.samplingInterval);
    EXPECT_EQ(20, s.drawInterval);
    EXPECT_EQ(0, s.positionX);
    EXPECT_EQ(0, s.positionY);
    EXPECT_EQ(0, s.sizeX);
    EXPECT_EQ(0, s.sizeY);
    EXPECT_STREQ("", s.capture.iface.name);
    EXPECT_STREQ("", s.capture.iface.description);
    EXPECT_EQ(0u, s.capture.iface.address);
    EXPECT_EQ(1, s.capture.promiscuousMode);
    EXPECT_EQ(0, s.capture.enableLimitBytes);
    EXPECT_EQ(128, s.capture.limitBytes);
    EXPECT_EQ(10, s.capture.timeout);
    EXPECT_STREQ("", s.capture.captureFilter);
    EXPECT_EQ(rawshark_, s.rawshark.rawsharkPath);  // found by the search
    EXPECT_EQ(0, s.rawshark.macResolution + s.rawshark.networkResolution + s.rawshark.transportResolution +
                     s.rawshark.concurrentDns);
    EXPECT_EQ(0, DebugLogEnabled.load());
    EXPECT_FALSE(TestPathExists(Ini(SettingsLumo)));  // loading never writes

    ASSERT_EQ(1, SettingsSave(&s, SettingsLumo));
    EXPECT_EQ(
        "[Lumo]\n"
        "debug_mode=0\n"
        "position_x=0\n"
        "position_y=0\n"
        "size_x=0\n"
        "size_y=0\n"
        "topmost=0\n"
        "draw_interval=20\n"
        "sampling_interval=50000\n"
        "back_color=0x000000\n"
        "line_color=0x0000a0\n"
        "char_color=0xa0a0ff\n"
        "rawshark_path=" +
            rawshark_ +
            "\n"
            "enable_MAC_address_resolution=0\n"
            "enable_network_address_resolution=0\n"
            "enable_transport_layer_port_number_resolution=0\n"
            "enable_concurrent_asynchronous_DNS_lookups=0\n"
            "nic_name=\n"
            "promiscuous_mode=1\n"
            "enable_limit_bytes=0\n"
            "limit_bytes=128\n"
            "timeout=10\n"
            "capture_filter=\n"
            "one_pass=1\n"
            "time_of_day=0\n"
            "log_scale=0\n"
            "moving_average=0\n"
            "judges=0\n",
        TestFileRead(Ini(SettingsLumo)));
}

TEST_F(SettingsTest, ColoursAndIntervalsFollowTheConversionRules) {
    ASSERT_TRUE(TestFileWrite(Ini(SettingsLumo),
                              "[Lumo]\r\n"
                              "back_color=0xFF0000\r\n"
                              "line_color=255\r\n"
                              "char_color=010\r\n"
                              "sampling_interval=abc\r\n"));
    Settings s;
    SettingsLoad(&s, SettingsLumo);
    EXPECT_EQ(0xff0000u, s.backColor);  // red
    EXPECT_EQ(0x0000ffu, s.lineColor);  // blue
    EXPECT_EQ(0x000008u, s.charColor);  // octal
    EXPECT_EQ(50000, s.samplingInterval);
    SettingsSave(&s, SettingsLumo);
    std::string text = TestFileRead(Ini(SettingsLumo));
    EXPECT_NE(std::string::npos, text.find("back_color=0xff0000\r\n"));
    EXPECT_NE(std::string::npos, text.find("line_color=0x0000ff\r\n"));
    EXPECT_NE(std::string::npos, text.find("char_color=0x000008\r\n"));
    EXPECT_NE(std::string::npos, text.find("sampling_interval=50000\r\n"));

    struct Case {
        const char* color;
        uint32_t expect;
    } colors[] = {
        {"0x1ff8000", 0xff8000},
        {"0x1ffffffff", 0xffffff},  // too large saturates to all ones
        {"-1", 0xffffff},
        {"-0x10", 0xfffff0},
        {"  0x00ff00zz", 0x00ff00},
        {"blue", 0},
        {"", 0},
        {"0x", 0},
        {"16777217", 0x000001},
        {"- 5", 0},
    };
    for (const Case& c : colors) {
        TestFileWrite(Ini(SettingsLumo), std::string("[Lumo]\nback_color=") + c.color + "\n");
        SettingsLoad(&s, SettingsLumo);
        EXPECT_EQ(c.expect, s.backColor) << c.color;
    }

    struct IntervalCase {
        const char* text;
        int64_t expect;
    } intervals[] = {
        {"100000", 100000}, {"0", 50000},
        {"  250us", 250},   {"+7", 7},
        {"-20", -20},       {"99999999999999999999", INT64_MAX},
        {"", 50000},        {"5000000000", 5000000000LL},
    };
    for (const IntervalCase& c : intervals) {
        TestFileWrite(Ini(SettingsLumo), std::string("[Lumo]\nsampling_interval=") + c.text + "\n");
        SettingsLoad(&s, SettingsLumo);
        EXPECT_EQ(c.expect, s.samplingInterval) << c.text;
    }
    SettingsSave(&s, SettingsLumo);
    EXPECT_NE(std::string::npos, TestFileRead(Ini(SettingsLumo)).find("sampling_interval=5000000000\n"));
}

TEST_F(SettingsTest, RawsharkPathNamingAnotherFileIsReplacedBySearch) {
    std::string other = dir_ + "/wireshark";
    TestFileWrite(other, "x");
    TestFileWrite(Ini(SettingsLumo), "[Lumo]\nrawshark_path=" + other + "\n");
    Settings s;
    SettingsLoad(&s, SettingsLumo);
    EXPECT_EQ(rawshark_, s.rawshark.rawsharkPath);

    // a configured rawshark elsewhere is kept
    std::string mine = dir_ + "/opt/rawshark";
    mkdir((dir_ + "/opt").c_str(), 0755);
    TestFileWrite(mine, "x");
    TestFileWrite(Ini(SettingsLumo), "[Lumo]\nrawshark_path=" + mine + "\n");
    SettingsLoad(&s, SettingsLumo);
    EXPECT_EQ(mine, s.rawshark.rawsharkPath);

    // a configured path that does not exist is dropped too
    TestFileWrite(Ini(SettingsLumo), "[Lumo]\nrawshark_path=" + dir_ + "/gone/rawshark\n");
    SettingsLoad(&s, SettingsLumo);
    EXPECT_EQ(rawshark_, s.rawshark.rawsharkPath);
}

TEST_F(SettingsTest, DebugModeSetsTheLogSwitchAndIsWrittenBack) {
    TestFileWrite(Ini(SettingsLumo), "[Lumo]\ndebug_mode=1\n");
    Settings s;
    SettingsLoad(&s, SettingsLumo);
    EXPECT_EQ(1, DebugLogEnabled.load());
    DebugLogEnabled.store(0);  // keep the test folder free of log lines
    TestFileWrite(Ini(SettingsLumo), "[Lumo]\ndebug_mode=0\n");
    SettingsLoad(&s, SettingsLumo);
    EXPECT_EQ(0, DebugLogEnabled.load());
    DebugLogEnabled.store(3);
    SettingsSave(&s, SettingsLumo);
    DebugLogEnabled.store(0);
    EXPECT_NE(std::string::npos, TestFileRead(Ini(SettingsLumo)).find("debug_mode=3\n"));
}

TEST_F(SettingsTest, EveryFieldSurvivesSaveAndLoad) {
    Settings a;
    SettingsLoad(&a, SettingsLumo);
    a.topmost = 1;
    a.backColor = 0x123456;
    a.lineColor = 0xabcdef;
    a.charColor = 0x010203;
    a.samplingInterval = 123456789012LL;
    a.drawInterval = 33;
    a.positionX = -1920;
    a.positionY = 17;
    a.sizeX = 800;
    a.sizeY = 600;
    strcpy(a.capture.iface.name, "enp0s31f6");
    a.capture.promiscuousMode = 0;
    a.capture.enableLimitBytes = 1;
    a.capture.limitBytes = 96;
    a.capture.timeout = 250;
    strcpy(a.capture.captureFilter, "tcp port 80 and host 10.0.0.1");
    a.rawshark.macResolution = 1;
    a.rawshark.networkResolution = 1;
    a.rawshark.transportResolution = 1;
    a.rawshark.concurrentDns = 1;
    a.timeOfDay = 1;
    SettingsSave(&a, SettingsLumo);

    Settings b;
    SettingsLoad(&b, SettingsLumo);
    EXPECT_EQ(a.topmost, b.topmost);
    EXPECT_EQ(a.backColor, b.backColor);
    EXPECT_EQ(a.lineColor, b.lineColor);
    EXPECT_EQ(a.charColor, b.charColor);
    EXPECT_EQ(a.samplingInterval, b.samplingInterval);
    EXPECT_EQ(a.drawInterval, b.drawInterval);
    EXPECT_EQ(a.positionX, b.positionX);
    EXPECT_EQ(a.positionY, b.positionY);
    EXPECT_EQ(a.sizeX, b.sizeX);
    EXPECT_EQ(a.sizeY, b.sizeY);
    EXPECT_EQ(1, b.timeOfDay);
    EXPECT_STREQ(a.capture.iface.name, b.capture.iface.name);
    EXPECT_EQ(a.capture.promiscuousMode, b.capture.promiscuousMode);
    EXPECT_EQ(a.capture.enableLimitBytes, b.capture.enableLimitBytes);
    EXPECT_EQ(a.capture.limitBytes, b.capture.limitBytes);
    EXPECT_EQ(a.capture.timeout, b.capture.timeout);
    EXPECT_STREQ(a.capture.captureFilter, b.capture.captureFilter);
    EXPECT_STREQ(a.rawshark.rawsharkPath, b.rawshark.rawsharkPath);
    EXPECT_EQ(1, b.rawshark.macResolution & b.rawshark.networkResolution & b.rawshark.transportResolution &
                     b.rawshark.concurrentDns);
}

TEST_F(SettingsTest, SavingKeepsTheUsersOtherLines) {
    TestFileWrite(Ini(SettingsLumo), "; my capture box\n[Lumo]\nsize_x=5\nmy_own_key=keep\n\n[Extra]\nz=1\n");
    Settings s;
    SettingsLoad(&s, SettingsLumo);
    EXPECT_EQ(5, s.sizeX);
    s.sizeX = 6;
    SettingsSave(&s, SettingsLumo);
    std::string text = TestFileRead(Ini(SettingsLumo));
    EXPECT_EQ(0u, text.find("; my capture box\n[Lumo]\nsize_x=6\nmy_own_key=keep\ndebug_mode=0\n"));
    EXPECT_NE(std::string::npos,
              text.find("capture_filter=\none_pass=1\ntime_of_day=0\nlog_scale=0\nmoving_average=0\njudges=0\n\n[Extra]\nz=1\n"));
}

TEST_F(SettingsTest, TextWithALineEndCannotInjectKeys) {
    // Writing such a text raw would add a "[Lumo]"-less line that reads as a key.
    Settings s;
    SettingsLoad(&s, SettingsLumo);
    strcpy(s.capture.captureFilter, "tcp\ntopmost=1");
    s.sizeX = 77;
    SettingsSave(&s, SettingsLumo);
    Settings t;
    SettingsLoad(&t, SettingsLumo);
    EXPECT_EQ(0, t.topmost);
    EXPECT_EQ(77, t.sizeX);  // the other keys are still written
}

TEST_F(SettingsTest, OfflineProgramKeepsItsSubsetInItsOwnSection) {
    TestFileWrite(Ini(SettingsLumoOffline),
                  "[Lumo]\nsize_x=1\n"
                  "[Lumo_offline]\nsize_x=2\nnic_name=eth9\ndraw_interval=99\nline_color=255\n");
    Settings s;
    SettingsLoad(&s, SettingsLumoOffline);
    EXPECT_EQ(2, s.sizeX);
    EXPECT_EQ(0x0000ffu, s.lineColor);
    EXPECT_STREQ("", s.capture.iface.name);  // not a key of this program
    EXPECT_EQ(20, s.drawInterval);
    EXPECT_EQ(65536, s.binCount);

    TestFileWrite(Ini(SettingsLumoOffline), "");
    SettingsSave(&s, SettingsLumoOffline);
    EXPECT_EQ(
        "[Lumo_offline]\n"
        "debug_mode=0\n"
        "position_x=0\n"
        "position_y=0\n"
        "size_x=2\n"
        "size_y=0\n"
        "topmost=0\n"
        "sampling_interval=50000\n"
        "back_color=0x000000\n"
        "line_color=0x0000ff\n"
        "char_color=0xa0a0ff\n"
        "rawshark_path=" +
            rawshark_ +
            "\n"
            "enable_MAC_address_resolution=0\n"
            "enable_network_address_resolution=0\n"
            "enable_transport_layer_port_number_resolution=0\n"
            "enable_concurrent_asynchronous_DNS_lookups=0\n"
            "one_pass=1\n"
            "time_of_day=0\n"
            "log_scale=0\n"
            "moving_average=0\n"
            "judges=0\n",
        TestFileRead(Ini(SettingsLumoOffline)));
    EXPECT_FALSE(TestPathExists(Ini(SettingsLumo)));
}

TEST_F(SettingsTest, SaveCreatesAMissingDataFolder) {
    std::string deep = dir_ + "/a/b/c";
    setenv("LUMO_HOME", deep.c_str(), 1);
    Settings s;
    SettingsLoad(&s, SettingsLumo);
    SettingsSave(&s, SettingsLumo);
    EXPECT_TRUE(TestPathExists(deep + "/lumo.ini"));
}

TEST(MonitorTest, RectangleMustOverlapAMonitor) {
    const MonitorRect two[] = {{0, 0, 1920, 1080}, {1920, 0, 3200, 1024}};
    EXPECT_EQ(1, IsRectOnAnyMonitor(100, 100, 320, 240, two, 2));
    EXPECT_EQ(1, IsRectOnAnyMonitor(3000, 500, 800, 600, two, 2));   // second monitor only
    EXPECT_EQ(1, IsRectOnAnyMonitor(-318, -238, 320, 240, two, 2));  // the inclusive corner one pixel in
    EXPECT_EQ(0, IsRectOnAnyMonitor(-319, -239, 320, 240, two, 2));  // the corner on the edge does not count
    EXPECT_EQ(0, IsRectOnAnyMonitor(-320, 0, 320, 240, two, 2));     // wholly left of the leftmost
    EXPECT_EQ(0, IsRectOnAnyMonitor(3200, 0, 320, 240, two, 2));     // right edge is exclusive
    EXPECT_EQ(0, IsRectOnAnyMonitor(0, 1080, 320, 240, two, 2));     // below the first one
    EXPECT_EQ(0, IsRectOnAnyMonitor(100, 100, 0, 240, two, 2));
    EXPECT_EQ(0, IsRectOnAnyMonitor(100, 100, 320, 0, two, 2));
    EXPECT_EQ(0, IsRectOnAnyMonitor(100, 100, -5, 240, two, 2));
    EXPECT_EQ(0, IsRectOnAnyMonitor(100, 100, 1, 240, two, 2));  // inclusive width 1: left == right
    EXPECT_EQ(0, IsRectOnAnyMonitor(100, 100, 320, 240, two, 0));
    EXPECT_EQ(0, IsRectOnAnyMonitor(100, 100, 320, 240, nullptr, 2));
    // Near the end of the int range the right edge must not wrap around.
    EXPECT_EQ(0, IsRectOnAnyMonitor(INT32_MAX - 10, 0, 1000, 240, two, 2));
    EXPECT_EQ(1, IsRectOnAnyMonitor(-2000000000, 10, 2000000100, 240, two, 2));
}
