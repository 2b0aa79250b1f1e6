// SPDX-License-Identifier: GPL-2.0-or-later
// Platform layer: the replaceable clock, program and data folders, file
// existence, atomic replace and the rawshark search.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "support/testdir.h"

namespace {

int64_t FakeNow = 0;
int64_t FakeClock() { return FakeNow; }

// Saves and restores the environment variables a test changes.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name) {
        const char* v = getenv(name);
        had_ = v != nullptr;
        if (had_) old_ = v;
    }
    ~EnvGuard() {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    std::string old_;
};

std::string MakeExecutable(const std::string& path) {
    TestFileWrite(path, "#!/bin/sh\nexit 0\n");
    chmod(path.c_str(), 0755);
    return path;
}

}  // namespace

TEST(PlatformClock, CounterIsMonotonicAndReplaceable) {
    EXPECT_EQ(1000000000, PerfFrequency());
    int64_t a = PerfCounter();
    int64_t b = PerfCounter();
    EXPECT_LE(a, b);
    EXPECT_GT(a, 0);

    FakeNow = 42;
    PerfSetClock(&FakeClock);
    EXPECT_EQ(42, PerfCounter());
    FakeNow = 7000000000;
    EXPECT_EQ(7000000000, PerfCounter());
    PerfSetClock(nullptr);
    EXPECT_GE(PerfCounter(), b);
}

TEST(PlatformFolders, ProgramFolderIsTheExecutablesFolderUnlessSet) {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    *strrchr(exe, '/') = '\0';
    EXPECT_STREQ(exe, ProgramFolder());

    PlatformSetProgramFolder("/opt/lumo");
    EXPECT_STREQ("/opt/lumo", ProgramFolder());
    char path[kPathMax];
    ASSERT_EQ(1, ProgramFilePath("dravik", path, sizeof path));
    EXPECT_STREQ("/opt/lumo/dravik", path);
    PlatformSetProgramFolder(nullptr);
    EXPECT_STREQ(exe, ProgramFolder());
}

TEST(PlatformFolders, DataFolderFollowsLumoHomeThenProgramThenXdg) {
    EnvGuard home("LUMO_HOME"), xdg("XDG_CONFIG_HOME"), user("HOME");
    std::string dir = TestDirNew();
    char path[kPathMax];

    setenv("LUMO_HOME", (dir + "/data//").c_str(), 1);
    ASSERT_EQ(1, DataFolder(path, sizeof path));
    EXPECT_EQ(dir + "/data", path);
    ASSERT_EQ(1, DataFilePath("lumo.ini", path, sizeof path));
    EXPECT_EQ(dir + "/data/lumo.ini", path);

    // without LUMO_HOME: a writable program folder is the data folder
    unsetenv("LUMO_HOME");
    PlatformSetProgramFolder(dir.c_str());
    ASSERT_EQ(1, DataFolder(path, sizeof path));
    EXPECT_EQ(dir, path);

    // a program folder nobody may write (root may write anywhere, so use one
    // that does not exist): $XDG_CONFIG_HOME/lumo, else ~/.config/lumo
    PlatformSetProgramFolder((dir + "/missing").c_str());
    setenv("XDG_CONFIG_HOME", (dir + "/xdg").c_str(), 1);
    ASSERT_EQ(1, DataFolder(path, sizeof path));
    EXPECT_EQ(dir + "/xdg/lumo", path);
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", (dir + "/user").c_str(), 1);
    ASSERT_EQ(1, DataFolder(path, sizeof path));
    EXPECT_EQ(dir + "/user/.config/lumo", path);

    // created on demand, parents included
    EXPECT_FALSE(TestPathExists(dir + "/user"));
    EXPECT_EQ(1, DataFolderCreate());
    struct stat st;
    ASSERT_EQ(0, stat((dir + "/user/.config/lumo").c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    PlatformSetProgramFolder(nullptr);
}

TEST(PlatformFolders, PathsThatDoNotFitAreRefused) {
    EnvGuard home("LUMO_HOME");
    setenv("LUMO_HOME", "/tmp/x", 1);
    char tooSmall[15];  // "/tmp/x/lumo.ini" needs 16 bytes
    EXPECT_EQ(0, DataFilePath("lumo.ini", tooSmall, sizeof tooSmall));
    char exact[16];
    EXPECT_EQ(1, DataFilePath("lumo.ini", exact, sizeof exact));
    EXPECT_STREQ("/tmp/x/lumo.ini", exact);
    std::string longName(kPathMax, 'n');
    char path[kPathMax];
    EXPECT_EQ(0, ProgramFilePath(longName.c_str(), path, sizeof path));
}

TEST(PlatformFiles, ExistsOnlyForRegularFiles) {
    std::string dir = TestDirNew();
    TestFileWrite(dir + "/f", "x");
    symlink("f", (dir + "/link").c_str());
    symlink("gone", (dir + "/dangling").c_str());
    EXPECT_EQ(1, FileExists((dir + "/f").c_str()));
    EXPECT_EQ(1, FileExists((dir + "/link").c_str()));
    EXPECT_EQ(0, FileExists((dir + "/dangling").c_str()));
    EXPECT_EQ(0, FileExists(dir.c_str()));
    EXPECT_EQ(0, FileExists((dir + "/none").c_str()));
    EXPECT_EQ(0, FileExists(""));
    EXPECT_EQ(0, FileExists(nullptr));
}

TEST(PlatformFiles, AtomicWriteReplacesWholeAndLeavesNothingBeside) {
    std::string dir = TestDirNew();
    std::string path = dir + "/data.txt";
    ASSERT_EQ(1, FileWriteAtomic(path.c_str(), "first", 5, nullptr));
    EXPECT_EQ("first", TestFileRead(path));
    chmod(path.c_str(), 0600);
    std::string big(3 << 20, 'b');
    ASSERT_EQ(1, FileWriteAtomic(path.c_str(), big.data(), big.size(), nullptr));
    EXPECT_EQ(big, TestFileRead(path));
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    ASSERT_EQ(1, FileWriteAtomic(path.c_str(), "", 0, nullptr));
    EXPECT_EQ("", TestFileRead(path));
    EXPECT_EQ(0, system(("test $(ls -A '" + dir + "' | wc -l) -eq 1").c_str()));
    EXPECT_EQ(0, FileWriteAtomic((dir + "/nofolder/x").c_str(), "x", 1, nullptr));
    EXPECT_EQ(0, FileWriteAtomic(dir.c_str(), "x", 1, nullptr));  // a folder is not replaced
    // fault: an export to /dev/null was refused; a device is written to, not replaced
    EXPECT_EQ(1, FileWriteAtomic("/dev/null", "x", 1, nullptr));
}

class RawsharkSearch : public testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        mkdir((dir_ + "/bin1").c_str(), 0755);
        mkdir((dir_ + "/bin2").c_str(), 0755);
    }
    std::string Find(const std::string& configured) {
        char path[kPathMax];
        TextCopy(path, configured);
        found_ = PlatformFindRawshark(path, sizeof path);
        return path;
    }
    static void TextCopy(char* out, const std::string& s) { strcpy(out, s.c_str()); }
    EnvGuard pathGuard_{"PATH"};
    std::string dir_;
    int found_ = 0;
};

