// SPDX-License-Identifier: GPL-2.0-or-later
// lumowindow_qt_test.cpp - the live grapher's window on the offscreen
// platform, run through its real entry (LumoRun) in this process: first-run
// placement and the settings written on a normal exit, a refused start, the
// legend clicks and double-click, the filter commands and their
// prerequisite, drops, Always on Top, Pause with the exports of the held
// graph, and (as root) an end-to-end run on
// "lo" with two real rawshark filters, a dump and a failed dump. The real
// program file is also started once and ended with SIGTERM.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <arpa/inet.h>
#include <cstdlib>
#include <fstream>
#include <cstring>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../support/testdir.h"
#include "capture/capture.h"
#include "graph/graph.h"
#include "pipeline/rawsharkmngr_internal.h"
#include "platform/platform.h"
#include "qt_test_support.h"
#include "platform/filedialogs.h"
#include "shell/lumoapp_qt.h"
#include "shell/lumowindow_qt.h"
#include "../support/udp.h"

namespace {

// ---------------------------------------------------------------- helpers

uint64_t Matched(int n) {
    RawsharkEntry* entry = RawsharkMngrEntry(n);
    return entry ? entry->counter.matchedPackets.load() : 0;
}

// Keys of the ini file in file order.
std::vector<std::string> IniKeys(const std::string& text) {
    std::vector<std::string> keys;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        size_t eq = line.find('=');
        if (eq != std::string::npos && line[0] != '[' && line[0] != ';') keys.push_back(line.substr(0, eq));
    }
    return keys;
}

std::string IniValue(const std::string& text, const std::string& key) {
    size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos) return "";
    at += key.size() + 2;
    size_t end = text.find_first_of("\r\n", at);
    return text.substr(at, end - at);
}

// Pixels of colour in the surface right of the legend strip.
int PixelsOfColour(DrawSurface* s, uint32_t colour, int fromX) {
    int n = 0;
    for (int y = 0; y < s->height; ++y) {
        for (int x = fromX; x < s->width; ++x) n += (s->pixels[y * s->width + x] & 0xffffff) == colour;
    }
    return n;
}

// Counts the records of a pcap file sent to UDP port `port` (Ethernet or
// cooked headers are skipped by matching the port bytes after the IP header).
int PcapRecordsToPort(const std::string& path, int port, int* records, int* linkType) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(path.c_str(), error);
    if (!p) return -1;
    *linkType = pcap_datalink(p);
    *records = 0;
    int matched = 0;
    pcap_pkthdr* h;
    const u_char* data;
    while (pcap_next_ex(p, &h, &data) == 1) {
        ++*records;
        const int ip = 14;  // Ethernet (lo has link type 1)
        if (h->caplen < ip + 24 || data[ip + 9] != 17) continue;
        const int ihl = (data[ip] & 0x0f) * 4;
        const int dport = (data[ip + ihl + 2] << 8) | data[ip + ihl + 3];
        matched += dport == port;
    }
    pcap_close(p);
    return matched;
}

// Processes events until the window has drawn a frame after the call (live
// and not paused, every frame reads a new "now").
bool PumpNextFrame(const LumoWindow* window) {
    const int64_t before = window->FrameNow();
    return PumpUntil([&] { return GraphLastFrame()->drawn && window->FrameNow() != before; }, 5000);
}

int NoInterface(int, InterfaceInfo*) { return 0; }
int LibraryFails(int, InterfaceInfo*) { return -1; }

// Runs lumo's entry; body runs inside its event loop once the window is
// shown, and the window is closed afterwards if body left it open.
int RunLumo(const std::function<void(LumoWindow*)>& body) {
    QTimer::singleShot(0, [body] {
        ASSERT_TRUE(PumpUntil([] { return LumoMainWindow() && LumoMainWindow()->isVisible(); }, 10000));
        LumoWindow* window = LumoMainWindow();
        body(window);
        if (LumoMainWindow() && LumoMainWindow()->isVisible()) LumoMainWindow()->close();
    });
    return LumoRun();
}

class LumoWindowTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        setenv("LUMO_HOME", dir_.c_str(), 1);
        PlatformSetProgramFolder(LUMO_BIN_DIR);
        FileDialogForgetAll();
    }
    void TearDown() override {
        CaptureSetInterfaceListHook(nullptr);
        PlatformSetProgramFolder(nullptr);
        unsetenv("LUMO_HOME");
    }
    std::string Ini() { return TestFileRead(dir_ + "/lumo.ini"); }
    void WriteIni(const std::string& extra) {
        ASSERT_TRUE(TestFileWrite(dir_ + "/lumo.ini", "[Lumo]\nrawshark_path=/usr/bin/rawshark\n" + extra));
    }
    // Two filters on the given ports, packets as the unit, automatic scale
    // and colour (green, red).
    void WriteStartupSet(int portA, int portB) {
        ASSERT_TRUE(TestFileWrite(dir_ + "/startupfilterset.fs",
                                  "\"udp.dstport == " + std::to_string(portA) + "\",packet\r\n" +
                                      "\"udp.dstport == " + std::to_string(portB) + "\",packet\r\n"));
    }
    std::string dir_;
};

// ---------------------------------------------------------------- start and exit

TEST_F(LumoWindowTest, FirstRunGivesDefaultWindowAndNormalExitWritesEveryKeyInOrder) {
    QSize size;
    QString title;
    QStringList menus;
    int rc = RunLumo([&](LumoWindow* window) {
        size = window->size();
        title = window->windowTitle();
        for (QAction* a : window->menuBar()->actions()) menus << a->text();
        EXPECT_TRUE(window->RedrawTimer()->isActive());
        EXPECT_EQ(window->RedrawTimer()->interval(), 20);
        EXPECT_FALSE(window->CommandAction(CmdDumpStart) == nullptr);
        EXPECT_TRUE(window->CommandAction(CmdDumpStart)->isEnabled());
        EXPECT_FALSE(window->CommandAction(CmdDumpStop)->isEnabled());
        EXPECT_EQ(window->CommandAction(CmdSaveFilterSet)->text(), "Save filter set(&S)");
        window->SendCommand(CmdExit);
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(size, QSize(320, 240));
    EXPECT_EQ(title, "Lumo");
    EXPECT_EQ(menus, QStringList({"File(&F)", "Edit(&E)", "Dump(&D)"}));

    const std::string ini = Ini();
    const std::vector<std::string> want = {"debug_mode",
                                           "position_x",
                                           "position_y",
                                           "size_x",
                                           "size_y",
                                           "topmost",
                                           "draw_interval",
                                           "sampling_interval",
                                           "back_color",
                                           "line_color",
                                           "char_color",
                                           "rawshark_path",
                                           "enable_MAC_address_resolution",
                                           "enable_network_address_resolution",
                                           "enable_transport_layer_port_number_resolution",
                                           "enable_concurrent_asynchronous_DNS_lookups",
                                           "nic_name",
                                           "promiscuous_mode",
                                           "enable_limit_bytes",
                                           "limit_bytes",
                                           "timeout",
                                           "capture_filter",
                                           "one_pass",
                                           "time_of_day",
                                           "log_scale",
                                           "moving_average",
                                           "judges"};
    EXPECT_EQ(IniKeys(ini), want);
    EXPECT_EQ(IniValue(ini, "size_x"), "320");
    EXPECT_EQ(IniValue(ini, "size_y"), "240");
    InterfaceInfo first[16];
    ASSERT_GT(CaptureGetInterfaceList(16, first), 0);
    EXPECT_EQ(IniValue(ini, "nic_name"), first[0].name);  // no saved name: the first interface
}

TEST_F(LumoWindowTest, RefusedStartShowsOneBoxReturnsZeroAndSavesNothing) {
    WriteIni("size_x=500\nsize_y=400\n; kept as it is\n");
    ASSERT_TRUE(TestFileWrite(dir_ + "/startupfilterset.fs", "\"udp\"\r\n"));
    const std::string before = Ini();
    const struct {
        CaptureInterfaceListFn hook;
        const char* text;
    } cases[] = {{&NoInterface, "Network Interface is not found."}, {&LibraryFails, "pcap_findalldevs() error"}};
    for (const auto& c : cases) {
        CaptureSetInterfaceListHook(c.hook);
        ModalWatcher watcher;
        watcher.screenshotPrefix = "refused_start";
        EXPECT_EQ(LumoRun(), 0);
        ASSERT_EQ(watcher.shown.size(), 1u) << c.text;
        EXPECT_EQ(watcher.shown[0].text, c.text);
        EXPECT_EQ(watcher.shown[0].title, "Lumo");
        EXPECT_EQ(watcher.shown[0].icon, QMessageBox::Critical);
        EXPECT_EQ(LumoMainWindow(), nullptr);
        EXPECT_EQ(Ini(), before);
        EXPECT_EQ(TestFileRead(dir_ + "/startupfilterset.fs"), "\"udp\"\r\n");
    }
}

// 1 when the process whose /proc status file this is catches SIGTERM.
bool CatchesSigterm(const std::string& status) {
    std::ifstream in(status);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1;
    }
    return false;
}

TEST_F(LumoWindowTest, RealProgramEndsNormallyOnSigtermAndSavesItsWindow) {
    QProcess lumo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LUMO_HOME", QString::fromStdString(dir_));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    lumo.setProcessEnvironment(env);
    lumo.start(LUMO_BIN_DIR "/lumo", {});
    ASSERT_TRUE(lumo.waitForStarted(5000));
    // The window is up once the program catches SIGTERM (it installs the
    // handler right after creating the window).
    const std::string status = "/proc/" + std::to_string(lumo.processId()) + "/status";
    ASSERT_TRUE(TestWaitFor([&] { return CatchesSigterm(status); }, 20000));
    ::kill(static_cast<pid_t>(lumo.processId()), SIGTERM);
    ASSERT_TRUE(lumo.waitForFinished(10000));
    EXPECT_EQ(lumo.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(lumo.exitCode(), 0);
    EXPECT_EQ(IniValue(Ini(), "size_x"), "320");
}

// ---------------------------------------------------------------- mouse and commands

TEST_F(LumoWindowTest, LegendClicksToggleAndSelectAndDoubleClickOffTheLegendOpensTheEditor) {
    WriteIni("");
    WriteStartupSet(5001, 5002);
    ModalWatcher watcher;
    RunLumo([&](LumoWindow* window) {
        MainWndView* view = window->View();
        ASSERT_EQ(view->filters.count, 2);
        ASSERT_TRUE(PumpUntil([&] { return view->legendRects[1].right > 20; }, 3000));
        GraphSurfaceWidget* surface = window->SurfaceWidget();

        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(10, 20));  // toggle cell 1
        EXPECT_EQ(view->filterVisible[1], 0);
        EXPECT_EQ(view->filterVisible[0], 1);
        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(3, 20));  // left of the strip
        EXPECT_EQ(view->filterVisible[1], 0);
        const LegendRect r = view->legendRects[0];
        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2));
        EXPECT_EQ(view->selectedFilter, 0);
        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(10, 40));  // cell 2: no filter there
        EXPECT_EQ(view->selectedFilter, -1);
        ASSERT_TRUE(PumpNextFrame(window)) << "no frame drew the hidden trace's empty box";
        SaveScreenshot(window, "main_window_legend");

        QTest::mouseDClick(surface, Qt::LeftButton, {}, QPoint((r.left + r.right) / 2, r.top + 1));
        QTest::mouseDClick(surface, Qt::LeftButton, {}, QPoint(10, 5));
        ASSERT_TRUE(PumpPosted()) << "what the double-clicks posted did not run";
        EXPECT_TRUE(watcher.shown.empty());
        QTest::mouseDClick(surface, Qt::LeftButton, {}, QPoint(surface->width() - 10, surface->height() - 10));
        ASSERT_TRUE(PumpPosted()) << "what the double-click posted did not run";
        ASSERT_EQ(watcher.shown.size(), 1u);
        EXPECT_EQ(watcher.shown[0].objectName, "filterSetConfigDialog");
    });
}

