// SPDX-License-Identifier: GPL-2.0-or-later
// lumo_offline's window on the offscreen platform: reading a file through
// the reading dialog, the zoom level chosen after a read, wheel and scroll
// bar, resize, drops, legend clicks, the readout under the pointer, the
// legend's tool tips, Time of Day, failures and their boxes, the reading
// dialog's keys and a second Open, the offline Capture Options dialog, and
// the settings saved on a normal exit.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QWheelEvent>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "graph/drawsurface.h"
#include "graph/drawtext_qt.h"
#include "graph/graph.h"
#include "tools/capgen/capgen.h"
#include "offline/offlineapp_qt.h"
#include "offline/offlinewindow_qt.h"
#include "offline/readingdlg_qt.h"
#include "pipeline/packetstore.h"
#include "platform/platform.h"
#include "qt_test_support.h"
#include "shell/mainwnd.h"
#include "tests/support/offline_support.h"

namespace {

constexpr int64_t kSecond = 1000000;

// A pcap file of UDP frames at the given offsets from second 1000.
void WriteStamped(const std::string& path, const std::vector<int64_t>& offsets) {
    CapGenWriter w;
    ASSERT_EQ(CapGenOpen(&w, path.c_str(), CapGenPcap, 1, kCapGenSnaplen), 1);
    uint8_t frame[200];
    for (size_t k = 0; k < offsets.size(); k++) {
        uint32_t n = CapGenFrame(frame, sizeof frame, CapGenUdp, 40000, 5000, static_cast<uint32_t>(k), 200, 0);
        CapGenWrite(&w, (1000 * kSecond + offsets[k]) * 1000, frame, n, 200);
    }
    ASSERT_EQ(CapGenClose(&w), 1);
}

class OfflineWindowTest : public testing::Test {
protected:
    void SetUp() override {
        dir = OfflineScratchDir(testing::UnitTest::GetInstance()->current_test_info()->name());
        setenv("LUMO_HOME", dir.c_str(), 1);
        memset(&settings, 0, sizeof settings);
        SettingsLoad(&settings, SettingsLumoOffline);
        DrawSurfaceSetDefaultText(DrawTextQt());
    }
    void TearDown() override {
        if (window) {
            window->close();
            delete window;
            // Closing told the application to quit, which makes every later
            // modal loop return at once until an application loop has run.
            QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
            QApplication::exec();
        }
        PacketStoreReset();
    }

    // A window whose graph is width pixels wide.
    void Open(int width = 1000, const char* filterSet = nullptr) {
        window = new OfflineWindow(&settings, filterSet);
        ASSERT_EQ(window->CreateAndShow(), 1);
        window->resize(width, 400);
        ASSERT_TRUE(PumpUntil(
            [&] {
                return window->SurfaceWidget()->width() == width && window->SurfaceValid() &&
                       window->Surface()->width == width;
            },
            3000));
    }

    void Read(const std::string& file) {
        window->SetCurrentCaptureFile(file.c_str());
        window->SendCommand(CmdReloadCaptureFile);
    }

    void Wheel(int delta) {
        QWheelEvent event(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(window->SurfaceWidget(), &event);
    }

    void Drop(const std::string& path) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        QDropEvent event(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &event);
        // The drop is handled from the event loop; the reading runs there.
        ASSERT_TRUE(PumpPosted()) << "the drop was not handled";
        ASSERT_TRUE(PumpUntil([&] { return !window->Reading(); }, 30000)) << "the reading did not end";
    }

    int64_t Centre() { return OfflineViewCentreTime(window->TimeView(), window->Surface()->width); }

