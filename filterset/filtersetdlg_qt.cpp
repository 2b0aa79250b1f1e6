// SPDX-License-Identifier: GPL-2.0-or-later
// filtersetdlg_qt.cpp - the filter set dialogs on Qt Widgets.
//
//   FieldBackground, SetFieldColor     shared with the Capture Options dialog
//   FilterConfigDialog                 one filter
//   FilterSetConfigDialog              the list
#include "filterset/filtersetdlg_qt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>

#include "filterset/filterhistory.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/msgbox_qt.h"

// ---------------------------------------------------------------- field colours

QColor FieldBackground(int fieldColor) {
    switch (fieldColor) {
        case FieldValid: return QColor(QRgb(kValidColor));
        case FieldInvalid: return QColor(QRgb(kInvalidColor));
        default: return QColor(Qt::white);
    }
}

void SetFieldColor(QWidget* field, int fieldColor) {
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, FieldBackground(fieldColor));
    field->setPalette(palette);
    if (auto* combo = qobject_cast<QComboBox*>(field)) {
        if (QLineEdit* edit = combo->lineEdit()) edit->setPalette(palette);
    }
    field->update();
}

// A text with an object name, as every control has one.
QLabel* NamedLabel(const char* text, const char* name, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(name);
    return label;
}

// Lets an edit field take digits only.
QRegularExpressionValidator* DigitsOnly(QObject* parent) {
    return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), parent);
}

// Without a completer the field neither completes inline from the items nor
// swaps the typed text for an item that differs in case when Return is
// pressed (the combo box then matches items case-sensitively).
QComboBox* NewHistoryCombo(const char* name, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(true);
    combo->setCompleter(nullptr);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->lineEdit()->setMaxLength(255);
    return combo;
}

// ---------------------------------------------------------------- Filter Configuration

