// SPDX-License-Identifier: GPL-2.0-or-later
// Debug log: off means no file; on means whole, time-prefixed lines appended
// to "debuglog.txt" in the current directory, even from several threads.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "shell/debuglog.h"
#include "support/testdir.h"

namespace {

class DebugLogTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        cwd_ = new TestCwd(dir_);
        DebugLogInit();
    }
    void TearDown() override {
        DebugLogEnabled.store(0);
        delete cwd_;
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        std::istringstream in(TestFileRead(dir_ + "/debuglog.txt"));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::string dir_;
    TestCwd* cwd_ = nullptr;
};

}  // namespace

TEST_F(DebugLogTest, OffWritesNoFileAtAll) {
    DebugLogEnabled.store(0);
    DEBUG_LOG("Lumo (%s) start", "0.24.2009.627");
    EXPECT_FALSE(TestPathExists(dir_ + "/debuglog.txt"));
}

TEST_F(DebugLogTest, OnAppendsTimePrefixedLines) {
    DebugLogEnabled.store(1);
    DebugLog("%s(%d),Lumo (%s) start", "shell/lumo.cpp", 12, "0.24.2009.627");
    DebugLog("%s(%d),Lumo exit", "shell/lumo.cpp", 34);
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(2u, lines.size());
    std::regex prefix("^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\\.[0-9]{3},(.*)$");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, prefix)) << lines[0];
    EXPECT_EQ("shell/lumo.cpp(12),Lumo (0.24.2009.627) start", m[2]);
    ASSERT_TRUE(std::regex_match(lines[1], m, prefix)) << lines[1];
    EXPECT_EQ("shell/lumo.cpp(34),Lumo exit", m[2]);

    // a second run appends to the same file; the file ends with a line end
    DebugLog("%s(%d),Lumo exit", "shell/lumo.cpp", 35);
    EXPECT_EQ(3u, Lines().size());
    // the macro writes the same prefix from the calling file and line
    int line = __LINE__ + 1;
    DEBUG_LOG("Lumo (%s) start", "x");
    lines = Lines();
    ASSERT_EQ(4u, lines.size());
    ASSERT_TRUE(std::regex_match(lines[3], m, prefix)) << lines[3];
    EXPECT_EQ(std::string(__FILE__) + "(" + std::to_string(line) + "),Lumo (x) start", m[2]);
    std::string all = TestFileRead(dir_ + "/debuglog.txt");
    EXPECT_EQ('\n', all.back());
}

TEST_F(DebugLogTest, LongMessageIsCutToTheLineBuffer) {
    DebugLogEnabled.store(1);
    std::string huge(10000, 'z');
    DebugLog("%s", huge.c_str());
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(13u + 4095u, lines[0].size());  // "hh:mm:ss.mmm," + 4095 characters
}

TEST_F(DebugLogTest, UnopenableFileLosesTheLineQuietly) {
    ASSERT_EQ(0, mkdir((dir_ + "/debuglog.txt").c_str(), 0755));  // cannot be opened for appending
    DebugLogEnabled.store(1);
    DEBUG_LOG("X() info");
    ASSERT_EQ(0, rmdir((dir_ + "/debuglog.txt").c_str()));
    DebugLog("%s(%d),Y() info", "f", 1);
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("f(1),Y() info"));
}

TEST_F(DebugLogTest, ThreadsLoggingAtOnceGiveOnlyWholeLines) {
    DebugLogEnabled.store(1);
    constexpr int kThreads = 4;
    constexpr int kLines = 1500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            // Long lines in one letter per thread make any mix visible.
            std::string body(300 + 37 * t, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) DebugLog("%s(%d),T%d() info,%d,%s", "thread.cpp", t, t, i, body.c_str());
        });
    }
    for (std::thread& th : threads) th.join();

    std::regex shape(
        "^[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3},thread\\.cpp\\(([0-9])\\),T([0-9])\\(\\) info,([0-9]+),([a-z]+)$");
    std::map<int, int> next;
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(static_cast<size_t>(kThreads * kLines), lines.size());
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line.substr(0, 120);
        int t = std::stoi(m[1]);
        ASSERT_EQ(m[1], m[2]);
        ASSERT_EQ(std::string(300 + 37 * t, static_cast<char>('a' + t)), m[4].str());
        // each thread's lines keep their order
        ASSERT_EQ(next[t], std::stoi(m[3]));
        ++next[t];
    }
}
