// SPDX-License-Identifier: GPL-2.0-or-later
// Filter sets: defaults, the ".fs" reader over well-formed, odd and broken
// files (with its log lines), and the writer's exact bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <csignal>
#include <random>
#include <sys/resource.h>
#include <string>
#include <vector>

#include "filterset/filterset.h"
#include "shell/debuglog.h"
#include "support/testdir.h"

namespace {

// Runs each test in its own folder with the debug log on, so that the
// reader's log lines can be checked.
class FsTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        cwd_ = new TestCwd(dir_);
        DebugLogEnabled.store(1);
        ResetFilterEntries(entries_, FilterSetMax);
    }
    void TearDown() override {
        DebugLogEnabled.store(0);
        delete cwd_;
    }

    // Writes content as a file and reads it with a fresh reset set.
    int Load(const std::string& content, int max = FilterSetMax) {
        std::string path = dir_ + "/set.fs";
        EXPECT_TRUE(TestFileWrite(path, content));
        remove((dir_ + "/debuglog.txt").c_str());
        ResetFilterEntries(entries_, FilterSetMax);
        return FilterSetLoadFilterSet(path.c_str(), entries_, max);
    }

    // The reader's log lines after "FilterSetLoadFilterSet() info,", the
    // first one (the path) left out.
    std::vector<std::string> LogLines() {
        std::vector<std::string> lines;
        std::string log = TestFileRead(dir_ + "/debuglog.txt");
        const std::string marker = "FilterSetLoadFilterSet() info,";
        size_t pos = 0;
        bool first = true;
        while (pos < log.size()) {
            size_t end = log.find('\n', pos);
            if (end == std::string::npos) end = log.size();
            std::string line = log.substr(pos, end - pos);
            pos = end + 1;
            size_t m = line.find(marker);
            if (m == std::string::npos) continue;
            if (first) {
                first = false;
                continue;
            }
            lines.push_back(line.substr(m + marker.size()));
        }
        return lines;
    }

    void ExpectEntry(int i, const char* text, int32_t unit, int32_t autoScale, int64_t scale, int32_t autoColor,
                     uint32_t color) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(text, entries_[i].filterText);
        EXPECT_EQ(unit, entries_[i].unit);
        EXPECT_EQ(autoScale, entries_[i].autoScale);
        EXPECT_EQ(scale, entries_[i].scale);
        EXPECT_EQ(autoColor, entries_[i].autoColor);
        EXPECT_EQ(color, entries_[i].color);
    }

    std::string dir_;
    TestCwd* cwd_ = nullptr;
    FilterEntry entries_[FilterSetMax];
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(FilterEntries, ResetGivesEachPositionItsDefault) {
    const uint32_t expected[16] = {0x00ff00, 0xff0000, 0xffff00, 0xff00ff, 0x00ffff, 0xff8000, 0x00ff80, 0xc0c0c0,
                                   0x008000, 0x800000, 0x808000, 0x800080, 0x008080, 0x804000, 0x008040, 0x808080};
    FilterEntry e[FilterSetMax];
    memset(e, 0x77, sizeof e);
    ResetFilterEntries(e, FilterSetMax);
    for (int i = 0; i < FilterSetMax; ++i) {
        EXPECT_EQ(expected[i], DefaultFilterColors[i]);
        EXPECT_STREQ("", e[i].filterText);
        EXPECT_EQ(1, e[i].autoColor);
        EXPECT_EQ(expected[i], e[i].color);
        EXPECT_EQ(1, e[i].autoScale);
        EXPECT_EQ(0, e[i].scale);
        EXPECT_EQ(UnitBps, e[i].unit);
    }
    EXPECT_STREQ("byte", FilterUnitKeyword(0));
    EXPECT_STREQ("bps", FilterUnitKeyword(1));
    EXPECT_STREQ("packet", FilterUnitKeyword(2));
    EXPECT_STREQ("pps", FilterUnitKeyword(3));
    EXPECT_STREQ("bps", FilterUnitKeyword(4));
    EXPECT_STREQ("bps", FilterUnitKeyword(-1));
}