    std::string dir;
    Settings settings;
    OfflineWindow* window = nullptr;
};

TEST_F(OfflineWindowTest, ReadFitsTenSecondsInThousandPixelsAtLevelThirteen) {
    ModalWatcher watcher;
    Open(1000);
    std::string file = dir + "/ten.pcap";
    WriteStamped(file, {0, 2 * kSecond, 5 * kSecond, 10 * kSecond});
    Read(file);
    ASSERT_EQ(PacketStoreCount(), 4);
    const OfflineView* v = window->TimeView();
    EXPECT_EQ(v->zoomLevel, 13);
    EXPECT_EQ(v->microsPerPixel, 20000);
    EXPECT_EQ(Centre(), 5 * kSecond);  // the 500 columns of data stand centred
    QScrollBar* bar = window->ScrollBar();
    EXPECT_EQ(bar->minimum(), -500);
    EXPECT_EQ(bar->maximum(), 1001 - 1000 + 1);
    EXPECT_EQ(bar->pageStep(), 1000);
    EXPECT_EQ(bar->value(), -250);
    // The reading dialog stood and no box was shown.
    ASSERT_EQ(watcher.shown.size(), 1u);
    EXPECT_EQ(watcher.shown[0].objectName, "readingDialog");
    // The program's title and its File menu: Open, a separator, the two
    // exports, a separator, Exit.
    EXPECT_EQ(window->windowTitle(), "Lumo_offline");
    QMenu* fileMenu = window->findChild<QMenu*>("fileMenu");
    ASSERT_NE(fileMenu, nullptr);
    QList<QAction*> items = fileMenu->actions();
    ASSERT_EQ(items.size(), 6);
    EXPECT_EQ(items[0]->text(), "Open(&O)");
    EXPECT_EQ(items[0], window->CommandAction(CmdOpenCaptureFile));
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2], window->CommandAction(CmdExportCsv));
    EXPECT_EQ(items[3], window->CommandAction(CmdExportPng));
    EXPECT_TRUE(items[4]->isSeparator());
    EXPECT_EQ(items[5]->text(), "Exit(&X)");
}

TEST_F(OfflineWindowTest, FileOfZeroDurationGivesLevelZero) {
    ModalWatcher watcher;
    Open(640);
    std::string file = dir + "/same.pcap";
    WriteStamped(file, {0, 0, 0});
    Read(file);
    EXPECT_EQ(PacketStoreCount(), 3);
    EXPECT_EQ(window->TimeView()->zoomLevel, 0);
    EXPECT_EQ(window->TimeView()->microsPerPixel, 1);
}

TEST_F(OfflineWindowTest, WheelStopsAtBothEndsAndKeepsTheCentre) {
    ModalWatcher watcher;
    Open(1000);
    std::string file = dir + "/ten.pcap";
    WriteStamped(file, {0, 10 * kSecond});
    Read(file);
    Wheel(-120);  // towards the user: finer
    EXPECT_EQ(window->TimeView()->zoomLevel, 12);
    EXPECT_EQ(Centre(), 5 * kSecond);
    for (int i = 0; i < 20; i++) Wheel(120);
    EXPECT_EQ(window->TimeView()->zoomLevel, 30);
    Wheel(120);
    EXPECT_EQ(window->TimeView()->zoomLevel, 30);
    EXPECT_EQ(Centre(), 5 * kSecond);
    for (int i = 0; i < 40; i++) Wheel(-120);
    EXPECT_EQ(window->TimeView()->zoomLevel, 0);
    Wheel(-120);
    EXPECT_EQ(window->TimeView()->zoomLevel, 0);
    EXPECT_EQ(Centre(), 5 * kSecond);
    EXPECT_EQ(window->ScrollBar()->value(), window->TimeView()->scrollPos);
}

TEST_F(OfflineWindowTest, ResizeKeepsTheCentreTime) {
    ModalWatcher watcher;
    Open(1000);
    std::string file = dir + "/ten.pcap";
    WriteStamped(file, {0, 10 * kSecond});
    Read(file);
    Wheel(-240);
    window->ScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    int64_t centre = Centre();
    EXPECT_NE(centre, 5 * kSecond);
    window->resize(700, 300);
    ASSERT_TRUE(PumpUntil([&] { return window->Surface()->width == 700; }, 3000));
    EXPECT_EQ(Centre(), centre);
    EXPECT_EQ(window->ScrollBar()->pageStep(), 700);
    window->resize(1200, 300);
    ASSERT_TRUE(PumpUntil([&] { return window->Surface()->width == 1200; }, 3000));
    EXPECT_EQ(Centre(), centre);
}