TEST_F(LumoWindowTest, FilterCommandsNeedRawsharkAndOpenConfigurationOtherwise) {
    WriteIni("");
    WriteStartupSet(5001, 5002);
    ModalWatcher watcher;
    watcher.screenshotPrefix = "prerequisite";
    RunLumo([&](LumoWindow* window) {
        strcpy(window->AppSettings()->rawshark.rawsharkPath, (dir_ + "/missing/rawshark").c_str());
        window->SendCommand(CmdEditFilterSet);
        ASSERT_TRUE(PumpPosted()) << "the posted Configuration command did not run";
        ASSERT_EQ(watcher.shown.size(), 2u);
        EXPECT_EQ(watcher.shown[0].text, "Set rawshark file path.");
        EXPECT_EQ(watcher.shown[0].icon, QMessageBox::Information);
        EXPECT_EQ(watcher.shown[0].title, "Lumo");
        EXPECT_EQ(watcher.shown[1].objectName, "captureOptionsDialog");  // cancelled
        EXPECT_STREQ(window->AppSettings()->rawshark.rawsharkPath, "");
        EXPECT_EQ(window->View()->filters.count, 2);  // nothing changed
    });
    // the start-up set is written back as it was
    EXPECT_NE(TestFileRead(dir_ + "/startupfilterset.fs").find("udp.dstport == 5002"), std::string::npos);
}

