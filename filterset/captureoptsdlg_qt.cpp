// SPDX-License-Identifier: GPL-2.0-or-later
// captureoptsdlg_qt.cpp - the Capture Options dialog on Qt Widgets.
#include "filterset/captureoptsdlg_qt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <cstring>

#include "filterset/filterhistory.h"
#include "filterset/filtersetdlg.h"
#include "filterset/filtersetdlg_qt.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/filedialogs_qt.h"
#include "platform/msgbox_qt.h"

static const char* const kSwitchTexts[4] = {
    "Enable MAC address resolution",
    "Enable network address resolution",
    "Enable transport-layer port number resolution",
    "Enable concurrent (asynchronous) DNS lookups",
};
static const char* const kSwitchNames[4] = {"macCheck", "networkCheck", "transportCheck", "dnsCheck"};

CaptureOptionsDialog::CaptureOptionsDialog(QWidget* owner, CaptureOptsSettings* settings, const InterfaceInfo* list,
                                           int count, int offline, const char* caption, const char* fileCaption)
    : QDialog(owner),
      settings_(settings),
      list_(list),
      count_(list ? count : 0),
      offline_(offline),
      caption_(caption),
      fileCaption_(fileCaption) {
    setObjectName("captureOptionsDialog");
    setWindowTitle(QStringLiteral("Capture Options"));
    auto* column = new QVBoxLayout(this);

    if (!offline_) {
        auto* group = new QGroupBox(QStringLiteral("WinPcap"), this);
        group->setObjectName("captureGroup");
        auto* grid = new QGridLayout(group);
        interfaceCombo_ = new QComboBox(group);
        interfaceCombo_->setObjectName("interfaceCombo");
        interfaceCombo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        interfaceCombo_->setMinimumContentsLength(28);
        addressLabel_ = new QLabel(QStringLiteral("IP address: "), group);
        addressLabel_->setObjectName("addressLabel");
        promiscuousCheck_ = new QCheckBox(QStringLiteral("Capture packets in promiscuous mode"), group);
        promiscuousCheck_->setObjectName("promiscuousCheck");
        limitCheck_ = new QCheckBox(QStringLiteral("Limit each packet to"), group);
        limitCheck_->setObjectName("limitCheck");
        limitEdit_ = new QLineEdit(group);
        limitEdit_->setObjectName("limitEdit");
        limitEdit_->setValidator(DigitsOnly(limitEdit_));
        limitEdit_->setMaximumWidth(70);
        captureFilterCombo_ = NewHistoryCombo("captureFilterCombo", group);
        captureFilterCombo_->setMinimumWidth(260);

        grid->addWidget(NamedLabel("Interface:", "interfaceLabel", group), 0, 0);
        grid->addWidget(interfaceCombo_, 0, 1, 1, 3);
        grid->addWidget(addressLabel_, 1, 0, 1, 4);
        grid->addWidget(promiscuousCheck_, 2, 0, 1, 4);
        auto* limitRow = new QHBoxLayout;
        limitRow->addWidget(limitCheck_);
        limitRow->addWidget(limitEdit_);
        limitRow->addWidget(NamedLabel("bytes", "bytesLabel", group));
        limitRow->addStretch(1);
        grid->addLayout(limitRow, 3, 0, 1, 4);
        grid->addWidget(NamedLabel("Capture Filter:", "captureFilterLabel", group), 4, 0);
        grid->addWidget(captureFilterCombo_, 4, 1, 1, 2);
        grid->setColumnStretch(3, 1);
        column->addWidget(group);
    }

    auto* rawsharkGroup = new QGroupBox(QStringLiteral("Rawshark"), this);
    rawsharkGroup->setObjectName("rawsharkGroup");
    auto* rgrid = new QGridLayout(rawsharkGroup);
    rawsharkPathEdit_ = new QLineEdit(rawsharkGroup);
    rawsharkPathEdit_->setObjectName("rawsharkPathEdit");
    rawsharkPathEdit_->setMaxLength(kPathMax - 1);
    rawsharkPathEdit_->setMinimumWidth(280);
    auto* browse = new QPushButton(QStringLiteral("..."), rawsharkGroup);
    browse->setObjectName("browseButton");
    browse->setAutoDefault(false);
    browse->setMaximumWidth(32);
    rgrid->addWidget(NamedLabel("rawshark path:", "rawsharkPathLabel", rawsharkGroup), 0, 0);
    rgrid->addWidget(rawsharkPathEdit_, 0, 1);
    rgrid->addWidget(browse, 0, 2);
    for (int k = 0; k < 4; ++k) {
        switchChecks_[k] = new QCheckBox(QString::fromUtf8(kSwitchTexts[k]), rawsharkGroup);
        switchChecks_[k]->setObjectName(kSwitchNames[k]);
        rgrid->addWidget(switchChecks_[k], 1 + k, 0, 1, 3);
    }
    onePassCheck_ = new QCheckBox(QStringLiteral("Judge all filters in one pass"), rawsharkGroup);
    onePassCheck_->setObjectName("onePassCheck");
    onePassCheck_->setToolTip(
        QStringLiteral("One lumo_judge dissects each packet once for every filter. Off: one rawshark per filter, "
                       "from the rawshark path above."));
    rgrid->addWidget(onePassCheck_, 5, 0);
    // beside it: how many judges share the packets, by conversation
    auto* judgesRow = new QHBoxLayout;
    judgesSpin_ = new QSpinBox(rawsharkGroup);
    judgesSpin_->setObjectName("judgesSpin");
    judgesSpin_->setRange(0, 16);
    judgesSpin_->setSpecialValueText(QStringLiteral("automatic"));
    judgesSpin_->setToolTip(
        QStringLiteral("lumo_judge processes that share the packets by conversation (the pair of network "
                       "addresses), each on a core of its own. Automatic: the processors less one, at most 8. "
                       "A filter on tcp.stream, frame.time_delta and the like is judged by one."));
    judgesRow->addWidget(NamedLabel("Judges:", "judgesLabel", rawsharkGroup));
    judgesRow->addWidget(judgesSpin_);
    judgesRow->addStretch(1);
    rgrid->addLayout(judgesRow, 5, 1, 1, 2);
    connect(onePassCheck_, &QCheckBox::toggled, judgesSpin_, &QSpinBox::setEnabled);
    column->addWidget(rawsharkGroup);

    auto* bottom = new QHBoxLayout;
    auto* viewGroup = new QGroupBox(QStringLiteral("View"), this);
    viewGroup->setObjectName("viewGroup");
    auto* vrow = new QHBoxLayout(viewGroup);
    samplingEdit_ = new QLineEdit(viewGroup);
    samplingEdit_->setObjectName("samplingEdit");
    samplingEdit_->setValidator(DigitsOnly(samplingEdit_));
    samplingEdit_->setMaxLength(255);
    samplingEdit_->setMaximumWidth(100);
    vrow->addWidget(NamedLabel("Sampling Interval: ", "samplingLabel", viewGroup));
    vrow->addWidget(samplingEdit_);
    vrow->addWidget(NamedLabel("micro seconds", "microSecondsLabel", viewGroup));
    bottom->addWidget(viewGroup);
    bottom->addStretch(1);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName("okButton");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName("cancelButton");
    cancel->setAutoDefault(false);
    bottom->addWidget(ok, 0, Qt::AlignBottom);
    bottom->addWidget(cancel, 0, Qt::AlignBottom);
    column->addLayout(bottom);

    // Opening. The address line follows the preselected interface; the
    // history fills the filter combo before its text is set, since adding the
    // first item to an editable combo replaces the text.
    CaptureOptsForm form;
    CaptureOptsOpen(settings_, list_, count_, offline_, &form);
    if (!offline_) {
        lastCaptureFilterText_.clear();
        char text[600];
        for (int i = 0; i < count_; ++i) {
            CaptureOptsInterfaceText(&list_[i], text, sizeof text);
            interfaceCombo_->addItem(QString::fromUtf8(text));
        }
        interfaceCombo_->setCurrentIndex(form.interfaceIndex);
        OnInterfaceChosen(form.interfaceIndex);
        promiscuousCheck_->setChecked(form.promiscuous != 0);
        limitCheck_->setChecked(form.limitEnabled != 0);
        limitEdit_->setEnabled(form.limitEnabled != 0);
        limitEdit_->setText(QString::fromUtf8(form.limitText));
        char historyPath[kPathMax];
        if (FilterHistoryPath(kCaptureFilterHistoryFile, historyPath, sizeof historyPath)) {
            FilterHistoryRead(historyPath, &history_);
        }
        for (const std::string& item : history_) captureFilterCombo_->addItem(QString::fromStdString(item));
        captureFilterCombo_->setEditText(QString::fromUtf8(form.captureFilter));
        SetFieldColor(captureFilterCombo_, FieldWhite);
        connect(interfaceCombo_, &QComboBox::currentIndexChanged, this, &CaptureOptionsDialog::OnInterfaceChosen);
        connect(limitCheck_, &QCheckBox::toggled, this, [this](bool on) { limitEdit_->setEnabled(on); });
    }
    rawsharkPathEdit_->setText(QString::fromUtf8(form.rawsharkPath));
    const int switches[4] = {form.macResolution, form.networkResolution, form.transportResolution, form.concurrentDns};
    for (int k = 0; k < 4; ++k) switchChecks_[k]->setChecked(switches[k] != 0);
    onePassCheck_->setChecked(form.onePass != 0);
    judgesSpin_->setValue(form.judges);
    judgesSpin_->setEnabled(form.onePass != 0);
    samplingEdit_->setText(QString::fromUtf8(form.samplingText));

    connect(browse, &QPushButton::clicked, this, &CaptureOptionsDialog::OnBrowse);
    connect(ok, &QPushButton::clicked, this, &CaptureOptionsDialog::OnOk);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    if (!offline_) {
        timer_ = new QTimer(this);
        timer_->setInterval(20);
        connect(timer_, &QTimer::timeout, this, &CaptureOptionsDialog::OnTick);
        connect(this, &QDialog::finished, timer_, &QTimer::stop);
        timer_->start();
    }
}