TEST_F(OfflineWindowTest, ScrollBarEndsShowFirstAndLastPacketAtTheCentre) {
    ModalWatcher watcher;
    Open(1000);
    std::string file = dir + "/ten.pcap";
    WriteStamped(file, {0, 10 * kSecond});
    Read(file);
    ASSERT_EQ(window->TimeView()->scrollShift, 0);
    QScrollBar* bar = window->ScrollBar();
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(Centre(), 0);
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    int64_t mpp = window->TimeView()->microsPerPixel;
    EXPECT_GE(Centre(), 10 * kSecond);
    EXPECT_LE(Centre(), 10 * kSecond + 2 * mpp);
    int64_t end = window->TimeView()->viewEndTime;
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(window->TimeView()->viewEndTime, end - mpp);
}

TEST_F(OfflineWindowTest, ThreeDaysAtOneMicrosecondScrollInStepsOf256) {
    ModalWatcher watcher;
    Open(1000);
    std::string file = dir + "/days.pcap";
    WriteStamped(file, {0, 3LL * 24 * 3600 * kSecond});
    Read(file);
    for (int i = 0; i < 40; i++) Wheel(-120);
    ASSERT_EQ(window->TimeView()->zoomLevel, 0);
    EXPECT_EQ(window->TimeView()->scrollShift, 8);
    int64_t end = window->TimeView()->viewEndTime;
    window->ScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(window->TimeView()->viewEndTime, end + 256);
}

TEST_F(OfflineWindowTest, DroppedCaptureFilesOfAnyCaseAndFilterSetsAreRead) {
    ModalWatcher watcher;
    Open(800);
    std::string file = dir + "/a.pcap";
    WriteStamped(file, {0, 1000, 2000});
    for (const char* name : {"b.PCAP", "c.pcapng", "d.Cap"}) {
        std::filesystem::copy_file(file, dir + "/" + name);
        Drop(dir + "/" + name);
        EXPECT_STREQ(window->CurrentCaptureFile(), (dir + "/" + name).c_str());
        EXPECT_EQ(PacketStoreCount(), 3) << name;
    }
    Drop(dir + "/notes.txt");  // ignored
    EXPECT_STREQ(window->CurrentCaptureFile(), (dir + "/d.Cap").c_str());

    // A dropped filter set is loaded and the current file read again with it.
    std::string fs = dir + "/udp.FS";
    std::ofstream(fs, std::ios::binary) << "\"udp\",packet,,\r\n";
    PacketStoreReset();
    Drop(fs);
    EXPECT_EQ(window->View()->filters.count, 1);
    ASSERT_EQ(PacketStoreCount(), 3);
    EXPECT_EQ(PacketStoreItem(2)->matchBits.load() & 1, 1);
}

TEST_F(OfflineWindowTest, LegendClickRedrawsAtOnce) {
    ModalWatcher watcher;
    std::string fs = dir + "/two.fs";
    std::ofstream(fs, std::ios::binary) << "\"udp\",bps,,\r\n\"tcp\",bps,,\r\n";
    Open(600, fs.c_str());
    std::string file = dir + "/a.pcap";
    WriteStamped(file, {0, 1000, 2000});
    Read(file);
    auto pixel = [&](int x, int y) { return DrawSurfacePixelAt(window->Surface(), x, y) & 0xffffff; };
    // The first filter's box is filled with its colour while it is shown.
    ASSERT_EQ(pixel(10, 10), DefaultFilterColors[0]);
    QTest::mouseClick(window->SurfaceWidget(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 8));
    EXPECT_EQ(window->View()->filterVisible[0], 0);
    EXPECT_NE(pixel(10, 10), DefaultFilterColors[0]);  // outline only, without waiting for anything
    QTest::mouseClick(window->SurfaceWidget(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 8));
    EXPECT_EQ(pixel(10, 10), DefaultFilterColors[0]);
}