TEST_F(LumoWindowTest, DropsLoadFilterSetsAndIgnoreOtherFiles) {
    WriteIni("");
    WriteStartupSet(5001, 5002);
    ASSERT_TRUE(TestFileWrite(dir_ + "/other.FS", "\"tcp\",byte,0,0x0000ff\r\n"));
    ASSERT_TRUE(TestFileWrite(dir_ + "/trace.pcap", "not looked at"));
    RunLumo([&](LumoWindow* window) {
        auto drop = [&](const std::string& path) {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path)),
                          QUrl::fromLocalFile(QString::fromStdString(dir_ + "/trace.pcap"))});
            QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window, &enter);
            QDropEvent event(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window, &event);
            ASSERT_TRUE(PumpPosted()) << "the drop was not handled";  // handled from the event loop
        };
        window->View()->filterVisible[0] = 0;
        drop(dir_ + "/trace.pcap");  // not a filter set: nothing happens
        EXPECT_EQ(window->View()->filters.count, 2);
        EXPECT_EQ(window->View()->filterVisible[0], 0);
        drop(dir_ + "/other.FS");  // only the first file counts
        ASSERT_EQ(window->View()->filters.count, 1);
        EXPECT_STREQ(window->View()->filters.entries[0].filterText, "tcp");
        EXPECT_EQ(window->View()->filterVisible[0], 1);
        EXPECT_EQ(RawsharkMngrCount(), 1);  // the filter restart built the new list
    });
    EXPECT_EQ(TestFileRead(dir_ + "/startupfilterset.fs"), "\"tcp\",byte,,0x0000ff\r\n");
}

TEST_F(LumoWindowTest, LoadSaveAndAlwaysOnTopCommands) {
    WriteIni("");
    WriteStartupSet(5001, 5002);
    ASSERT_TRUE(TestFileWrite(dir_ + "/load.fs", "\"arp\",pps,0,0x00ff00\r\n\"dns\",bps,0,0xff0000\r\n\"icmp\"\r\n"));
    ModalWatcher watcher;
    RunLumo([&](LumoWindow* window) {
        watcher.Then(ModalWatcher::ChooseFile(QString::fromStdString(dir_ + "/load.fs")));
        window->SendCommand(CmdLoadFilterSet);
        ASSERT_EQ(window->View()->filters.count, 3);
        EXPECT_EQ(RawsharkMngrCount(), 3);

        watcher.Then(ModalWatcher::ChooseFile(QString::fromStdString(dir_ + "/saved.fs")));
        window->SendCommand(CmdSaveFilterSet);
        EXPECT_EQ(watcher.shown.back().title, "Save Filter Set");

        EXPECT_FALSE(window->CommandAction(CmdAlwaysOnTop)->isChecked());
        window->SendCommand(CmdAlwaysOnTop);
        EXPECT_TRUE(window->CommandAction(CmdAlwaysOnTop)->isChecked());
        EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->AppSettings()->topmost, 1);
    });
    EXPECT_EQ(TestFileRead(dir_ + "/saved.fs"), "\"arp\",pps,,0x00ff00\r\n\"dns\",bps,,0xff0000\r\n\"icmp\",bps,,\r\n");
    EXPECT_EQ(IniValue(Ini(), "topmost"), "1");
}