TEST_F(FsTest, WellFormedLinesGiveTheirFields) {
    ASSERT_EQ(3, Load("\"tcp\",bps,,\r\n"
                      "\"tcp\",packet,100,0xff8000\r\n"
                      "\"ip.src == 10.0.0.1 and udp\",byte,-5,0x0000ff\r\n"));
    ExpectEntry(0, "tcp", UnitBps, 1, 0, 1, 0x00ff00);
    ExpectEntry(1, "tcp", UnitPacket, 0, 100, 0, 0xff8000);
    ExpectEntry(2, "ip.src == 10.0.0.1 and udp", UnitByte, 0, -5, 0, 0x0000ff);
    EXPECT_EQ((Lines{"1,\"tcp\",bps,0,auto", "2,\"tcp\",packet,100,0xff8000",
                     "3,\"ip.src == 10.0.0.1 and udp\",byte,-5,0x0000ff"}),
              LogLines());
}

TEST_F(FsTest, CommentsBlanksAndEmptyFilesGiveNoEntries) {
    EXPECT_EQ(0, Load(""));
    EXPECT_EQ(Lines{}, LogLines());
    EXPECT_EQ(0, Load("# a comment\n\n   \t\n\r\n  # indented\n   "));
    EXPECT_EQ((Lines{"1,skip", "2,skip", "3,skip", "4,skip", "5,skip", "6,skip"}), LogLines());
}

TEST_F(FsTest, MissingTrailingFieldsAreAutomatic) {
    ASSERT_EQ(4, Load("   \"tcp\"\n"
                      "\"udp\",PACKETS\n"
                      "\"arp\",pps,250\n"
                      "\"dns\" ignored text ,Bytes,0,\n"));
    ExpectEntry(0, "tcp", UnitBps, 1, 0, 1, 0x00ff00);
    ExpectEntry(1, "udp", UnitPacket, 1, 0, 1, 0xff0000);
    ExpectEntry(2, "arp", UnitPps, 0, 250, 1, 0xffff00);
    ExpectEntry(3, "dns", UnitByte, 1, 0, 1, 0xff00ff);
    EXPECT_EQ((Lines{"1,\"tcp\",bps,auto,auto", "2,\"udp\",packet,auto,auto", "3,\"arp\",pps,250,auto",
                     "4,\"dns\",byte,0,auto"}),
              LogLines());
}

TEST_F(FsTest, UnitKeywordsMatchByTheirBeginning) {
    ASSERT_EQ(7, Load("\"a\",Bytes\n\"b\",PPS\n\"c\",kbps\n\"d\",\n\"e\", \t packet\n\"f\",bp\n\"g\",BPSX\n"));
    const int32_t units[] = {UnitByte, UnitPps, UnitBps, UnitBps, UnitPacket, UnitBps, UnitBps};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(units[i], entries_[i].unit) << i;
}

TEST_F(FsTest, ScaleAndColourFieldsThatAreNotNumbersAreAutomatic) {
    ASSERT_EQ(7, Load("\"a\",bps,0,\n"
                      "\"b\",bps,auto,auto\n"
                      "\"c\",bps, 42kb ,0XFF0000\n"
                      "\"d\",bps,,0x1ff8000\n"
                      "\"e\",bps,-5,255\n"
                      "\"f\",bps,7,  0xFFFFFFFFFFFF\n"
                      "\"g\",bps,99999999999999999999,0xzz\n"));
    ExpectEntry(0, "a", UnitBps, 1, 0, 1, DefaultFilterColors[0]);
    ExpectEntry(1, "b", UnitBps, 1, 0, 1, DefaultFilterColors[1]);
    ExpectEntry(2, "c", UnitBps, 0, 42, 1, DefaultFilterColors[2]);  // capital X is not a colour
    ExpectEntry(3, "d", UnitBps, 1, 0, 0, 0xff8000);                 // low 24 bits only
    ExpectEntry(4, "e", UnitBps, 0, -5, 1, DefaultFilterColors[4]);
    ExpectEntry(5, "f", UnitBps, 0, 7, 0, 0xffffff);  // too large saturates
    ExpectEntry(6, "g", UnitBps, 0, INT64_MAX, 0, 0x000000);
    EXPECT_EQ((Lines{"1,\"a\",bps,0,auto", "2,\"b\",bps,0,auto", "3,\"c\",bps,42,auto", "4,\"d\",bps,0,0xff8000",
                     "5,\"e\",bps,-5,auto", "6,\"f\",bps,7,0xffffff", "7,\"g\",bps,9223372036854775807,0x000000"}),
              LogLines());
}