// Fault: a readout left on the surface after the pointer went, or drawn over
// the legend it would hide.
TEST_F(OfflineWindowTest, PointerReadoutComesAndGoesAndLegendRowsExplainThemselves) {
    ModalWatcher watcher;
    std::string fs = dir + "/one.fs";
    std::ofstream(fs, std::ios::binary) << "\"udp\",bps,,\r\n";
    Open(600, fs.c_str());
    std::string file = dir + "/a.pcap";
    WriteStamped(file, {0, 1000, 2000});
    Read(file);
    DrawSurface* s = window->Surface();
    const std::vector<uint32_t> clean(s->pixels, s->pixels + s->width * s->height);
    auto isClean = [&] { return memcmp(clean.data(), s->pixels, clean.size() * 4) == 0; };
    QWidget* graph = window->SurfaceWidget();

    QTest::mouseMove(graph, QPoint(300, 100));
    EXPECT_EQ(DrawSurfacePixelAt(s, 300, 0) & 0xffffff, settings.charColor);  // the column's line
    EXPECT_FALSE(isClean());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(graph, &leave);
    EXPECT_TRUE(isClean());

    const std::string tip = window->LegendTipAt(30, 8).toStdString();
    EXPECT_EQ(tip.rfind("full scale: ", 0), 0u) << tip;
    EXPECT_NE(tip.find(" bps, top of the graph"), std::string::npos) << tip;
    EXPECT_TRUE(window->LegendTipAt(300, 100).isEmpty());
    QTest::mouseMove(graph, QPoint(30, 8));  // on the legend row: the tip, no box
    EXPECT_TRUE(isClean());

    QAction* clock = window->CommandAction(CmdTimeOfDay);
    ASSERT_NE(clock, nullptr);
    EXPECT_FALSE(clock->isChecked());
    window->SendCommand(CmdTimeOfDay);
    EXPECT_TRUE(clock->isChecked());
    EXPECT_EQ(settings.timeOfDay, 1);
    EXPECT_FALSE(isClean());  // the axis shows clock times now
}

// Fault: the run releases its rawshark processes before the graph is drawn,
// so a filter that rawshark refused showed a plain label over zero traffic.
TEST_F(OfflineWindowTest, RefusedFilterShowsItsRawsharkLineInTheLegend) {
    ModalWatcher watcher;
    std::string fs = dir + "/bad.fs";
    std::ofstream(fs, std::ios::binary) << "\"udp\",bps,,\r\n\"tcp.port ==\",bps,,\r\n";
    Open(600, fs.c_str());
    std::string file = dir + "/a.pcap";
    WriteStamped(file, {0, 1000, 2000});
    Read(file);
    EXPECT_EQ(std::string(GraphLegendLabel(0)).find("error"), std::string::npos) << GraphLegendLabel(0);
    EXPECT_EQ(std::string(GraphLegendLabel(1)).rfind("error: rawshark:", 0), 0u) << GraphLegendLabel(1);
}