// Fault: a pause that stops the redraw timer (no readout on the held graph)
// or the counting (the present is lost); an export that writes the present
// instead of the held frame.
TEST_F(LumoWindowTest, PauseHoldsTheGraphWhileCountingGoesOnAndExportsWhatIsShown) {
    UdpSink a, b;
    WriteIni("nic_name=lo\n");
    WriteStartupSet(a.port, b.port);
    ModalWatcher watcher;
    RunLumo([&](LumoWindow* window) {
        QAction* pause = window->CommandAction(CmdPause);
        ASSERT_NE(pause, nullptr);
        EXPECT_EQ(pause->shortcut(), QKeySequence(Qt::Key_Space));
        window->activateWindow();
        ASSERT_TRUE(PumpUntil([&] { return window->isActiveWindow(); }, 5000)) << "the window did not become active";
        QSignalSpy ticks(window->RedrawTimer(), &QTimer::timeout);
        QTest::keyClick(window, Qt::Key_Space);
        ASSERT_EQ(window->Paused(), 1);
        EXPECT_TRUE(pause->isChecked());
        EXPECT_EQ(window->windowTitle(), "Lumo (paused)");
        const int64_t held = window->FrameNow();
        if (geteuid() == 0) {
            ASSERT_TRUE(PumpUntil([] { return CaptureLinkType() != -1; }, 10000)) << "the capture did not open";
            SendUdp(a.port, 7, 100);
            EXPECT_TRUE(PumpUntil([] { return Matched(0) == 7; }, 2000)) << Matched(0);
        }
        ASSERT_TRUE(PumpUntil([&] { return ticks.count() >= 3; }, 5000));
        EXPECT_EQ(window->FrameNow(), held);  // frames go on, at the held moment

        const DrawSurface* s = window->Surface();
        const std::vector<uint32_t> shown(window->FramePixels(), window->FramePixels() + s->width * s->height);
        watcher.Then(ModalWatcher::ChooseFile(QString::fromStdString(dir_ + "/held.png")));
        window->SendCommand(CmdExportPng);
        QImage saved(QString::fromStdString(dir_ + "/held.png"));
        ASSERT_EQ(saved.size(), QSize(s->width, s->height));
        saved = saved.convertToFormat(QImage::Format_RGB32);
        int differ = 0;
        for (int y = 0; y < s->height; ++y)
            for (int x = 0; x < s->width; ++x)
                differ += (saved.pixel(x, y) & 0xffffff) != (shown[y * s->width + x] & 0xffffff);
        EXPECT_EQ(differ, 0);
        watcher.Then(ModalWatcher::ChooseFile(QString::fromStdString(dir_ + "/held")));
        window->SendCommand(CmdExportCsv);
        EXPECT_EQ(TestFileRead(dir_ + "/held.csv").rfind("interval_start_time,interval_start_us,all_packets", 0), 0u);

        window->activateWindow();  // back from the file dialogs
        ASSERT_TRUE(PumpUntil([&] { return window->isActiveWindow(); }, 5000)) << "the window did not become active";
        QTest::keyClick(window, Qt::Key_Space);
        EXPECT_EQ(window->Paused(), 0);
        EXPECT_EQ(window->windowTitle(), "Lumo");
        EXPECT_TRUE(PumpUntil([&] { return window->FrameNow() != held; }, 2000));
    });
}

// ---------------------------------------------------------------- end to end (root)

