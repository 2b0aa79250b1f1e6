// SPDX-License-Identifier: GPL-2.0-or-later
// replay_test.cpp - the tarvo_gui dialog, offscreen: controls and texts,
// the Start checks and their boxes, the time label's restart, the tool's end
// by itself, the box of a tool that fails or cannot start, Stop and Exit,
// the file dialog and drops.
//
// The interface list comes from the lister hook, and the replay tool is a
// stand-in script named "tarvo" in a scratch program folder, so no interface
// is probed and nothing is sent.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "capture/capture.h"
#include "replay/replay.h"
#include "replay/replaydlg_qt.h"
#include "tests/support/testdir.h"
#include "qt_test_support.h"

namespace {

int ListEighteen(int capacity, InterfaceInfo* table) {
    for (int i = 0; i < 18 && i < capacity; ++i) {
        memset(&table[i], 0, sizeof table[i]);
        snprintf(table[i].name, sizeof table[i].name, "fake%d", i);
        if (i != 1) snprintf(table[i].description, sizeof table[i].description, "Fake port %d", i);
        if (i == 0) {
            const uint8_t a[4] = {10, 1, 2, 3};
            memcpy(&table[i].address, a, 4);
        }
        table[i].linkType = 1;
    }
    return 18;
}
int ListFails(int, InterfaceInfo*) { return -1; }
int ListNone(int, InterfaceInfo*) { return 0; }

std::string Slurp(const std::string& path) { return TestFileRead(path); }

bool ProcessGone(pid_t pid) {
    std::string stat = Slurp("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return true;
    size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

// Processes events until the dialog's timer has ticked n more times.
bool WaitTicks(QTimer* timer, int n) {
    int ticks = 0;
    QMetaObject::Connection c = QObject::connect(timer, &QTimer::timeout, [&] { ++ticks; });
    bool ok = PumpUntil([&] { return ticks >= n; }, 5000);
    QObject::disconnect(c);
    return ok;
}

struct BoxSeen {
    bool seen = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Runs trigger and answers the first message box it opens.
BoxSeen AnswerBox(const std::function<void()>& trigger) {
    BoxSeen box;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* mb = qobject_cast<QMessageBox*>(w);
            if (mb && mb->isVisible() && !box.seen) {
                box.seen = true;
                box.title = mb->windowTitle();
                box.text = mb->text();
                box.icon = mb->icon();
                mb->done(QMessageBox::Ok);
            }
        }
    });
    poll.start();
    trigger();
    poll.stop();
    return box;
}

class ReplayDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = TestDirNew();
        PlatformSetProgramFolder(dir_.c_str());
        CaptureSetInterfaceListHook(&ListEighteen);
        rec_ = std::make_unique<ReplayRecord>();
        dlg_ = std::make_unique<ReplayDialog>(rec_.get());
        pcap_ = dir_ + "/in.pcap";
        std::ofstream(pcap_) << "x";
    }
    void TearDown() override {
        dlg_.reset();  // ends a tool still running
        rec_.reset();
        CaptureSetInterfaceListHook(nullptr);
        PlatformSetProgramFolder(nullptr);
    }
    void WriteTool(const std::string& body) {
        std::string path = dir_ + "/tarvo";
        std::ofstream(path) << "#!/bin/sh\n" << body;
        chmod(path.c_str(), 0755);
    }
    template <typename W>
    W* Get(const char* name) {
        W* w = dlg_->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(nullptr, w) << name;
        return w;
    }
    QPushButton* Button(const char* name) { return Get<QPushButton>(name); }
    QString Label(const char* name) { return Get<QLabel>(name)->text(); }
    bool Running() { return !Button("startButton")->isEnabled() && Button("stopButton")->isEnabled(); }
    bool Idle() {
        return Button("startButton")->isEnabled() && !Button("stopButton")->isEnabled() &&
               Get<QComboBox>("interfaceBox")->isEnabled() && Get<QLineEdit>("pcapEdit")->isEnabled() &&
               Button("chooseButton")->isEnabled();
    }
    void OpenWithFile(const std::string& file) {
        ASSERT_EQ(1, dlg_->Open());
        dlg_->show();
        Get<QLineEdit>("pcapEdit")->setText(QString::fromStdString(file));
    }
    double LabelSeconds() { return Label("timeLabel").toDouble(); }
    void Drop(const QString& path) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dlg_.get(), &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dlg_.get(), &drop);
    }

    std::string dir_, pcap_;
    std::unique_ptr<ReplayRecord> rec_;
    std::unique_ptr<ReplayDialog> dlg_;
};