FilterConfigDialog::FilterConfigDialog(QWidget* owner, FilterEntry* edited, const char* caption)
    : QDialog(owner), edited_(edited), caption_(QString::fromUtf8(caption)) {
    setObjectName("filterConfigDialog");
    setWindowTitle(QStringLiteral("Filter Configuration"));

    filterCombo_ = NewHistoryCombo("filterCombo", this);
    filterCombo_->setMinimumWidth(320);
    scaleEdit_ = new QLineEdit(this);
    scaleEdit_->setObjectName("scaleEdit");
    scaleEdit_->setValidator(DigitsOnly(scaleEdit_));
    autoScaleCheck_ = new QCheckBox(QStringLiteral("Auto scale"), this);
    autoScaleCheck_->setObjectName("autoScaleCheck");
    unitCombo_ = new QComboBox(this);
    unitCombo_->setObjectName("unitCombo");
    colorEdit_ = new QLineEdit(this);
    colorEdit_->setObjectName("colorEdit");
    autoColorCheck_ = new QCheckBox(QStringLiteral("Auto color"), this);
    autoColorCheck_->setObjectName("autoColorCheck");
    calcCombo_ = new QComboBox(this);
    calcCombo_->setObjectName("calcCombo");
    calcFieldEdit_ = new QLineEdit(this);
    calcFieldEdit_->setObjectName("calcFieldEdit");
    calcFieldEdit_->setMaxLength(kCalcFieldSize - 1);
    calcFieldEdit_->setPlaceholderText(QStringLiteral("field, e.g. tcp.analysis.ack_rtt"));
    styleCombo_ = new QComboBox(this);
    styleCombo_->setObjectName("styleCombo");
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName("okButton");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName("cancelButton");
    cancel->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(NamedLabel("Filter", "filterLabel", this), 0, 0);
    grid->addWidget(filterCombo_, 0, 1, 1, 3);
    grid->addWidget(NamedLabel("Scale", "scaleLabel", this), 1, 0);
    grid->addWidget(scaleEdit_, 1, 1);
    grid->addWidget(autoScaleCheck_, 1, 2);
    grid->addWidget(NamedLabel("Unit", "unitLabel", this), 2, 0);
    grid->addWidget(unitCombo_, 2, 1);
    grid->addWidget(ok, 2, 3);
    grid->addWidget(NamedLabel("Color\n(RGB)", "colorLabel", this), 3, 0);
    grid->addWidget(colorEdit_, 3, 1);
    grid->addWidget(autoColorCheck_, 3, 2);
    grid->addWidget(cancel, 3, 3);
    grid->addWidget(NamedLabel("Calculation", "calcLabel", this), 4, 0);
    grid->addWidget(calcCombo_, 4, 1);
    grid->addWidget(calcFieldEdit_, 4, 2, 1, 2);
    grid->addWidget(NamedLabel("Style", "styleLabel", this), 5, 0);
    grid->addWidget(styleCombo_, 5, 1);
    grid->setColumnStretch(2, 1);

    // Opening. The history fills the filter combo before its text is set,
    // since adding the first item to an editable combo replaces the text.
    FilterConfigForm form;
    FilterConfigOpen(edited_, &form);
    lastFilterText_.clear();
    for (const char* unit : kFilterUnitItems) unitCombo_->addItem(QString::fromUtf8(unit));
    unitCombo_->setCurrentIndex(form.unitIndex);
    char historyPath[kPathMax];
    if (FilterHistoryPath(kDisplayFilterHistoryFile, historyPath, sizeof historyPath)) {
        FilterHistoryRead(historyPath, &history_);
    }
    for (const std::string& item : history_) filterCombo_->addItem(QString::fromStdString(item));
    filterCombo_->setEditText(QString::fromUtf8(form.filterText));
    autoScaleCheck_->setChecked(form.autoScale != 0);
    scaleEdit_->setEnabled(form.autoScale == 0);
    autoColorCheck_->setChecked(form.autoColor != 0);
    colorEdit_->setEnabled(form.autoColor == 0);
    scaleEdit_->setText(QString::fromUtf8(form.scaleText));
    colorEdit_->setText(QString::fromUtf8(form.colorText));
    SetFieldColor(filterCombo_, FieldWhite);
    for (const char* calc : kFilterCalcItems) calcCombo_->addItem(QString::fromUtf8(calc));
    calcCombo_->setCurrentIndex(form.calcIndex);
    calcFieldEdit_->setText(QString::fromUtf8(form.calcField));
    calcFieldEdit_->setEnabled(form.calcIndex > 0);
    for (const char* style : kFilterStyleItems) styleCombo_->addItem(QString::fromUtf8(style));
    styleCombo_->setCurrentIndex(form.styleIndex);
    SetFieldColor(calcFieldEdit_, FieldWhite);
    connect(calcCombo_, &QComboBox::currentIndexChanged, this, [this](int index) {
        calcFieldEdit_->setEnabled(index > 0);
        lastCalcIndex_ = -1;  // check the field again
    });

    connect(autoScaleCheck_, &QCheckBox::toggled, this, [this](bool on) { scaleEdit_->setEnabled(!on); });
    connect(autoColorCheck_, &QCheckBox::toggled, this, [this](bool on) { colorEdit_->setEnabled(!on); });
    connect(ok, &QPushButton::clicked, this, &FilterConfigDialog::OnOk);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, [this] { timer_->stop(); });

    timer_ = new QTimer(this);
    timer_->setInterval(20);
    connect(timer_, &QTimer::timeout, this, &FilterConfigDialog::OnTick);
    timer_->start();
}

// At most one check per tick after a change of the text.
void FilterConfigDialog::OnTick() {
    const QString text = filterCombo_->currentText().left(255);
    if (text != lastFilterText_) {
        fieldColor_ = FilterConfigFieldColor(text.toUtf8().constData());
        SetFieldColor(filterCombo_, fieldColor_);
    }
    lastFilterText_ = text;
    const QString field = calcFieldEdit_->text();
    const int calc = calcCombo_->currentIndex();
    if (field != lastCalcField_ || calc != lastCalcIndex_) {
        char reason[256];
        int color = FilterConfigCalcFieldColor(field.toUtf8().constData(), calc, reason, sizeof reason);
        SetFieldColor(calcFieldEdit_, color);
        calcFieldEdit_->setToolTip(QString::fromUtf8(reason));
    }
    lastCalcField_ = field;
    lastCalcIndex_ = calc;
}

void FilterConfigDialog::ReadForm(FilterConfigForm* form) const {
    memset(form, 0, sizeof *form);
    TextCopy(form->filterText, sizeof form->filterText, filterCombo_->currentText().toUtf8().constData());
    TextCopy(form->scaleText, sizeof form->scaleText, scaleEdit_->text().toUtf8().constData());
    form->autoScale = autoScaleCheck_->isChecked() ? 1 : 0;
    form->unitIndex = unitCombo_->currentIndex();
    TextCopy(form->colorText, sizeof form->colorText, colorEdit_->text().toUtf8().constData());
    form->autoColor = autoColorCheck_->isChecked() ? 1 : 0;
    form->calcIndex = calcCombo_->currentIndex();
    TextCopy(form->calcField, sizeof form->calcField, calcFieldEdit_->text().toUtf8().constData());
    form->styleIndex = styleCombo_->currentIndex();
}

