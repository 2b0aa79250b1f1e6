// SPDX-License-Identifier: GPL-2.0-or-later
// readingdlg_qt.h - the small modal dialog that stands while a capture file
// is read: the text "Reading Capture File ..." and a progress bar over the
// file's bytes (busy when the size is unknown), both updated at its 500 ms
// poll of the job. Enter, Esc and the close box do not close it; it ends by
// itself at the first poll that finds the job finished or failed, after the
// reader thread has ended (and, after a failure, the packet store is empty
// and the job's message shown in an error box owned by the dialog). UI
// thread.
#pragma once

#include <QDialog>

#include "offline/capfilereader.h"

class QLabel;
class QProgressBar;
class QTimer;

// The poll period of the dialog, in milliseconds.
constexpr int kReadingPollMs = 500;

// Runs the dialog for job with boxes of the given caption; returns 0 (the
// dialog's result) once the run has ended.
int RunReadingDialog(QWidget* owner, CaptureFileJob* job, const char* caption);

class ReadingDialog : public QDialog {
    Q_OBJECT
public:
    ReadingDialog(QWidget* owner, CaptureFileJob* job, const char* caption);

    // The bar's value in thousandths of the file (or of the work).
    QProgressBar* Progress() { return progress_; }

    void accept() override {}
    void reject() override {}

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnTick();

    CaptureFileJob* job_;
    QByteArray caption_;
    QLabel* label_;
    QProgressBar* progress_;
    QTimer* timer_;
};