TEST_F(ReplayDialogTest, OpensWithTitleTextsAndAtMostSixteenInterfaces) {
    ASSERT_EQ(1, dlg_->Open());
    EXPECT_EQ("tarvo", dlg_->windowTitle());
    EXPECT_EQ("Interface:", Label("interfaceCaption"));
    EXPECT_EQ("pcap file:", Label("fileCaption"));
    EXPECT_EQ("Time:", Label("timeCaption"));
    EXPECT_EQ("...", Button("chooseButton")->text());
    EXPECT_EQ("Start", Button("startButton")->text());
    EXPECT_EQ("Stop", Button("stopButton")->text());
    EXPECT_EQ("Exit", Button("exitButton")->text());
    EXPECT_TRUE(Idle());

    auto* box = Get<QComboBox>("interfaceBox");
    ASSERT_EQ(16, box->count());
    EXPECT_EQ(16, rec_->interfaceCount);
    EXPECT_EQ("Fake port 0: fake0", box->itemText(0));
    EXPECT_EQ("fake1", box->itemText(1));  // no description: the name alone
    EXPECT_EQ("Fake port 15: fake15", box->itemText(15));
    EXPECT_EQ(0, box->currentIndex());
    EXPECT_EQ("IP address: 10.1.2.3", Label("addressLabel"));
    box->setCurrentIndex(1);
    EXPECT_EQ("IP address: unknown", Label("addressLabel"));

    auto* timer = Get<QTimer>("replayTimer");
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(50, timer->interval());
}

TEST_F(ReplayDialogTest, ListingFailuresEndTheDialogWithTheirMessage) {
    struct {
        CaptureInterfaceListFn lister;
        const char* text;
    } cases[] = {{&ListFails, "pcap_findalldevs() error"}, {&ListNone, "Network Interface is not found."}};
    for (const auto& c : cases) {
        CaptureSetInterfaceListHook(c.lister);
        ReplayDialog dialog(rec_.get());
        int opened = -1;
        BoxSeen box = AnswerBox([&] { opened = dialog.Open(); });
        EXPECT_EQ(0, opened);
        EXPECT_TRUE(box.seen);
        EXPECT_EQ(c.text, box.text);
        EXPECT_EQ("tarvo", box.title);
        EXPECT_EQ(QMessageBox::Critical, box.icon);
    }
}

TEST_F(ReplayDialogTest, StartChecksInOrderWithTheirBoxes) {
    OpenWithFile("");
    auto* box = Get<QComboBox>("interfaceBox");
    box->setCurrentIndex(-1);

    // No tool: its box comes first, before the interface and the file.
    BoxSeen seen = AnswerBox([&] { Button("startButton")->click(); });
    EXPECT_EQ("tarvo file is not found.", seen.text);
    EXPECT_EQ("tarvo", seen.title);
    EXPECT_EQ(QMessageBox::Critical, seen.icon);
    EXPECT_TRUE(Idle());

    WriteTool("exit 0\n");
    seen = AnswerBox([&] { Button("startButton")->click(); });
    EXPECT_EQ("Select Interface.", seen.text);

    box->setCurrentIndex(2);
    seen = AnswerBox([&] { Button("startButton")->click(); });
    EXPECT_EQ("pcap file is not found.", seen.text);
    Get<QLineEdit>("pcapEdit")->setText(QString::fromStdString(dir_ + "/missing.pcap"));
    seen = AnswerBox([&] { Button("startButton")->click(); });
    EXPECT_EQ("pcap file is not found.", seen.text);
    EXPECT_EQ(QMessageBox::Critical, seen.icon);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(0, rec_->child.process);
}