TEST_F(LumoWindowTest, LoopbackTrafficShowsInCountersLegendAndTracesAndDumps) {
    if (geteuid() != 0) GTEST_SKIP() << "capturing on \"lo\" needs root (cap_net_raw)";
    UdpSink a, b;
    WriteIni("nic_name=lo\n");
    WriteStartupSet(a.port, b.port);
    const std::string dump = dir_ + "/traffic.pcap";
    ModalWatcher watcher;
    int rc = RunLumo([&](LumoWindow* window) {
        ASSERT_STREQ(window->AppSettings()->capture.iface.name, "lo");
        ASSERT_EQ(RawsharkMngrCount(), 2);
        ASSERT_TRUE(PumpUntil([] { return CaptureLinkType() != -1; }, 10000)) << "the capture did not open";

        // two bursts a few sampling intervals apart, so that their spikes
        // stand in different columns
        QElapsedTimer clock;
        clock.start();
        SendUdp(b.port, 12, 200);
        ASSERT_TRUE(PumpUntil([] { return Matched(1) == 12; }, 5000)) << Matched(1);
        const int64_t firstBurst = PerfCounter();
        ASSERT_TRUE(PumpUntil([&] { return PerfCounter() - firstBurst > 4 * 50000 * 1000LL; }, 5000));
        SendUdp(a.port, 30, 200);
        ASSERT_TRUE(PumpUntil([] { return Matched(0) == 30 && Matched(1) == 12; }, 1000))
            << "after " << clock.elapsed() << " ms: " << Matched(0) << " " << Matched(1);
        ASSERT_TRUE(PumpNextFrame(window)) << "no frame was drawn after the bursts were counted";
        const std::string label0 = GraphLegendLabel(0);
        const std::string label1 = GraphLegendLabel(1);
        EXPECT_NE(label0.find("udp.dstport == " + std::to_string(a.port)), std::string::npos) << label0;
        EXPECT_NE(label1.find("udp.dstport == " + std::to_string(b.port)), std::string::npos) << label1;
        EXPECT_GT(window->View()->legendRects[0].right, window->View()->legendRects[0].left);
        const int right = std::max(window->View()->legendRects[0].right, window->View()->legendRects[1].right) + 1;
        EXPECT_GT(PixelsOfColour(window->Surface(), 0x00ff00, right), 0);
        EXPECT_GT(PixelsOfColour(window->Surface(), 0xff0000, right), 0);
        window->resize(640, 360);
        uint64_t sentA = Matched(0), sentB = Matched(1);
        for (int i = 0; i < 30; ++i) {  // some steadier traffic for the picture, a frame for each round
            SendUdp(a.port, 2 + i % 5, 300);
            SendUdp(b.port, 1 + i % 3, 300);
            sentA += 2 + i % 5;
            sentB += 1 + i % 3;
            ASSERT_TRUE(PumpUntil([&] { return Matched(0) == sentA && Matched(1) == sentB; }, 5000))
                << "round " << i << ": " << Matched(0) << " of " << sentA << ", " << Matched(1) << " of " << sentB;
            ASSERT_TRUE(PumpNextFrame(window)) << "round " << i << " was not drawn";
        }
        SaveScreenshot(window, "main_window_traffic");

        watcher.Then(ModalWatcher::ChooseFile(QString::fromStdString(dump)));
        window->SendCommand(CmdDumpStart);
        ASSERT_EQ(window->Dumping(), 1);
        EXPECT_FALSE(window->CommandAction(CmdDumpStart)->isEnabled());
        EXPECT_TRUE(window->CommandAction(CmdDumpStop)->isEnabled());
        const uint64_t before = Matched(0);
        SendUdp(a.port, 17, 100);
        ASSERT_TRUE(PumpUntil([&] { return Matched(0) == before + 17; }, 2000));
        // The capture thread appends a packet to the dump after handing it to
        // the judge, so a verdict can come back before the last append.
        ASSERT_TRUE(PumpUntil([&] { return CaptureFileRecords() >= 17; }, 5000)) << CaptureFileRecords();
        window->SendCommand(CmdDumpStop);
        EXPECT_EQ(window->Dumping(), 0);
        EXPECT_TRUE(window->CommandAction(CmdDumpStart)->isEnabled());
        EXPECT_FALSE(window->CommandAction(CmdDumpStop)->isEnabled());

        // Configuration with a new sampling interval: the full restart
        // rebuilds the pipeline and the traffic is counted again
        watcher.Then([](QDialog* dialog) {
            dialog->findChild<QLineEdit*>("samplingEdit")->setText("100000");
            dialog->findChild<QPushButton*>("okButton")->click();
        });
        window->View()->filterVisible[1] = 0;
        window->SendCommand(CmdConfiguration);
        EXPECT_EQ(window->AppSettings()->samplingInterval, 100000);
        EXPECT_EQ(window->View()->filterVisible[1], 1);
        EXPECT_TRUE(window->RedrawTimer()->isActive());
        ASSERT_EQ(RawsharkMngrCount(), 2);
        ASSERT_TRUE(PumpUntil([] { return CaptureLinkType() != -1; }, 10000));
        SendUdp(b.port, 5, 100);
        EXPECT_TRUE(PumpUntil([] { return Matched(1) == 5; }, 2000)) << Matched(1);
    });
    EXPECT_EQ(rc, 0);
    int records = 0, linkType = 0;
    EXPECT_EQ(PcapRecordsToPort(dump, a.port, &records, &linkType), 17);
    EXPECT_EQ(linkType, 1);
    EXPECT_EQ(IniValue(Ini(), "nic_name"), "lo");
    EXPECT_EQ(IniValue(Ini(), "sampling_interval"), "100000");
}