void FilterConfigDialog::OnOk() {
    FilterConfigForm form;
    ReadForm(&form);
    char historyPath[kPathMax];
    const char* path =
        FilterHistoryPath(kDisplayFilterHistoryFile, historyPath, sizeof historyPath) ? historyPath : nullptr;
    if (!FilterConfigOk(&form, history_, path, edited_)) {
        const char* why = strchr(form.filterText, '"') ? kFilterQuoteMessage : kFieldNameMessage;
        ShowMessageBox(this, why, caption_.toUtf8().constData(), MsgIconWarning);
        return;
    }
    accept();
}

int RunFilterConfigDialog(QWidget* owner, FilterEntry* edited, const char* caption) {
    FilterConfigDialog dialog(owner, edited, caption);
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

// ---------------------------------------------------------------- Filter Set Configuration

namespace {

// Label tips: a cell too narrow for its text shows the whole text in a tool
// tip; a cell that shows all of it has none.
class CutCellTipDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event->type() != QEvent::ToolTip) return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString text = index.data(Qt::DisplayRole).toString();
        if (!text.isEmpty() && sizeHint(option, index).width() > option.rect.width()) {
            QToolTip::showText(event->globalPos(), text, view->viewport(), option.rect);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
};

}  // namespace

FilterSetConfigDialog::FilterSetConfigDialog(QWidget* owner, FilterSet* applied, const char* caption)
    : QDialog(owner), applied_(applied), captionBytes_(caption) {
    setObjectName("filterSetConfigDialog");
    setWindowTitle(QStringLiteral("Filter Set Configuration"));

    // Opening: the working copy comes first, since the rows and the New
    // button are filled from it.
    FilterSetDlgOpen(&working_, applied_);
    setAcceptDrops(true);

    list_ = new QTableWidget(0, 4, this);
    list_->setObjectName("filterList");
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);
    list_->setSortingEnabled(false);
    list_->setWordWrap(false);
    list_->setAcceptDrops(false);  // drops go to the dialog
    list_->verticalHeader()->hide();
    list_->horizontalHeader()->setSectionsClickable(false);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->horizontalHeader()->setHighlightSections(false);
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
    for (int c = 0; c < 4; ++c) {
        list_->setHorizontalHeaderItem(c, new QTableWidgetItem(QString::fromUtf8(kFilterListHeaders[c])));
        list_->setColumnWidth(c, kFilterListWidths[c]);
    }
    // The filter texts are what is cut first; their column takes whatever
    // room the dialog gives the list, the others keep their widths.
    list_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->setItemDelegate(new CutCellTipDelegate(list_));
    list_->viewport()->installEventFilter(this);

    newButton_ = new QPushButton(QStringLiteral("New"), this);
    newButton_->setObjectName("newButton");
    editButton_ = new QPushButton(QStringLiteral("Edit"), this);
    editButton_->setObjectName("editButton");
    deleteButton_ = new QPushButton(QStringLiteral("Delete"), this);
    deleteButton_->setObjectName("deleteButton");
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName("okButton");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName("cancelButton");
    for (QPushButton* b : {newButton_, editButton_, deleteButton_, cancel}) b->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {newButton_, editButton_, deleteButton_, ok, cancel}) buttons->addWidget(b);
    auto* column = new QVBoxLayout(this);
    column->addWidget(list_, 1);
    column->addLayout(buttons);

    RebuildRows();
    newButton_->setEnabled(FilterSetDlgNewEnabled(&working_) != 0);
    editButton_->setEnabled(false);
    deleteButton_->setEnabled(false);

    connect(list_, &QTableWidget::itemSelectionChanged, this, &FilterSetConfigDialog::UpdateButtons);
    connect(newButton_, &QPushButton::clicked, this, &FilterSetConfigDialog::OnNew);
    connect(editButton_, &QPushButton::clicked, this, &FilterSetConfigDialog::OnEdit);
    connect(deleteButton_, &QPushButton::clicked, this, &FilterSetConfigDialog::OnDelete);
    connect(ok, &QPushButton::clicked, this, &FilterSetConfigDialog::OnOk);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    int width = 0;
    for (int w : kFilterListWidths) width += w;
    resize(width + 30, 280);
}