TEST_F(ReplayDialogTest, TimeRestartsWhenTheToolAnnouncesTransmission) {
    // The stand-in prepares for one second before it announces.
    WriteTool("sleep 1\necho Start Transmission\nexec sleep 1000\n");
    OpenWithFile(pcap_);
    BoxSeen none = AnswerBox([&] { Button("startButton")->click(); });
    EXPECT_FALSE(none.seen);
    EXPECT_TRUE(Running());
    auto t0 = std::chrono::steady_clock::now();
    auto since = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };

    // Samples the label: it counts from Start, then drops back to near zero
    // when the announcement arrives about 1 s after Start, and counts on.
    double highest = 0, lastSeconds = 0;
    bool counted = false, restarted = false;
    EXPECT_TRUE(PumpUntil(
        [&] {
            double s = LabelSeconds();
            if (s >= 0.5) counted = counted || !restarted;
            if (counted && s + 0.3 < highest) restarted = true;
            highest = std::max(highest, s);
            lastSeconds = s;
            return restarted && s >= 0.5;
        },
        10000))
        << "the label did not count, restart and count on: " << highest << " " << lastSeconds;
    EXPECT_TRUE(counted) << "the label counted since Start";
    EXPECT_TRUE(restarted) << "the label restarted at the announcement";
    EXPECT_LE(lastSeconds, since() - 0.9);  // it counts the transmission only
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d{3}$").match(Label("timeLabel")).hasMatch())
        << Label("timeLabel").toStdString();

    Button("stopButton")->click();
    EXPECT_TRUE(Idle());
}

TEST_F(ReplayDialogTest, ToolEndingByItselfReenablesStartOnTheNextTick) {
    WriteTool("echo Start Transmission\nexit 0\n");
    OpenWithFile(pcap_);
    auto* timer = Get<QTimer>("replayTimer");
    timer->stop();  // the test drives the ticks
    Get<QLabel>("timeLabel")->setText("1.234");
    Button("startButton")->click();
    ASSERT_TRUE(Running());
    ASSERT_TRUE(PumpUntil([&] { return ReplayToolEnded(rec_.get()) != 0; }, 5000));
    EXPECT_TRUE(Running());
    dlg_->OnTimer();  // one timer period after the end is enough
    EXPECT_TRUE(Idle());
    EXPECT_EQ("1.234", Label("timeLabel"));  // not updated on that tick
    EXPECT_EQ(0, rec_->child.process);
    EXPECT_FALSE(rec_->reader.joinable());

    // With the real 50 ms timer: the label counts while the tool runs and
    // keeps its last value once Start is back.
    WriteTool("echo Start Transmission\nsleep 0.3\n");
    timer->start();
    Button("startButton")->click();
    EXPECT_TRUE(PumpUntil([&] { return Idle(); }, 5000));
    QString last = Label("timeLabel");
    EXPECT_NE("1.234", last);
    ASSERT_TRUE(WaitTicks(timer, 3));
    EXPECT_EQ(last, Label("timeLabel"));
}

// Fault: a tool that failed (a file that is not a capture) or could not be
// started at all left the dialog silent, as if the replay had finished.
TEST_F(ReplayDialogTest, ToolThatFailsOrCannotStartIsReportedAndIdle) {
    OpenWithFile(pcap_);
    struct {
        const char* tool;
        const char* says;
    } cases[] = {
        {"echo \"tarvo: cannot open capture file x: unknown file format\" >&2\nexit 1\n",
         "tarvo: cannot open capture file x: unknown file format"},
        // after the announcement only a failure status counts
        {"echo Start Transmission\necho 'Sent 3 packets.'\nprintf 'tarvo: sending on eth9 stopped' >&2\nexit 1\n",
         "tarvo: sending on eth9 stopped"},
    };
    for (const auto& c : cases) {
        WriteTool(c.tool);
        BoxSeen box = AnswerBox([&] {
            Button("startButton")->click();
            EXPECT_TRUE(PumpUntil([&] { return Idle(); }, 5000)) << "the failed tool left the dialog running";
        });
        EXPECT_TRUE(box.seen) << c.says;
        EXPECT_EQ(c.says, box.text.toStdString());
        EXPECT_EQ("tarvo", box.title);
        EXPECT_EQ(QMessageBox::Critical, box.icon);
        EXPECT_TRUE(Idle());
    }

    WriteTool("exit 0\n");
    chmod((dir_ + "/tarvo").c_str(), 0644);  // present, not executable
    BoxSeen box = AnswerBox([&] { Button("startButton")->click(); });
    EXPECT_EQ("tarvo could not be started: Permission denied.", box.text.toStdString());
    EXPECT_EQ(QMessageBox::Critical, box.icon);
    EXPECT_TRUE(Idle());
}

