// SPDX-License-Identifier: GPL-2.0-or-later
// Private-profile reading and writing: Windows rules over odd and broken
// files, in memory and on disk.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/profile.h"
#include "support/testdir.h"

namespace {

std::string Get(const std::string& text, const char* section, const char* key, const char* def = "DEF",
                size_t size = 256) {
    char out[256];
    ProfileTextGetString(text.data(), text.size(), section, key, def, out, size);
    return out;
}

int GetInt(const std::string& text, const char* section, const char* key, int def = -99) {
    return ProfileTextGetInt(text.data(), text.size(), section, key, def);
}

std::string Set(std::string text, const char* section, const char* key, const char* value) {
    EXPECT_EQ(1, ProfileTextWriteString(&text, section, key, value));
    return text;
}

}  // namespace

TEST(ProfileRead, NamesMatchWithoutCaseAndBlanksAroundDoNotCount) {
    std::string text =
        "; comment\n"
        "  [lUMo]  \r\n"
        "\tTopMost   =   1  \r\n"
        "  nic_name=  eth0 with blanks \t\r\n"
        "back_color=0xFF0000\n";
    EXPECT_EQ("1", Get(text, "Lumo", "topmost"));
    EXPECT_EQ(1, GetInt(text, "LUMO", "TOPMOST"));
    EXPECT_EQ("eth0 with blanks", Get(text, "Lumo", "nic_name"));
    EXPECT_EQ("0xFF0000", Get(text, "lumo", "back_color"));
}

TEST(ProfileRead, FirstSectionAndFirstKeyWin) {
    std::string text =
        "[Lumo]\n"
        "topmost=1\n"
        "TOPMOST=2\n"
        "[Other]\n"
        "size_x=7\n"
        "[LUMO]\n"
        "topmost=3\n"
        "size_x=9\n";
    EXPECT_EQ(1, GetInt(text, "Lumo", "topmost"));
    // a key only in a later section of the same name is not seen
    EXPECT_EQ(-99, GetInt(text, "Lumo", "size_x"));
    EXPECT_EQ(7, GetInt(text, "Other", "size_x"));
}

TEST(ProfileRead, MissingFileSectionOrKeyGivesDefault) {
    std::string text = "[Lumo]\ntopmost=1\n";
    EXPECT_EQ("DEF", Get(text, "Nope", "topmost"));
    EXPECT_EQ("DEF", Get(text, "Lumo", "nope"));
    EXPECT_EQ(5, GetInt(text, "Lumo", "nope", 5));
    EXPECT_EQ("DEF", Get("", "Lumo", "topmost"));
    // keys before any section belong to no section
    EXPECT_EQ("DEF", Get("topmost=1\n[Lumo]\n", "Lumo", "topmost"));

    char out[16];
    std::string missing = TestDirNew() + "/absent.ini";
    EXPECT_EQ(3u, ProfileGetString("Lumo", "topmost", "abc", out, sizeof out, missing.c_str()));
    EXPECT_STREQ("abc", out);
    EXPECT_EQ(42, ProfileGetInt("Lumo", "topmost", 42, missing.c_str()));
    EXPECT_FALSE(TestPathExists(missing));
}

TEST(ProfileRead, IntegersReadLikeGetPrivateProfileInt) {
    std::string text =
        "[S]\n"
        "plain=123\n"
        "trailing=12abc\n"
        "letters=abc\n"
        "empty=\n"
        "blanks=   \n"
        "negative= -7\n"
        "plus=+3\n"
        "hex=0x10\n"
        "wraps=4294967297\n"
        "quoted=\"5\"\n"
        "twosigns=+-4\n";
    EXPECT_EQ(123, GetInt(text, "S", "plain"));
    EXPECT_EQ(12, GetInt(text, "S", "trailing"));
    EXPECT_EQ(0, GetInt(text, "S", "letters"));
    EXPECT_EQ(-99, GetInt(text, "S", "empty"));
    EXPECT_EQ(-99, GetInt(text, "S", "blanks"));
    EXPECT_EQ(-7, GetInt(text, "S", "negative"));
    EXPECT_EQ(3, GetInt(text, "S", "plus"));
    EXPECT_EQ(0, GetInt(text, "S", "hex"));
    EXPECT_EQ(1, GetInt(text, "S", "wraps"));
    EXPECT_EQ(5, GetInt(text, "S", "quoted"));
    EXPECT_EQ(0, GetInt(text, "S", "twosigns"));
}

