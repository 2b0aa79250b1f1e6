// SPDX-License-Identifier: GPL-2.0-or-later
// replaydlg_qt.cpp - the tarvo_gui dialog: controls laid out after the
// dialog template, each bound to a step of replay.h.
#include "replay/replaydlg_qt.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <algorithm>

#include "platform/platform.h"
#include "platform/text.h"

static const char kCaption[] = "tarvo";

void ReplayShowError(QWidget* owner, const char* text) {
    QMessageBox::critical(owner, QString::fromUtf8(kCaption), QString::fromUtf8(text));
}

int ReplayIsCaptureFileName(const char* path) { return HasExtension(path, ".pcap") || HasExtension(path, ".pcapng"); }

// Copies a path into buffer; 0 when it does not fit (a cut path names
// another file).
static int PathToBuffer(const QString& path, char* buffer, int size) {
    QByteArray bytes = path.toUtf8();
    if (size <= 0 || bytes.isEmpty() || bytes.size() >= size) return 0;
    TextCopy(buffer, static_cast<size_t>(size), bytes.constData());
    return 1;
}

int ReplayChooseFile(QWidget* owner, char* buffer, int size) {
    if (size > 0) buffer[0] = '\0';
    QFileDialog dialog(owner, QStringLiteral("Open Capture File"));
    dialog.setObjectName(QStringLiteral("openCaptureFileDialog"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Qt's own dialog everywhere, so it behaves the same on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setNameFilters(
        {QStringLiteral("Wireshark/tcpdump(*.pcap)"), QStringLiteral("Wireshark/tcpdump pcapng(*.pcapng)")});
    dialog.selectNameFilter(QStringLiteral("Wireshark/tcpdump(*.pcap)"));
    if (dialog.exec() != QDialog::Accepted) return 0;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return 0;
    return PathToBuffer(files.first(), buffer, size);
}

void ReplaySetRunning(ReplayDialog* dialog, int running) {
    const bool idle = running == 0;
    for (const char* name : {"interfaceBox", "pcapEdit", "chooseButton", "startButton"}) {
        if (QWidget* w = dialog->findChild<QWidget*>(QString::fromLatin1(name))) w->setEnabled(idle);
    }
    if (QWidget* stop = dialog->findChild<QWidget*>(QStringLiteral("stopButton"))) stop->setEnabled(!idle);
}

template <typename W>
static W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

ReplayDialog::ReplayDialog(ReplayRecord* record, QWidget* parent) : QDialog(parent), record_(record) {
    setObjectName(QStringLiteral("replayDialog"));
    setWindowTitle(QString::fromUtf8(kCaption));
    setAcceptDrops(true);

    interfaceBox_ = Named(new QComboBox(this), "interfaceBox");
    interfaceBox_->setMinimumContentsLength(40);
    addressLabel_ = Named(new QLabel(QStringLiteral("IP address:"), this), "addressLabel");
    pcapEdit_ = Named(new QLineEdit(this), "pcapEdit");
    pcapEdit_->setAcceptDrops(false);  // drops go to the dialog, which checks the extension
    chooseButton_ = Named(new QPushButton(QStringLiteral("..."), this), "chooseButton");
    chooseButton_->setAutoDefault(false);
    chooseButton_->setFixedWidth(chooseButton_->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);
    timeLabel_ = Named(new QLabel(this), "timeLabel");
    timeLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    timeLabel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    timeLabel_->setMinimumWidth(80);
    startButton_ = Named(new QPushButton(QStringLiteral("Start"), this), "startButton");
    stopButton_ = Named(new QPushButton(QStringLiteral("Stop"), this), "stopButton");
    exitButton_ = Named(new QPushButton(QStringLiteral("Exit"), this), "exitButton");
    for (QPushButton* b : {startButton_, stopButton_, exitButton_}) b->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Named(new QLabel(QStringLiteral("Interface:"), this), "interfaceCaption"), 0, 0);
    grid->addWidget(interfaceBox_, 0, 1, 1, 5);
    grid->addWidget(addressLabel_, 1, 0, 1, 6);
    grid->addWidget(Named(new QLabel(QStringLiteral("pcap file:"), this), "fileCaption"), 2, 0);
    grid->addWidget(pcapEdit_, 2, 1, 1, 4);
    grid->addWidget(chooseButton_, 2, 5);
    grid->addWidget(Named(new QLabel(QStringLiteral("Time:"), this), "timeCaption"), 3, 0, Qt::AlignRight);
    grid->addWidget(timeLabel_, 3, 1);
    grid->addWidget(startButton_, 3, 2);
    grid->addWidget(stopButton_, 3, 3);
    grid->addWidget(exitButton_, 3, 4, 1, 2);

    timer_ = Named(new QTimer(this), "replayTimer");
    timer_->setInterval(kReplayTimerMs);

    connect(interfaceBox_, &QComboBox::currentIndexChanged, this, [this] { OnInterfaceChanged(); });
    connect(chooseButton_, &QPushButton::clicked, this, [this] { OnChoose(); });
    connect(startButton_, &QPushButton::clicked, this, [this] { OnStart(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] { OnStop(); });
    connect(exitButton_, &QPushButton::clicked, this, [this] { reject(); });
    connect(timer_, &QTimer::timeout, this, [this] { OnTimer(); });
}

ReplayDialog::~ReplayDialog() { ReplayExit(record_); }

int ReplayDialog::Open() {
    char err[kErrorLen];
    int found = ReplayListInterfaces(kReplayMaxInterfaces, record_->interfaces, err);
    record_->interfaceCount = std::clamp(found, 0, kReplayMaxInterfaces);
    if (found <= 0) {
        ReplayShowError(this, err);
        return 0;
    }
    interfaceBox_->clear();
    char text[600];
    for (int i = 0; i < record_->interfaceCount; ++i) {
        ReplayInterfaceText(&record_->interfaces[i], text, sizeof text);
        interfaceBox_->addItem(QString::fromUtf8(text));
    }
    interfaceBox_->setCurrentIndex(0);
    OnInterfaceChanged();
    stopButton_->setEnabled(false);
    timer_->start();
    return 1;
}

void ReplayDialog::OnInterfaceChanged() {
    int i = interfaceBox_->currentIndex();
    if (i < 0 || i >= record_->interfaceCount) return;
    char text[64];
    ReplayAddressText(record_->interfaces[i].address, text, sizeof text);
    addressLabel_->setText(QString::fromUtf8(text));
}

void ReplayDialog::OnChoose() {
    char path[kPathMax];
    if (ReplayChooseFile(this, path, sizeof path)) pcapEdit_->setText(QString::fromUtf8(path));
}

void ReplayDialog::OnStart() {
    QByteArray path = pcapEdit_->text().toUtf8();
    char err[kErrorLen];
    if (ReplayStart(record_, interfaceBox_->currentIndex(), path.constData(), err)) {
        ReplaySetRunning(this, 1);
    } else if (err[0]) {
        ReplayShowError(this, err);
    }
}

void ReplayDialog::OnStop() {
    ReplayStop(record_);
    ReplaySetRunning(this, 0);  // the time label keeps its last value
}

void ReplayDialog::OnTimer() {
    char label[32];
    char err[kErrorLen];
    switch (ReplayTick(record_, label, sizeof label, err)) {
        case kReplayTickTime: timeLabel_->setText(QString::fromLatin1(label)); break;
        case kReplayTickEnded: ReplaySetRunning(this, 0); break;
        case kReplayTickFailed:
            ReplaySetRunning(this, 0);
            ReplayShowError(this, err);
            break;
        default: break;
    }
}

void ReplayDialog::reject() {
    ReplayExit(record_);
    timer_->stop();
    done(0);
}

void ReplayDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void ReplayDialog::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return;
    event->acceptProposedAction();
    // Only the first file counts; its existence is tested at Start.
    const QString path = urls.first().toLocalFile();
    char buffer[kPathMax];
    if (PathToBuffer(path, buffer, sizeof buffer) && ReplayIsCaptureFileName(buffer)) pcapEdit_->setText(path);
}

// The dialog's meta-object code is compiled here rather than in the
// library's shared moc object, so tarvo_gui links only the replay code and
// not every other window of the library.
#include "moc_replaydlg_qt.cpp"