TEST_F(OfflineWindowTest, FailedReadsShowTheirMessageAndLeaveAnEmptyGraph) {
    ModalWatcher watcher;
    Open(600);
    std::string good = dir + "/good.pcap";
    WriteStamped(good, {0, 10, 20});
    std::string truncated = dir + "/cut.pcap";
    WriteStamped(truncated, {0, 10, 20, 30});
    std::filesystem::resize_file(truncated, std::filesystem::file_size(truncated) - 50);
    std::string early = dir + "/early.pcap";
    WriteStamped(early, {100, 200, 99});
    struct Case {
        std::string file;
        const char* prefix;
    };
    // The empty path is a reload before any file was chosen.
    const Case cases[] = {{"", "\nError opening the input file: "},
                          {dir + "/missing.pcap", "\nError opening the input file: "}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Read(good);
        ASSERT_EQ(PacketStoreCount(), 3);
        watcher.shown.clear();
        Read(c.file);
        ASSERT_EQ(watcher.shown.size(), 2u);
        EXPECT_EQ(watcher.shown[0].objectName, "readingDialog");
        EXPECT_EQ(watcher.shown[1].title, "Lumo_offline");
        EXPECT_EQ(watcher.shown[1].icon, QMessageBox::Critical);
        EXPECT_EQ(watcher.shown[1].text.rfind(c.prefix, 0), 0u) << watcher.shown[1].text;
        EXPECT_EQ(PacketStoreCount(), 0);
        EXPECT_EQ(PacketStoreLastTime(), 0);
    }
    // What was read of a file cut short stays, with a warning that says so;
    // a packet stamped before the first is no fault at all.
    watcher.shown.clear();
    Read(truncated);
    ASSERT_EQ(watcher.shown.size(), 2u);
    EXPECT_EQ(watcher.shown[1].icon, QMessageBox::Warning);
    EXPECT_NE(watcher.shown[1].text.find("cut short"), std::string::npos) << watcher.shown[1].text;
    EXPECT_EQ(PacketStoreCount(), 3);
    watcher.shown.clear();
    Read(early);
    EXPECT_EQ(watcher.shown.size(), 1u);
    EXPECT_EQ(PacketStoreCount(), 3);
    EXPECT_EQ(PacketStoreFirstTime(), -1);
}

TEST_F(OfflineWindowTest, ReadingDialogIgnoresEnterAndEscAndASecondOpenIsRefused) {
    ModalWatcher watcher;
    Open(600);
    std::string source = dir + "/a.pcap";
    WriteStamped(source, {0, 1000, 2000, 3000});
    // A FIFO holds the reader in its open until the test writes the file.
    std::string fifo = dir + "/slow.pcap";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer;
    bool stayed = false;
    watcher.Then([&](QDialog* dialog) {
        EXPECT_EQ(dialog->objectName(), "readingDialog");
        auto* label = dialog->findChild<QLabel*>("readingLabel");
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), "Reading Capture File ...");
        EXPECT_NE(dialog->findChild<QProgressBar*>("readingProgress"), nullptr);
        QSignalSpy polls(dialog->findChild<QTimer*>("readingTimer"), &QTimer::timeout);
        ASSERT_TRUE(PumpUntil([&] { return polls.count() >= 1; }, 5000)) << "the dialog did not poll";
        // The reader waits in its open: the size is unknown, the bar busy.
        EXPECT_EQ(dialog->findChild<QProgressBar*>("readingProgress")->maximum(), 0);
        QTest::keyClick(dialog, Qt::Key_Return);
        QTest::keyClick(dialog, Qt::Key_Enter);
        QTest::keyClick(dialog, Qt::Key_Escape);
        dialog->close();
        EXPECT_TRUE(PumpPosted()) << "what the keys and the close posted did not run";
        stayed = dialog->isVisible();
        window->SendCommand(CmdOpenCaptureFile);  // answered by the watcher
        writer = std::thread([&] {
            std::ifstream in(source, std::ios::binary);
            std::ofstream out(fifo, std::ios::binary);
            out << in.rdbuf();
        });
    });
    Read(fifo);
    writer.join();
    EXPECT_TRUE(stayed);
    ASSERT_EQ(watcher.shown.size(), 2u);
    EXPECT_EQ(watcher.shown[1].text, "Reading capture file now");
    EXPECT_EQ(watcher.shown[1].title, "Lumo_offline");
    EXPECT_EQ(watcher.shown[1].icon, QMessageBox::Information);
    EXPECT_EQ(PacketStoreCount(), 4);
}