TEST(ProfileRead, ValuesAreUnquotedAndCutToTheBuffer) {
    std::string longValue(10000, 'v');
    std::string text =
        "[S]\nq=\"a b\"\nhalf=\"a b\nlone=\"\nlong=" + longValue + "\nnul=ab" + std::string(1, '\0') + "cd\neq=a=b\n";
    EXPECT_EQ("a b", Get(text, "S", "q"));
    EXPECT_EQ("\"a b", Get(text, "S", "half"));
    EXPECT_EQ("\"", Get(text, "S", "lone"));
    EXPECT_EQ("ab", Get(text, "S", "nul"));
    EXPECT_EQ("a=b", Get(text, "S", "eq"));

    char out[256];
    EXPECT_EQ(255u, ProfileTextGetString(text.data(), text.size(), "S", "long", "", out, sizeof out));
    EXPECT_EQ(std::string(255, 'v'), out);
    char tiny[4];
    EXPECT_EQ(3u, ProfileTextGetString(text.data(), text.size(), "S", "q", "", tiny, sizeof tiny));
    EXPECT_STREQ("a b", tiny);
}

TEST(ProfileRead, BrokenLinesAndGarbageAreIgnored) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xff);
    std::string text = garbage +
                       "\n[Lumo\n"    // no closing bracket: not a section
                       "topmost=5\n"  // still outside any section
                       "[]\n"         // a nameless section
                       "=3\n"         // a key without a name
                       "justtext\n"
                       "[Lumo]junk after\n"
                       "novalue\n"
                       "topmost=1\n" +
                       std::string(5000, 'x') + "\n" + garbage + "\nsize_x=4";  // last line without line end
    EXPECT_EQ(1, GetInt(text, "Lumo", "topmost"));
    EXPECT_EQ(4, GetInt(text, "Lumo", "size_x"));
    EXPECT_EQ(-99, GetInt(text, "Lumo", "novalue"));
}

TEST(ProfileWrite, ReplacingAKeyKeepsEveryOtherByte) {
    std::string text =
        "; my notes\r\n"
        "[Lumo]\r\n"
        "  TopMost =  0 ; old\r\n"
        "size_x=5\r\n"
        "\r\n"
        "[Other]\r\n"
        "topmost=9\r\n";
    std::string after = Set(text, "LUMO", "topmost", "1");
    EXPECT_EQ(
        "; my notes\r\n"
        "[Lumo]\r\n"
        "TopMost=1\r\n"
        "size_x=5\r\n"
        "\r\n"
        "[Other]\r\n"
        "topmost=9\r\n",
        after);
}

TEST(ProfileWrite, NewKeyGoesAfterTheLastLineOfItsSection) {
    std::string text =
        "[Lumo]\n"
        "size_x=5\n"
        "\n"
        "[Other]\n"
        "a=1\n";
    EXPECT_EQ(
        "[Lumo]\n"
        "size_x=5\n"
        "size_y=6\n"
        "\n"
        "[Other]\n"
        "a=1\n",
        Set(text, "Lumo", "size_y", "6"));
    // the section as the last line, without a line end
    EXPECT_EQ("[Lumo]\nk=v\n", Set("[Lumo]", "Lumo", "k", "v"));
    EXPECT_EQ("[Lumo]\r\nk=v\r\n", Set("[Lumo]\r\n", "Lumo", "k", "v"));
}

