// SPDX-License-Identifier: GPL-2.0-or-later
// The lumo_offline program's command line, run as a user runs it: --help,
// --version, bad arguments, and the export without a display, whose PNG is
// the very picture the window draws for the same file and size; and the
// window's File > Export, which writes what the command line writes.
#include <QApplication>
#include <QImage>
#include <QWheelEvent>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "graph/drawsurface.h"
#include "graph/drawtext_qt.h"
#include "tools/capgen/capgen.h"
#include "offline/offlinewindow_qt.h"
#include "pipeline/packetstore.h"
#include "qt_test_support.h"
#include "tests/support/offline_support.h"

namespace {

const std::string kProgram = LUMO_BIN_DIR "/lumo_offline";

// Runs lumo_offline with args in a bare environment: no display, data
// folder home. Returns the exit status; stdout and stderr go to out.
int RunProgram(const std::string& home, const std::string& args, std::string* out) {
    std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LUMO_HOME=" + OfflineShellQuote(home) +
                      " " + OfflineShellQuote(kProgram) + " " + args + " 2>&1";
    return OfflineRunCommand(cmd, out);
}

class OfflineProgramTest : public testing::Test {
protected:
    void SetUp() override {
        dir = OfflineScratchDir(testing::UnitTest::GetInstance()->current_test_info()->name());
        home = dir + "/home";
        std::filesystem::create_directories(home);
    }
    void TearDown() override { PacketStoreReset(); }
    std::string dir, home;
};

TEST_F(OfflineProgramTest, HelpVersionAndBadArguments) {
    std::string out;
    EXPECT_EQ(RunProgram(home, "--help", &out), 0);
    for (const char* option : {"--filter-set", "--interval", "--export-csv", "--export-png", "--size", "--version"}) {
        EXPECT_NE(out.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(RunProgram(home, "--version", &out), 0);
    EXPECT_EQ(out, "lumo_offline 0.24.2009.627\n");
    EXPECT_EQ(RunProgram(home, "--export-csv x.csv", &out), 1);
    EXPECT_NE(out.find("an export needs a capture file"), std::string::npos) << out;
    EXPECT_EQ(RunProgram(home, "--bogus", &out), 1);
    EXPECT_NE(out.find("unknown option --bogus"), std::string::npos) << out;
    EXPECT_EQ(RunProgram(home, "--export-png o.png " + OfflineShellQuote(dir + "/missing.pcap"), &out), 1);
    EXPECT_NE(out.find("Error opening the input file: "), std::string::npos) << out;
    // The filter check of the export refuses a filter before reading.
    std::string bad = dir + "/bad.fs";
    std::ofstream(bad, std::ios::binary) << "\"udp\",bps,,\r\n\"tcp.port ==\",bps,,\r\n";
    std::string file = dir + "/one.pcap";
    CapGenMixedParams p;
    CapGenMixedDefaults(&p);
    p.packets = 10;
    ASSERT_EQ(CapGenMixed(file.c_str(), CapGenPcap, &p), 1);
    EXPECT_EQ(RunProgram(home,
                         "--filter-set " + OfflineShellQuote(bad) + " --export-csv " +
                             OfflineShellQuote(dir + "/o.csv") + " " + OfflineShellQuote(file),
                         &out),
              1);
    EXPECT_NE(out.find("filter 2 is not a valid display filter: tcp.port =="), std::string::npos) << out;
    EXPECT_TRUE(std::filesystem::is_empty(home));
}

TEST_F(OfflineProgramTest, PngWithoutDisplayIsTheWindowsPicture) {
    CapGenMixedParams p;
    CapGenMixedDefaults(&p);
    p.packets = 4000;
    p.gapAt = 2000;
    p.gapNs = 3000000000LL;
    p.bigEvery = 300;
    std::string file = dir + "/mixed.pcapng";
    ASSERT_EQ(CapGenMixed(file.c_str(), CapGenPcapng, &p), 1);
    std::string fs = dir + "/set.fs";
    std::ofstream(fs, std::ios::binary) << "\"tcp\",bps,,\r\n\"udp\",packet,,\r\n\"frame.len > 65535\",pps,,\r\n";

    // The window's picture of the file.
    setenv("LUMO_HOME", home.c_str(), 1);
    Settings settings;
    memset(&settings, 0, sizeof settings);
    SettingsLoad(&settings, SettingsLumoOffline);
    DrawSurfaceSetDefaultText(DrawTextQt());
    ModalWatcher watcher;
    auto* window = new OfflineWindow(&settings, fs.c_str());
    ASSERT_EQ(window->CreateAndShow(), 1);
    window->resize(900, 360);
    ASSERT_TRUE(PumpUntil([&] { return window->SurfaceValid() && window->Surface()->width == 900; }, 3000));
    window->SetCurrentCaptureFile(file.c_str());
    window->SendCommand(CmdReloadCaptureFile);
    const int w = window->Surface()->width, h = window->Surface()->height;
    QImage shown(reinterpret_cast<const uchar*>(window->Surface()->pixels), w, h, w * 4, QImage::Format_RGB32);
    shown = shown.copy();
    window->close();
    delete window;

    std::string png = dir + "/graph.png";
    std::string out;
    std::string size = std::to_string(w) + "x" + std::to_string(h);
    ASSERT_EQ(RunProgram(home,
                         "--filter-set " + OfflineShellQuote(fs) + " --export-png " + OfflineShellQuote(png) +
                             " --size " + size + " " + OfflineShellQuote(file),
                         &out),
              0)
        << out;
    QImage saved(QString::fromStdString(png));
    ASSERT_FALSE(saved.isNull());
    ASSERT_EQ(saved.width(), w);
    ASSERT_EQ(saved.height(), h);
    saved = saved.convertToFormat(QImage::Format_RGB32);
    int differing = 0;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) differing += (saved.pixel(x, y) & 0xffffff) != (shown.pixel(x, y) & 0xffffff);
    }
    EXPECT_EQ(differing, 0);
    // The picture holds the legend boxes in the filters' colours.
    EXPECT_EQ(saved.pixel(10, 10) & 0xffffff, DefaultFilterColors[0]);
    EXPECT_EQ(saved.pixel(10, 26) & 0xffffff, DefaultFilterColors[1]);

    // Default size, CSV beside it.
    ASSERT_EQ(RunProgram(home,
                         "--filter-set " + OfflineShellQuote(fs) + " --export-png " + OfflineShellQuote(png) +
                             " --export-csv " + OfflineShellQuote(dir + "/o.csv") + " " + OfflineShellQuote(file),
                         &out),
              0)
        << out;
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(1280, 480));
    EXPECT_TRUE(std::filesystem::file_size(dir + "/o.csv") > 0);
}