TEST_F(RawsharkSearch, ConfiguredRawsharkIsKept) {
    setenv("PATH", (dir_ + "/bin1").c_str(), 1);
    std::string mine = MakeExecutable(dir_ + "/rawshark");
    EXPECT_EQ(mine, Find(mine));
    EXPECT_EQ(1, found_);
}

TEST_F(RawsharkSearch, ConfiguredPathNamingAnotherFileIsDroppedForThePathSearch) {
    std::string onPath = MakeExecutable(dir_ + "/bin2/rawshark");
    setenv("PATH", ("relative/bin:" + dir_ + "/bin1::" + dir_ + "/bin2").c_str(), 1);
    std::string other = MakeExecutable(dir_ + "/tshark");
    EXPECT_EQ(onPath, Find(other));
    EXPECT_EQ(onPath, Find(dir_ + "/RAWSHARK"));       // the name is exact on Linux
    EXPECT_EQ(onPath, Find(dir_ + "/gone/rawshark"));  // missing
    EXPECT_EQ(onPath, Find(dir_ + "/bin1"));           // a folder
    EXPECT_EQ(onPath, Find(""));
    EXPECT_EQ(1, found_);
}

TEST_F(RawsharkSearch, FirstExecutableOnPathWinsThenUsrBin) {
    TestFileWrite(dir_ + "/bin1/rawshark", "not executable");
    std::string second = MakeExecutable(dir_ + "/bin2/rawshark");
    setenv("PATH", (dir_ + "/bin1:" + dir_ + "/bin2").c_str(), 1);
    EXPECT_EQ(second, Find(""));

    setenv("PATH", (dir_ + "/bin1").c_str(), 1);
    std::string result = Find("");
    if (FileExists("/usr/bin/rawshark")) {
        EXPECT_EQ("/usr/bin/rawshark", result);
        EXPECT_EQ(1, found_);
    } else {
        EXPECT_EQ("", result);
        EXPECT_EQ(0, found_);
    }
}

TEST_F(RawsharkSearch, ResultThatDoesNotFitIsEmpty) {
    std::string deep = dir_;
    while (deep.size() < 300) deep += "/deeper";
    ASSERT_EQ(0, system(("mkdir -p '" + deep + "'").c_str()));
    MakeExecutable(deep + "/rawshark");
    setenv("PATH", deep.c_str(), 1);
    char small[64] = "";
    int r = PlatformFindRawshark(small, sizeof small);
    // too long for the buffer: never a cut path; /usr/bin/rawshark may follow
    EXPECT_TRUE(r == 0 ? small[0] == '\0' : std::string(small) == "/usr/bin/rawshark") << small;
}