TEST(ProfileWrite, NewSectionIsAppendedWithTheFilesLineEnd) {
    EXPECT_EQ("[Lumo]\nk=v\n", Set("", "Lumo", "k", "v"));
    EXPECT_EQ("[A]\r\nx=1\r\n[Lumo]\r\nk=v\r\n", Set("[A]\r\nx=1\r\n", "Lumo", "k", "v"));
    EXPECT_EQ("[A]\nx=1\n[Lumo]\nk=v\n", Set("[A]\nx=1", "Lumo", "k", "v"));
}

TEST(ProfileWrite, ValuesThatWouldBreakTheFileAreRefused) {
    std::string text = "[Lumo]\nk=v\n";
    std::string copy = text;
    EXPECT_EQ(0, ProfileTextWriteString(&copy, "Lumo", "k", "a\n[Evil]\nx=1"));
    EXPECT_EQ(0, ProfileTextWriteString(&copy, "Lumo", "k", "a\rb"));
    EXPECT_EQ(0, ProfileTextWriteString(&copy, "Lumo", "a=b", "1"));
    EXPECT_EQ(0, ProfileTextWriteString(&copy, "Lumo", "[x", "1"));
    EXPECT_EQ(0, ProfileTextWriteString(&copy, "Lu]mo", "k", "1"));
    EXPECT_EQ(0, ProfileTextWriteString(&copy, "Lumo", "", "1"));
    EXPECT_EQ(text, copy);
}

TEST(ProfileFile, WritesReplaceTheFileAndReadBack) {
    std::string dir = TestDirNew();
    std::string path = dir + "/lumo.ini";
    ASSERT_TRUE(TestFileWrite(path, "# kept\r\n[Lumo]\r\nsize_x=1\r\n"));
    chmod(path.c_str(), 0640);

    EXPECT_EQ(1, ProfileWriteString("Lumo", "size_x", "640", path.c_str()));
    const char* keys[] = {"b", "a", "size_x"};
    const char* values[] = {"2", "1", "641"};
    EXPECT_EQ(1, ProfileWriteStrings("Lumo", keys, values, 3, path.c_str()));
    EXPECT_EQ("# kept\r\n[Lumo]\r\nsize_x=641\r\nb=2\r\na=1\r\n", TestFileRead(path));
    EXPECT_EQ(641, ProfileGetInt("lumo", "SIZE_X", 0, path.c_str()));

    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    // nothing is left beside the file
    EXPECT_EQ(0, system(("test $(ls -A '" + dir + "' | wc -l) -eq 1").c_str()));

    // one refused pair leaves the file untouched
    const char* bad[] = {"size_x", "c"};
    const char* badValues[] = {"1", "x\ny"};
    EXPECT_EQ(0, ProfileWriteStrings("Lumo", bad, badValues, 2, path.c_str()));
    EXPECT_EQ("# kept\r\n[Lumo]\r\nsize_x=641\r\nb=2\r\na=1\r\n", TestFileRead(path));
}

TEST(ProfileFile, SymbolicLinkStaysALink) {
    std::string dir = TestDirNew();
    ASSERT_TRUE(TestFileWrite(dir + "/real.ini", "[Lumo]\nk=1\n"));
    ASSERT_EQ(0, symlink("real.ini", (dir + "/link.ini").c_str()));
    EXPECT_EQ(1, ProfileWriteString("Lumo", "k", "2", (dir + "/link.ini").c_str()));
    struct stat st;
    ASSERT_EQ(0, lstat((dir + "/link.ini").c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ("[Lumo]\nk=2\n", TestFileRead(dir + "/real.ini"));
}

TEST(ProfileFile, MissingFolderOrUnreadableFileFailsWithoutDamage) {
    std::string dir = TestDirNew();
    EXPECT_EQ(0, ProfileWriteString("Lumo", "k", "1", (dir + "/no/such/folder/x.ini").c_str()));
    // a folder where the file should be is neither read nor replaced
    ASSERT_EQ(0, mkdir((dir + "/x.ini").c_str(), 0755));
    EXPECT_EQ(0, ProfileWriteString("Lumo", "k", "1", (dir + "/x.ini").c_str()));
    struct stat st;
    ASSERT_EQ(0, stat((dir + "/x.ini").c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}