TEST_F(OfflineWindowTest, CaptureOptionsShowOnlyRawsharkSwitchesAndIntervalAndCheckOnlyTheInterval) {
    ModalWatcher watcher;
    Open(600);
    std::string file = dir + "/a.pcap";
    WriteStamped(file, {0, 1000});
    Read(file);
    watcher.shown.clear();
    watcher.Then([](QDialog* dialog) {
        EXPECT_EQ(dialog->objectName(), "captureOptionsDialog");
        for (const char* absent :
             {"interfaceCombo", "addressLabel", "promiscuousCheck", "limitCheck", "limitEdit", "captureFilterCombo"}) {
            EXPECT_EQ(dialog->findChild<QWidget*>(absent), nullptr) << absent;
        }
        for (const char* present : {"rawsharkPathEdit", "browseButton", "macCheck", "networkCheck", "transportCheck",
                                    "dnsCheck", "samplingEdit", "okButton", "cancelButton"}) {
            EXPECT_NE(dialog->findChild<QWidget*>(present), nullptr) << present;
        }
        // A path that names no file passes; an empty interval does not.
        dialog->findChild<QLineEdit*>("rawsharkPathEdit")->setText("/no/such/rawshark");
        dialog->findChild<QLineEdit*>("samplingEdit")->setText("");
        dialog->findChild<QPushButton*>("okButton")->click();
        EXPECT_TRUE(PumpPosted()) << "what OK posted did not run";
        EXPECT_TRUE(dialog->isVisible());
        dialog->findChild<QLineEdit*>("samplingEdit")->setText("20000");
        dialog->findChild<QPushButton*>("okButton")->click();
    });
    window->SendCommand(CmdConfiguration);
    ASSERT_GE(watcher.shown.size(), 3u);
    EXPECT_EQ(watcher.shown[1].text, "Sampling Interval cannot be 0.");
    EXPECT_EQ(watcher.shown[1].title, "Lumo_offline");
    EXPECT_EQ(watcher.shown[1].icon, QMessageBox::Warning);
    EXPECT_EQ(settings.samplingInterval, 20000);
    EXPECT_STREQ(settings.rawshark.rawsharkPath, "/no/such/rawshark");
    // OK reads the file again.
    EXPECT_EQ(watcher.shown[2].objectName, "readingDialog");
    EXPECT_EQ(PacketStoreCount(), 2);
}

TEST_F(OfflineWindowTest, NormalExitSavesSettingsAndTheStartupFilterSet) {
    ModalWatcher watcher;
    std::string startup = dir + "/startupfilterset_offline.fs";
    std::ofstream(startup, std::ios::binary) << "\"udp\"\n";
    std::string file = dir + "/a.pcap";
    WriteStamped(file, {0, 1000});
    OfflineArgs args{};
    snprintf(args.capture, sizeof args.capture, "%s", file.c_str());
    int64_t packets = -1;
    int filters = -1;
    // A timer, not a zero-delay call: events pumped from inside a posted
    // call would not include the reading the window posted before it.
    QTimer::singleShot(20, [&] {
        EXPECT_TRUE(PumpUntil([&] { return LumoOfflineMainWindow() && PacketStoreCount() == 2; }, 20000))
            << "the capture file of the command line was not read";
        if (!LumoOfflineMainWindow()) {
            QCoreApplication::exit(1);
            return;
        }
        packets = PacketStoreCount();
        filters = LumoOfflineMainWindow()->View()->filters.count;
        LumoOfflineMainWindow()->SendCommand(CmdExit);
    });
    EXPECT_EQ(LumoOfflineRun(&args), 0);
    EXPECT_EQ(packets, 2);  // the capture file of the command line was read
    EXPECT_EQ(filters, 1);
    std::ifstream ini(dir + "/lumo_offline.ini");
    std::string text((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("[Lumo_offline]"), std::string::npos) << text;
    EXPECT_NE(text.find("size_x="), std::string::npos);
    EXPECT_NE(text.find("sampling_interval="), std::string::npos);
    EXPECT_EQ(text.find("draw_interval"), std::string::npos);
    std::ifstream fs(startup, std::ios::binary);
    std::string set((std::istreambuf_iterator<char>(fs)), std::istreambuf_iterator<char>());
    EXPECT_EQ(set, "\"udp\",bps,,\r\n");
}

}  // namespace

int main(int argc, char** argv) { return QtTestMain(argc, argv); }