TEST_F(FsTest, HashEndsTheRecord) {
    ASSERT_EQ(4, Load("\"a\",byte # note,100\n"
                      "\"b\" # ,byte\n"
                      "\"c\",packet,100 # ,0xff0000\n"
                      "\"d#e\",pps,5,0x00ff00 # tail\n"));
    ExpectEntry(0, "a", UnitByte, 1, 0, 1, DefaultFilterColors[0]);
    ExpectEntry(1, "b", UnitBps, 1, 0, 1, DefaultFilterColors[1]);
    ExpectEntry(2, "c", UnitPacket, 0, 100, 1, DefaultFilterColors[2]);
    ExpectEntry(3, "d#e", UnitPps, 0, 5, 0, 0x00ff00);
    EXPECT_EQ((Lines{"1,\"a\",byte,auto,auto", "2,\"b\",bps,auto,auto", "3,\"c\",packet,100,auto",
                     "4,\"d#e\",pps,5,0x00ff00"}),
              LogLines());
}

TEST_F(FsTest, LinesWithoutAProperQuotedTextAreSkipped) {
    ASSERT_EQ(2, Load("tcp,bps,,\n"  // unquoted
                      "\"no closing quote,bps\n"
                      "\"\",byte\n"  // empty filter text is an entry
                      "x\"udp\",bps\n"
                      "\"  spaced  \"\n"));
    ExpectEntry(0, "", UnitByte, 1, 0, 1, DefaultFilterColors[0]);
    ExpectEntry(1, "  spaced  ", UnitBps, 1, 0, 1, DefaultFilterColors[1]);
    EXPECT_EQ((Lines{"1,skip", "2,skip", "3,\"\",byte,auto,auto", "4,skip", "5,\"  spaced  \",bps,auto,auto"}),
              LogLines());
}

TEST_F(FsTest, ReadingStopsAtTheMaximumWithoutParsingFurther) {
    std::string content;
    for (int i = 0; i < 20; ++i) content += "\"f" + std::to_string(i) + "\",packet,,\n";
    ASSERT_EQ(16, Load(content));
    EXPECT_STREQ("f15", entries_[15].filterText);
    Lines log = LogLines();
    ASSERT_EQ(16u, log.size());
    EXPECT_EQ("16,\"f15\",packet,0,auto", log.back());

    ASSERT_EQ(2, Load(content, 2));
    EXPECT_STREQ("", entries_[2].filterText);  // untouched
    EXPECT_EQ(0, Load(content, 0));
    EXPECT_EQ(0, Load(content, -3));
}