TEST_F(ReplayDialogTest, StopAndExitKillALongReplayAndLeaveNoProcess) {
    std::string pids = dir_ + "/pids";
    WriteTool("echo Start Transmission\nsleep 1000 &\necho $$ $! > '" + pids + "'\nwait\n");
    OpenWithFile(pcap_);
    for (const char* way : {"stopButton", "exitButton"}) {
        unlink(pids.c_str());
        Button("startButton")->click();
        ASSERT_TRUE(Running()) << way;
        ASSERT_TRUE(PumpUntil([&] { return Slurp(pids).find(' ') != std::string::npos; }, 5000)) << way;
        pid_t tool = 0, sleeper = 0;
        std::istringstream(Slurp(pids)) >> tool >> sleeper;
        ASSERT_TRUE(WaitTicks(Get<QTimer>("replayTimer"), 2)) << way;  // ticks that would see an end
        EXPECT_TRUE(Running()) << way;

        Button(way)->click();
        EXPECT_EQ(0, rec_->child.process) << way;
        EXPECT_FALSE(rec_->reader.joinable()) << way;
        EXPECT_TRUE(ProcessGone(tool)) << way;
        EXPECT_TRUE(PumpUntil([&] { return ProcessGone(sleeper); }, 2000)) << way;
    }
    EXPECT_FALSE(dlg_->isVisible());  // Exit ended the dialog
    EXPECT_EQ(0, dlg_->result());
}

TEST_F(ReplayDialogTest, DropsFillTheFieldOnlyForCaptureFiles) {
    ASSERT_EQ(1, dlg_->Open());
    auto* edit = Get<QLineEdit>("pcapEdit");
    Drop(QString::fromStdString(dir_ + "/CAPTURE.PCAP"));
    EXPECT_EQ(QString::fromStdString(dir_ + "/CAPTURE.PCAP"), edit->text());
    Drop(QString::fromStdString(dir_ + "/notes.txt"));
    EXPECT_EQ(QString::fromStdString(dir_ + "/CAPTURE.PCAP"), edit->text());
    Drop(QString::fromStdString(dir_ + "/noextension"));
    EXPECT_EQ(QString::fromStdString(dir_ + "/CAPTURE.PCAP"), edit->text());
    Drop(QString::fromStdString(dir_ + "/next.PcapNg"));
    EXPECT_EQ(QString::fromStdString(dir_ + "/next.PcapNg"), edit->text());
}

TEST_F(ReplayDialogTest, ChooseButtonOpensTheCaptureFileDialog) {
    OpenWithFile("");
    QString title;
    QStringList filters;
    bool cancel = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* fd = dlg_->findChild<QFileDialog*>(QStringLiteral("openCaptureFileDialog"));
        if (!fd || !fd->isVisible()) return;
        title = fd->windowTitle();
        filters = fd->nameFilters();
        if (cancel) {
            fd->reject();
        } else {
            fd->selectFile(QString::fromStdString(pcap_));
            static_cast<QDialog*>(fd)->accept();  // QFileDialog::accept, through the public base
        }
    });
    poll.start();
    Button("chooseButton")->click();
    EXPECT_EQ("Open Capture File", title);
    ASSERT_EQ(2, filters.size());
    EXPECT_EQ("Wireshark/tcpdump(*.pcap)", filters[0]);
    EXPECT_TRUE(filters[1].contains("*.pcapng"));
    EXPECT_EQ(QString::fromStdString(pcap_), Get<QLineEdit>("pcapEdit")->text());

    cancel = true;  // cancelling leaves the field alone
    Button("chooseButton")->click();
    poll.stop();
    EXPECT_EQ(QString::fromStdString(pcap_), Get<QLineEdit>("pcapEdit")->text());
}

}  // namespace

int main(int argc, char** argv) { return QtTestMain(argc, argv); }
