// SPDX-License-Identifier: GPL-2.0-or-later
// readingdlg_qt.cpp - the reading dialog of lumo_offline.
#include "offline/readingdlg_qt.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/msgbox_qt.h"

ReadingDialog::ReadingDialog(QWidget* owner, CaptureFileJob* job, const char* caption)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), job_(job), caption_(caption) {
    setObjectName("readingDialog");
    setModal(true);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    // A thin border instead of a caption or system menu.
    auto* frame = new QFrame(this);
    frame->setObjectName("readingFrame");
    frame->setFrameShape(QFrame::Box);
    outer->addWidget(frame);
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(24, 16, 24, 16);
    label_ = new QLabel(QStringLiteral("Reading Capture File ..."), frame);
    label_->setObjectName("readingLabel");
    layout->addWidget(label_);
    progress_ = new QProgressBar(frame);
    progress_->setObjectName("readingProgress");
    progress_->setRange(0, 1000);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    layout->addWidget(progress_);
    timer_ = new QTimer(this);
    timer_->setObjectName("readingTimer");
    connect(timer_, &QTimer::timeout, this, &ReadingDialog::OnTick);
    timer_->start(kReadingPollMs);
}

// Enter and Esc are taken and do nothing: the dialog closes only when the
// run has ended.
void ReadingDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape: event->accept(); return;
        default: QDialog::keyPressEvent(event);
    }
}

void ReadingDialog::closeEvent(QCloseEvent* event) { event->ignore(); }

void ReadingDialog::OnTick() {
    int state = job_->state.load(std::memory_order_acquire);
    int64_t size = job_->fileSize.load(std::memory_order_relaxed);
    if (size > 0) {
        int64_t read = job_->bytesRead.load(std::memory_order_relaxed);
        if (progress_->maximum() == 0) progress_->setRange(0, 1000);
        progress_->setValue(static_cast<int>(read >= size ? 1000 : read * 1000 / size));
    } else if (state == CaptureFileReading) {
        progress_->setRange(0, 0);  // a pipe or a file still opening: busy
    }
    if (state != CaptureFileFinished && state != CaptureFileFailed) return;
    timer_->stop();
    // The thread releases its processes after setting the state; the store
    // is emptied (after a failure) and read (after success) only once it has
    // ended, so no pipe reader marks it meanwhile.
    if (CaptureFileReadFinish(job_) == CaptureFileFailed) {
        ShowMessageBox(this, job_->message, caption_.constData(), MsgIconError);
    } else {
        progress_->setRange(0, 1000);
        progress_->setValue(1000);
        // part of the file was read and is kept: say why the rest is not
        if (job_->warning[0]) ShowMessageBox(this, job_->warning, caption_.constData(), MsgIconWarning);
    }
    done(0);
}

int RunReadingDialog(QWidget* owner, CaptureFileJob* job, const char* caption) {
    ReadingDialog dialog(owner, job, caption);
    dialog.exec();
    return 0;
}