TEST_F(FsTest, LongLinesAreReadInPiecesOf255) {
    // 254 characters before the line end: one piece.
    std::string text254(248, 'a');  // "x" + 248 + "x",bps = 254
    std::string line254 = "\"" + text254 + "\",bps";
    ASSERT_EQ(254u, line254.size());
    ASSERT_EQ(2, Load(line254 + "\r\n\"next\"\r\n"));
    EXPECT_EQ(text254, entries_[0].filterText);
    EXPECT_EQ((Lines{"1,\"" + text254 + "\",bps,auto,auto", "2,\"next\",bps,auto,auto"}), LogLines());

    // 255 characters: the line end comes as a piece of its own.
    ASSERT_EQ(2, Load(line254 + "x\n\"next\"\n"));
    EXPECT_EQ((Lines{"1,\"" + text254 + "\",bps,auto,auto", "2,skip", "3,\"next\",bps,auto,auto"}), LogLines());

    // Fields beyond the cut take their automatic values; the rest of the line
    // is a piece that counts as a line of its own.
    std::string text(240, 't');
    std::string cut = "\"" + text + "\",packet,100,0xff0000\n";  // the colour lies beyond 255
    ASSERT_EQ(2, Load(cut + "\"next\"\n"));
    ExpectEntry(0, text.c_str(), UnitPacket, 0, 100, 1, DefaultFilterColors[0]);
    ExpectEntry(1, "next", UnitBps, 1, 0, 1, DefaultFilterColors[1]);
    EXPECT_EQ((Lines{"1,\"" + text + "\",packet,100,auto", "2,skip", "3,\"next\",bps,auto,auto"}), LogLines());

    // A closing quote beyond the cut: skipped. A piece that happens to start
    // with a quote is read as an entry of its own.
    std::string longText(300, 'q');
    ASSERT_EQ(0, Load("\"" + longText + "\",bps\n"));
    EXPECT_EQ((Lines{"1,skip", "2,skip"}), LogLines());
    ASSERT_EQ(2, Load("\"" + std::string(254, 'w') + "\"tail\",byte\n\"next\"\n"));
    EXPECT_STREQ("tail", entries_[0].filterText);
    EXPECT_EQ(UnitByte, entries_[0].unit);
    EXPECT_EQ((Lines{"1,skip", "2,\"tail\",byte,auto,auto", "3,\"next\",bps,auto,auto"}), LogLines());
}

TEST_F(FsTest, ThousandsOfCharactersAndGarbageNeverBreakTheReader) {
    std::string huge = "\"tcp\",bps,," + std::string(5000, ' ') + "\n" + std::string(8000, '"') + "\n" +
                       std::string(7000, ',') + "\n\"udp\",pps\n";
    int n = Load(huge);
    EXPECT_GE(n, 2);
    EXPECT_LE(n, FilterSetMax);
    EXPECT_STREQ("tcp", entries_[0].filterText);

    std::mt19937 random(12345);
    for (int round = 0; round < 20; ++round) {
        std::string garbage(20000, '\0');
        for (char& c : garbage) c = static_cast<char>(random() & 0xff);
        n = Load(garbage);
        ASSERT_GE(n, 0);
        ASSERT_LE(n, FilterSetMax);
        for (int i = 0; i < n; ++i) {
            EXPECT_LT(strlen(entries_[i].filterText), sizeof entries_[i].filterText);
            EXPECT_GE(entries_[i].unit, 0);
            EXPECT_LE(entries_[i].unit, 3);
            EXPECT_EQ(0u, entries_[i].color >> 24);
        }
    }
    // A NUL byte ends a piece's text for the parser.
    ASSERT_EQ(1, Load(std::string("\"ab", 3) + std::string(1, '\0') + "cd\",byte\n\"x\"\n"));
    EXPECT_STREQ("x", entries_[0].filterText);
}

TEST_F(FsTest, LfAndCrLfFilesReadAlike) {
    std::string lf = "# c\n\"tcp\",packet,10,0x102030\n\n\"udp\"\n";
    std::string crlf = "# c\r\n\"tcp\",packet,10,0x102030\r\n\r\n\"udp\"\r\n";
    ASSERT_EQ(2, Load(lf));
    FilterEntry fromLf[FilterSetMax];
    memcpy(fromLf, entries_, sizeof entries_);
    Lines lfLog = LogLines();
    ASSERT_EQ(2, Load(crlf));
    EXPECT_EQ(0, memcmp(fromLf, entries_, sizeof entries_));
    EXPECT_EQ(lfLog, LogLines());
    // a lone CR is neither a line end nor dropped
    ASSERT_EQ(1, Load("\"a\r\",byte\n"));
    EXPECT_STREQ("a\r", entries_[0].filterText);
}