int FilterSetConfigDialog::SelectedRow() const {
    const QList<QTableWidgetItem*> items = list_->selectedItems();
    return items.isEmpty() ? -1 : items.first()->row();
}

void FilterSetConfigDialog::SetRow(int index, const FilterEntry* entry, int insert) {
    FilterListRow row;
    FilterListRowTexts(entry, &row);
    if (insert) list_->insertRow(index);
    const char* texts[4] = {row.filter, row.scale, row.unit, row.color};
    for (int c = 0; c < 4; ++c) {
        QTableWidgetItem* item = list_->item(index, c);
        if (!item) {
            item = new QTableWidgetItem;
            list_->setItem(index, c, item);
        }
        item->setText(QString::fromUtf8(texts[c]));
    }
}

void FilterSetConfigDialog::RebuildRows() {
    list_->clearSelection();
    list_->setRowCount(0);
    for (int i = 0; i < working_.count; ++i) SetRow(i, &working_.entries[i], 1);
}

// Edit and Delete follow the selection at once, not on a 50 ms poll.
void FilterSetConfigDialog::UpdateButtons() {
    const bool selected = SelectedRow() >= 0;
    editButton_->setEnabled(selected);
    deleteButton_->setEnabled(selected);
}

void FilterSetConfigDialog::OnNew() {
    if (!FilterSetDlgNewBegin(&working_, &editedEntry_)) {
        ShowMessageBox(this, kFilterSetMaxMessage, captionBytes_.constData(), MsgIconInformation);
        return;
    }
    if (RunFilterConfigDialog(this, &editedEntry_, captionBytes_.constData()) == 1) {
        int i = FilterSetDlgNewCommit(&working_, &editedEntry_);
        if (i >= 0) SetRow(i, &working_.entries[i], 1);
        newButton_->setEnabled(FilterSetDlgNewEnabled(&working_) != 0);
    }
}

void FilterSetConfigDialog::ActivateRow(int i) {
    if (!FilterSetDlgEditBegin(&working_, i, &editedEntry_)) return;
    if (RunFilterConfigDialog(this, &editedEntry_, captionBytes_.constData()) == 1) {
        FilterSetDlgEditCommit(&working_, i, &editedEntry_);
        SetRow(i, &working_.entries[i], 0);
    }
}

void FilterSetConfigDialog::OnEdit() { ActivateRow(SelectedRow()); }

void FilterSetConfigDialog::OnDelete() {
    const int i = SelectedRow();
    if (!FilterSetDlgDelete(&working_, i)) return;
    list_->removeRow(i);
    for (int r = 0; r < working_.count; ++r) SetRow(r, &working_.entries[r], 0);
    newButton_->setEnabled(FilterSetDlgNewEnabled(&working_) != 0);
    UpdateButtons();
}

void FilterSetConfigDialog::DropFile(const QString& path) {
    const QByteArray bytes = path.toUtf8();
    if (bytes.size() >= kPathMax) return;
    if (!FilterSetDlgDrop(&working_, bytes.constData())) return;
    RebuildRows();
    newButton_->setEnabled(FilterSetDlgNewEnabled(&working_) != 0);
    editButton_->setEnabled(false);
    deleteButton_->setEnabled(false);
}

void FilterSetConfigDialog::OnOk() {
    FilterSetDlgOk(&working_, applied_);
    accept();
}

void FilterSetConfigDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

// Only the first file counts; the drop is finished before it is handled.
void FilterSetConfigDialog::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return;
    const QString path = urls.first().toLocalFile();
    QTimer::singleShot(0, this, [this, path] { DropFile(path); });
}

// A double-click, or a click on the row that was already selected, opens
// that row's filter (two-click activation).
bool FilterSetConfigDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_->viewport()) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) {
                pressRow_ = list_->rowAt(mouse->position().toPoint().y());
                pressRowWasSelected_ = (pressRow_ >= 0 && pressRow_ == SelectedRow()) ? 1 : 0;
            }
        } else if (event->type() == QEvent::MouseButtonRelease) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const int row = list_->rowAt(mouse->position().toPoint().y());
            if (mouse->button() == Qt::LeftButton && pressRowWasSelected_ && row == pressRow_) {
                pressRowWasSelected_ = 0;
                QTimer::singleShot(0, this, [this, row] { ActivateRow(row); });
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

int RunFilterSetConfigDialog(QWidget* owner, FilterSet* applied, const char* caption) {
    FilterSetConfigDialog dialog(owner, applied, caption);
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}
