// SPDX-License-Identifier: GPL-2.0-or-later
// qt_test_support.h - what the Qt tests share (header only, since the core
// tests that link tests/support know nothing of Qt): a main for the
// offscreen platform, a watcher that records and answers every modal dialog
// and message box, event pumping until a condition holds, and screenshots.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/wait.h"

// The test program's main: the offscreen platform (no display needed), then
// the tests.
inline int QtTestMain(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Processes events until done() holds (true) or ms milliseconds have passed
// (false): TestWaitFor with the event loop turned between the polls.
inline bool PumpUntil(const std::function<bool()>& done, int ms) {
    return TestWaitFor(
        [&] {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            return done();
        },
        ms);
}

// Processes events until everything posted before the call has been
// handled (true), or ms milliseconds have passed (false). Posted events run
// in the order they were posted, so a marker posted now runs after them; it
// is checked from the loop that called, after any handler that opened a
// modal dialog has returned. A check that something does not happen after
// a click, a drop or a key waits for this rather than for a time.
inline bool PumpPosted(int ms = 5000) {
    auto ran = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        qApp, [ran] { *ran = true; }, Qt::QueuedConnection);
    return PumpUntil([&] { return *ran; }, ms);
}

// One dialog or message box as it appeared.
struct ShownDialog {
    std::string objectName;
    std::string title;
    std::string text;  // message boxes only
    int icon = -1;     // QMessageBox::Icon, message boxes only
};

inline void SaveScreenshotOf(QWidget* widget, const std::string& name);

// Records every modal dialog that is shown and answers it with the next
// queued action (by default: a message box gets OK, any other dialog is
// cancelled). Actions run from the dialog's own event loop.
class ModalWatcher : public QObject {
public:
    using Action = std::function<void(QDialog*)>;

    ModalWatcher() { qApp->installEventFilter(this); }
    ~ModalWatcher() override { qApp->removeEventFilter(this); }

    void Then(Action action) { actions_.push_back(std::move(action)); }

    std::vector<ShownDialog> shown;

    // When set, every dialog is saved as a picture (prefix_N) before it is
    // answered.
    std::string screenshotPrefix;

    static void Ok(QDialog* dialog) {
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            box->button(QMessageBox::Ok)->click();
        } else {
            dialog->accept();
        }
    }
    static void Cancel(QDialog* dialog) { dialog->reject(); }

    // A file dialog action that chooses path.
    static Action ChooseFile(const QString& path) {
        return [path](QDialog* dialog) {
            auto* files = qobject_cast<QFileDialog*>(dialog);
            ASSERT_NE(files, nullptr) << "expected a file dialog";
            files->selectFile(path);
            QMetaObject::invokeMethod(files, "accept");
        };
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) return false;
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (!dialog || !dialog->isWindow() || !dialog->isModal()) return false;
        ShownDialog entry;
        entry.objectName = dialog->objectName().toStdString();
        entry.title = dialog->windowTitle().toStdString();
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            entry.text = box->text().toStdString();
            entry.icon = box->icon();
        }
        shown.push_back(entry);
        Action action = &ModalWatcher::DefaultAction;
        if (!actions_.empty()) {
            action = std::move(actions_.front());
            actions_.pop_front();
        }
        QPointer<QDialog> guarded(dialog);
        const std::string picture =
            screenshotPrefix.empty() ? "" : screenshotPrefix + "_" + std::to_string(shown.size() - 1);
        QTimer::singleShot(0, dialog, [guarded, action, picture] {
            if (!guarded) return;
            if (!picture.empty()) SaveScreenshotOf(guarded, picture);
            action(guarded);
        });
        return false;
    }

private:
    static void DefaultAction(QDialog* dialog) {
        if (qobject_cast<QMessageBox*>(dialog)) {
            Ok(dialog);
        } else {
            Cancel(dialog);
        }
    }
    std::deque<Action> actions_;
};

// Saves a picture of widget as LUMO_TEST_TMP/screenshots/name.png for a
// person to look at; nothing compares it.
inline void SaveScreenshotOf(QWidget* widget, const std::string& name) {
    const QString folder = QStringLiteral(LUMO_TEST_TMP "/screenshots");
    QDir().mkpath(folder);
    widget->grab().save(folder + "/" + QString::fromStdString(name) + ".png");
}

inline void SaveScreenshot(QWidget* widget, const char* name) { SaveScreenshotOf(widget, name); }