TEST_F(FsTest, MissingFileGivesNothingAndLogsNothing) {
    remove((dir_ + "/debuglog.txt").c_str());
    EXPECT_EQ(0, FilterSetLoadFilterSet((dir_ + "/absent.fs").c_str(), entries_, FilterSetMax));
    EXPECT_FALSE(TestPathExists(dir_ + "/debuglog.txt"));
}

TEST_F(FsTest, WriterProducesTheDesignedBytes) {
    FilterEntry e[4];
    ResetFilterEntries(e, 4);
    strcpy(e[0].filterText, "tcp");
    strcpy(e[1].filterText, "tcp");
    e[1].unit = UnitPacket;
    e[1].autoScale = 0;
    e[1].scale = 100;
    e[1].autoColor = 0;
    e[1].color = 0xff8000;
    strcpy(e[2].filterText, "");
    e[2].unit = 7;  // unknown code
    e[2].autoScale = 0;
    e[2].scale = -5;
    strcpy(e[3].filterText, "a b");
    e[3].unit = UnitByte;
    e[3].autoColor = 0;
    e[3].color = 0x0000ff;
    std::string path = dir_ + "/out.fs";
    ASSERT_EQ(1, FilterSetSaveFilterSet(path.c_str(), e, 4));
    EXPECT_EQ(
        "\"tcp\",bps,,\r\n"
        "\"tcp\",packet,100,0xff8000\r\n"
        "\"\",bps,-5,\r\n"
        "\"a b\",byte,,0x0000ff\r\n",
        TestFileRead(path));

    ASSERT_EQ(1, FilterSetSaveFilterSet(path.c_str(), e, 0));
    EXPECT_EQ("", TestFileRead(path));
    EXPECT_TRUE(TestPathExists(path));
    EXPECT_EQ(0, FilterSetLoadFilterSet(path.c_str(), entries_, FilterSetMax));
    ASSERT_EQ(1, FilterSetSaveFilterSet(path.c_str(), e, -1));
    EXPECT_EQ("", TestFileRead(path));

    EXPECT_EQ(0, FilterSetSaveFilterSet((dir_ + "/no/folder/x.fs").c_str(), e, 4));
}

TEST_F(FsTest, WriteThenReadKeepsEveryField) {
    std::mt19937 random(777);
    FilterEntry out[FilterSetMax];
    ResetFilterEntries(out, FilterSetMax);
    const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789 =!<>&|.()[]{}#,'\\\t";
    for (int i = 0; i < FilterSetMax; ++i) {
        FilterEntry& e = out[i];
        size_t len = random() % 200;
        if (i == 0) len = 247;  // the longest text whose line still fits: "247",bps,, is 255
        for (size_t k = 0; k < len; ++k) e.filterText[k] = alphabet[random() % (sizeof alphabet - 1)];
        e.filterText[len] = '\0';
        e.unit = static_cast<int32_t>(random() % 4);
        e.autoScale = random() % 2;
        e.scale = e.autoScale ? 0 : static_cast<int64_t>(random()) - (1LL << 31) + 1;
        if (!e.autoScale && e.scale == 0) e.scale = 1;
        e.autoColor = random() % 2;
        e.color = e.autoColor ? DefaultFilterColors[i] : (random() & 0xffffff);
    }
    out[0].unit = UnitBps;
    out[0].autoScale = 1;
    out[0].autoColor = 1;
    out[0].color = DefaultFilterColors[0];
    out[1].autoScale = 0;
    out[1].scale = INT64_MIN;
    out[2].autoScale = 0;
    out[2].scale = INT64_MAX;

    std::string path = dir_ + "/round.fs";
    ASSERT_EQ(1, FilterSetSaveFilterSet(path.c_str(), out, FilterSetMax));
    ASSERT_EQ(FilterSetMax, FilterSetLoadFilterSet(path.c_str(), entries_, FilterSetMax));
    for (int i = 0; i < FilterSetMax; ++i) {
        ExpectEntry(i, out[i].filterText, out[i].unit, out[i].autoScale, out[i].scale, out[i].autoColor, out[i].color);
    }

    // a fixed scale of 0 comes back automatic
    out[0].autoScale = 0;
    out[0].scale = 0;
    out[0].filterText[10] = '\0';
    ASSERT_EQ(1, FilterSetSaveFilterSet(path.c_str(), out, 1));
    ResetFilterEntries(entries_, FilterSetMax);
    ASSERT_EQ(1, FilterSetLoadFilterSet(path.c_str(), entries_, FilterSetMax));
    EXPECT_EQ(1, entries_[0].autoScale);
}