TEST_F(LumoWindowTest, DumpThatFailsToWriteIsReportedAndTheMenuResets) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs and capturing need root";
    const std::string small = dir_ + "/small";
    ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
    ASSERT_EQ(mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k"), 0) << strerror(errno);
    UdpSink a, b;
    // Only this test's datagrams fill the disk: other programs' traffic on
    // "lo" could fill it before the first of them arrives.
    WriteIni("nic_name=lo\ncapture_filter=udp dst port " + std::to_string(a.port) + "\n");
    WriteStartupSet(a.port, b.port);
    ModalWatcher watcher;
    RunLumo([&](LumoWindow* window) {
        ASSERT_TRUE(PumpUntil([] { return CaptureLinkType() != -1; }, 10000)) << "the capture did not open";
        watcher.Then(ModalWatcher::ChooseFile(QString::fromStdString(small + "/full.pcap")));
        window->SendCommand(CmdDumpStart);
        ASSERT_EQ(window->Dumping(), 1);
        // A burst for each frame until a tick finds the dump failed on the
        // full disk.
        int64_t burstFrame = -1;
        EXPECT_TRUE(PumpUntil(
            [&] {
                if (!window->Dumping()) return true;
                if (window->FrameNow() != burstFrame) {
                    burstFrame = window->FrameNow();
                    SendUdp(a.port, 20, 1400);
                }
                return false;
            },
            20000))
            << "the dump did not fail on the full disk";
        EXPECT_EQ(window->Dumping(), 0);
        ASSERT_EQ(watcher.shown.size(), 2u);
        EXPECT_EQ(watcher.shown[1].text, "fwrite() error");
        EXPECT_EQ(watcher.shown[1].title, "Lumo");
        EXPECT_EQ(watcher.shown[1].icon, QMessageBox::Critical);
        EXPECT_TRUE(window->CommandAction(CmdDumpStart)->isEnabled());
        EXPECT_FALSE(window->CommandAction(CmdDumpStop)->isEnabled());
        // Some more ticks, each of which could report the failure again.
        QSignalSpy ticks(window->RedrawTimer(), &QTimer::timeout);
        ASSERT_TRUE(PumpUntil([&] { return ticks.count() >= 5; }, 5000)) << "the redraw timer stopped";
        EXPECT_EQ(watcher.shown.size(), 2u);  // told once
    });
    int records = 0, linkType = 0;
    EXPECT_GE(PcapRecordsToPort(small + "/full.pcap", a.port, &records, &linkType), 1);  // readable
    umount(small.c_str());
}

}  // namespace

int main(int argc, char** argv) { return QtTestMain(argc, argv); }