// The address line follows every choice that comes with a selection.
void CaptureOptionsDialog::OnInterfaceChosen(int index) {
    if (index < 0 || index >= count_) return;
    char line[64];
    CaptureOptsAddressLine(&list_[index], line, sizeof line);
    addressLabel_->setText(QString::fromUtf8(line));
}

// Coloured against the interface in use (from the settings), not the one chosen
// in the dialog; each check opens the device once, so only after a change.
void CaptureOptionsDialog::OnTick() {
    const QString text = captureFilterCombo_->currentText().left(255);
    if (text != lastCaptureFilterText_) {
        fieldColor_ = CaptureOptsFieldColor(settings_->capture.iface.name, text.toUtf8().constData());
        SetFieldColor(captureFilterCombo_, fieldColor_);
    }
    lastCaptureFilterText_ = text;
}

void CaptureOptionsDialog::OnBrowse() {
    char path[kPathMax];
    path[0] = '\0';
    if (SelectRawsharkExe(this, path, sizeof path, fileCaption_.constData())) {
        rawsharkPathEdit_->setText(QString::fromUtf8(path));
    }
}

void CaptureOptionsDialog::ReadForm(CaptureOptsForm* form) const {
    memset(form, 0, sizeof *form);
    form->offline = offline_;
    form->interfaceIndex = -1;
    if (!offline_) {
        form->interfaceIndex = interfaceCombo_->currentIndex();
        form->promiscuous = promiscuousCheck_->isChecked() ? 1 : 0;
        form->limitEnabled = limitCheck_->isChecked() ? 1 : 0;
        TextCopy(form->limitText, sizeof form->limitText, limitEdit_->text().toUtf8().constData());
        TextCopy(form->captureFilter, sizeof form->captureFilter,
                 captureFilterCombo_->currentText().toUtf8().constData());
    }
    TextCopy(form->rawsharkPath, sizeof form->rawsharkPath, rawsharkPathEdit_->text().toUtf8().constData());
    form->macResolution = switchChecks_[0]->isChecked() ? 1 : 0;
    form->networkResolution = switchChecks_[1]->isChecked() ? 1 : 0;
    form->transportResolution = switchChecks_[2]->isChecked() ? 1 : 0;
    form->concurrentDns = switchChecks_[3]->isChecked() ? 1 : 0;
    form->onePass = onePassCheck_->isChecked() ? 1 : 0;
    form->judges = judgesSpin_->value();
    TextCopy(form->samplingText, sizeof form->samplingText, samplingEdit_->text().toUtf8().constData());
}

void CaptureOptionsDialog::OnOk() {
    CaptureOptsForm form;
    ReadForm(&form);
    int result;
    if (offline_) {
        result = CaptureOptsOkOffline(&form, settings_);
    } else {
        char historyPath[kPathMax];
        const char* path =
            FilterHistoryPath(kCaptureFilterHistoryFile, historyPath, sizeof historyPath) ? historyPath : nullptr;
        result = CaptureOptsOk(&form, list_, count_, history_, path, settings_);
    }
    if (result != CaptureOptsAccepted) {
        const int icon = result == CaptureOptsNoInterface ? MsgIconNone : MsgIconWarning;
        ShowMessageBox(this, CaptureOptsMessage(result), caption_.constData(), icon);
        return;
    }
    accept();
}

int RunCaptureOptionsDialog(QWidget* owner, CaptureOptsSettings* settings, const InterfaceInfo* list, int count,
                            int offline, const char* caption, const char* fileCaption) {
    CaptureOptionsDialog dialog(owner, settings, list, count, offline, caption, fileCaption);
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}