// A calculation takes the unit's place ("avg(FIELD)", which an earlier
// reader takes for bps) and a style comes as a fifth field only when it is
// not the line, so a set without either keeps its designed bytes.
TEST_F(FsTest, CalculationAndStyleRoundTripInTheirOwnFields) {
    FilterEntry out[3];
    ResetFilterEntries(out, 3);
    snprintf(out[0].filterText, sizeof out[0].filterText, "tcp");
    out[0].calc = CalcAvg;
    snprintf(out[0].calcField, sizeof out[0].calcField, "tcp.analysis.ack_rtt");
    out[0].style = StyleDots;
    out[1].calc = CalcCount;  // an empty filter: every packet
    snprintf(out[1].calcField, sizeof out[1].calcField, "ip.addr");
    out[2].style = StyleBar;
    std::string path = dir_ + "/calc.fs";
    ASSERT_EQ(1, FilterSetSaveFilterSet(path.c_str(), out, 3));
    EXPECT_EQ(TestFileRead(path),
              "\"tcp\",avg(tcp.analysis.ack_rtt),,,dots\r\n\"\",count(ip.addr),,\r\n\"\",bps,,,bar\r\n");
    ASSERT_EQ(3, FilterSetLoadFilterSet(path.c_str(), entries_, FilterSetMax));
    EXPECT_EQ(entries_[0].calc, CalcAvg);
    EXPECT_STREQ(entries_[0].calcField, "tcp.analysis.ack_rtt");
    EXPECT_EQ(entries_[0].style, StyleDots);
    EXPECT_EQ(entries_[0].unit, UnitBps);
    EXPECT_EQ(entries_[1].calc, CalcCount);
    EXPECT_EQ(entries_[2].calc, CalcNone);
    EXPECT_EQ(entries_[2].style, StyleBar);
    // a broken field text stays the field's, for the judge to refuse with its reason
    ASSERT_EQ(2, Load("\"udp\",Max( udp.length ,,0x00ff00\r\n\"x\",sum(,\r\n"));
    EXPECT_EQ(entries_[0].calc, CalcMax);
    EXPECT_STREQ(entries_[0].calcField, "udp.length");
    EXPECT_EQ(entries_[0].color, 0x00ff00u);
    EXPECT_EQ(entries_[1].calc, CalcSum);
    EXPECT_STREQ(entries_[1].calcField, "");
}

// A save that cannot be written in full used to truncate the old file and
// still report success.
TEST_F(FsTest, FailedSaveKeepsTheOldFileAndSaysSo) {
    FilterEntry e[FilterSetMax];
    ResetFilterEntries(e, FilterSetMax);
    strcpy(e[0].filterText, "tcp");
    std::string path = dir_ + "/keep.fs";
    ASSERT_EQ(1, FilterSetSaveFilterSet(path.c_str(), e, 1));
    std::string old = TestFileRead(path);

    for (int i = 0; i < FilterSetMax; ++i) memset(e[i].filterText, 'x', 200);
    rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG
    rlimit small = saved;
    small.rlim_cur = 1000;  // smaller than the new set
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    int result = FilterSetSaveFilterSet(path.c_str(), e, FilterSetMax);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(0, result);
    EXPECT_EQ(old, TestFileRead(path));
    EXPECT_EQ(0, system(("test $(ls -A '" + dir_ + "' | grep -c keep) -eq 1").c_str()));
}