// Fault: the window writes what it shows (zoom, scroll) or its own CSV
// instead of what the command line writes for the file; a failed write must
// say so and leave no file.
TEST_F(OfflineProgramTest, WindowExportsWriteWhatTheCommandLineWrites) {
    CapGenMixedParams p;
    CapGenMixedDefaults(&p);
    p.packets = 3000;
    std::string file = dir + "/mixed.pcap";
    ASSERT_EQ(CapGenMixed(file.c_str(), CapGenPcap, &p), 1);
    std::string fs = dir + "/set.fs";
    std::ofstream(fs, std::ios::binary) << "\"tcp\",bps,,\r\n\"udp\",packet,,\r\n";

    // A window closed before (another test's) told the application to quit,
    // which makes modal loops return at once until an application loop ran.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    setenv("LUMO_HOME", home.c_str(), 1);
    Settings settings;
    memset(&settings, 0, sizeof settings);
    SettingsLoad(&settings, SettingsLumoOffline);
    DrawSurfaceSetDefaultText(DrawTextQt());
    ModalWatcher watcher;
    auto* window = new OfflineWindow(&settings, fs.c_str());
    ASSERT_EQ(window->CreateAndShow(), 1);
    window->resize(700, 300);
    ASSERT_TRUE(PumpUntil([&] { return window->SurfaceValid() && window->Surface()->width == 700; }, 3000));
    window->SendCommand(CmdExportPng);  // nothing loaded: no dialog
    ASSERT_EQ(watcher.shown.size(), 1u);
    EXPECT_EQ(watcher.shown[0].text, "Open a capture file first.");
    EXPECT_EQ(watcher.shown[0].icon, QMessageBox::Information);

    window->SetCurrentCaptureFile(file.c_str());
    window->SendCommand(CmdReloadCaptureFile);
    QWheelEvent wheel(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, -240), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(window->SurfaceWidget(), &wheel);  // the screen no longer shows the whole file
    watcher.shown.clear();
    watcher.Then(ModalWatcher::ChooseFile(QString::fromStdString(dir + "/window")));  // ".csv" is added
    window->SendCommand(CmdExportCsv);
    watcher.Then(ModalWatcher::ChooseFile(QString::fromStdString(dir + "/window.png")));
    window->SendCommand(CmdExportPng);
    watcher.Then(ModalWatcher::ChooseFile(QString::fromStdString(dir + "/missing/w.csv")));
    window->SendCommand(CmdExportCsv);
    ASSERT_EQ(watcher.shown.size(), 4u);
    EXPECT_EQ(watcher.shown[0].objectName, "exportCsvDialog");
    EXPECT_EQ(watcher.shown[1].objectName, "exportPngDialog");
    EXPECT_EQ(watcher.shown[3].title, "Lumo_offline");
    EXPECT_EQ(watcher.shown[3].icon, QMessageBox::Critical);
    EXPECT_EQ(watcher.shown[3].text.rfind("cannot create " + dir + "/missing/w.csv", 0), 0u) << watcher.shown[3].text;
    EXPECT_FALSE(std::filesystem::exists(dir + "/missing"));
    window->close();
    delete window;

    std::string out;
    ASSERT_EQ(
        RunProgram(home,
                   "--filter-set " + OfflineShellQuote(fs) + " --export-csv " + OfflineShellQuote(dir + "/cli.csv") +
                       " --export-png " + OfflineShellQuote(dir + "/cli.png") + " " + OfflineShellQuote(file),
                   &out),
        0)
        << out;
    auto bytes = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    EXPECT_GT(bytes(dir + "/cli.csv").size(), 100u);
    EXPECT_TRUE(bytes(dir + "/window.csv") == bytes(dir + "/cli.csv"));
    EXPECT_TRUE(bytes(dir + "/window.png") == bytes(dir + "/cli.png"));
}

}  // namespace

int main(int argc, char** argv) { return QtTestMain(argc, argv); }
