// SPDX-License-Identifier: GPL-2.0-or-later
// filedialogs_qt.cpp - the file dialogs on QFileDialog.
#include "platform/filedialogs_qt.h"

#include <QFileDialog>
#include <QStringList>

#include "platform/platform.h"
#include "platform/text.h"
#include "platform/filedialogs.h"
#include "platform/msgbox_qt.h"

const char* const kSelectRawsharkTitle = "Select rawshark file";

// The capture files Wireshark's open dialog offers, in every form its file
// library reads, gzip included.
static const QString kCaptureFilePatterns = QStringLiteral(
    "*.pcap *.pcap.gz *.pcapng *.pcapng.gz *.ntar *.ntar.gz *.cap *.cap.gz *.dmp *.dmp.gz *.snoop *.snoop.gz "
    "*.erf *.erf.gz *.scap *.scap.gz *.trc *.trc.gz *.5vw *.enc *.fdc *.syc *.pkt *.tr1 *.bfr *.apc *.wpc *.wpz "
    "*.log *.pcapng.zst *.pcap.zst *.gz");

// Runs one dialog; fills path and returns 1 when a file was chosen. A
// non-empty suffix is added to a name typed without one, and the dialog then
// asks before replacing a file (the export dialogs).
static int RunFileDialog(QWidget* owner, QFileDialog::AcceptMode mode, const char* title, const QStringList& filters,
                         const char* folder, const char* objectName, char* path, size_t size, const char* suffix = "") {
    QFileDialog dialog(owner, QString::fromUtf8(title), QString::fromUtf8(folder));
    dialog.setObjectName(objectName);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, suffix[0] == '\0');
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
    dialog.setDefaultSuffix(QString::fromUtf8(suffix));
    if (dialog.exec() != QDialog::Accepted) return 0;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return 0;
    const QByteArray bytes = chosen.first().toUtf8();
    if (bytes.isEmpty() || static_cast<size_t>(bytes.size()) >= size) return 0;
    TextCopy(path, size, bytes.constData());
    return 1;
}

static int SelectRemembered(QWidget* owner, int kind, QFileDialog::AcceptMode mode, const char* title,
                            const QStringList& filters, const char* objectName, char* path, size_t size,
                            const char* suffix = "") {
    if (!RunFileDialog(owner, mode, title, filters, FileDialogInitialFolder(kind), objectName, path, size, suffix)) {
        return 0;
    }
    FileDialogRemember(kind, path);
    return 1;
}

int SelectRawsharkExe(QWidget* owner, char* path, size_t size, const char* errorCaption) {
    char folder[kPathMax];
    FileDialogRawsharkFolder(path, folder, sizeof folder);
    for (;;) {
        if (!RunFileDialog(owner, QFileDialog::AcceptOpen, kSelectRawsharkTitle, {QStringLiteral("All Files(*)")},
                           folder, "selectRawsharkDialog", path, size)) {
            return 0;
        }
        if (FileDialogIsRawshark(path)) return 1;
        ShowMessageBox(owner, kSelectRawsharkTitle, errorCaption, MsgIconError);
    }
}

int SelectFilterSetToLoad(QWidget* owner, char* path, size_t size) {
    return SelectRemembered(owner, FolderFilterSet, QFileDialog::AcceptOpen, "Load Filter Set",
                            {QStringLiteral("Filter Set(*.fs)")}, "loadFilterSetDialog", path, size);
}

int SelectFilterSetToSave(QWidget* owner, char* path, size_t size) {
    return SelectRemembered(owner, FolderFilterSet, QFileDialog::AcceptSave, "Save Filter Set",
                            {QStringLiteral("Filter Set(*.fs)")}, "saveFilterSetDialog", path, size);
}

int SelectDumpFile(QWidget* owner, char* path, size_t size) {
    return SelectRemembered(owner, FolderDump, QFileDialog::AcceptSave, "Dump network traffic",
                            {QStringLiteral("Wireshark/tcpdump(*.pcap)")}, "dumpFileDialog", path, size);
}

int SelectCaptureFile(QWidget* owner, char* path, size_t size) {
    return SelectRemembered(
        owner, FolderCaptureFile, QFileDialog::AcceptOpen, "Open Capture File",
        {QStringLiteral("All Capture Files(") + kCaptureFilePatterns + QStringLiteral(")"),
         QStringLiteral("Wireshark/tcpdump(*.pcap)"),
         QStringLiteral("Wireshark/tcpdump, gzip(*.pcap.gz *.cap *.cap.gz *.dmp *.dmp.gz)"),
         QStringLiteral("pcapng(*.pcapng *.pcapng.gz *.ntar *.ntar.gz *.scap *.scap.gz)"),
         QStringLiteral("Sun snoop(*.snoop *.snoop.gz *.cap *.cap.gz)"), QStringLiteral("Endace ERF(*.erf *.erf.gz)"),
         QStringLiteral("Compressed with gzip(*.gz)"), QStringLiteral("All Files(*)")},
        "openCaptureFileDialog", path, size);
}

int SelectExportCsvFile(QWidget* owner, char* path, size_t size) {
    return SelectRemembered(owner, FolderExport, QFileDialog::AcceptSave, "Export CSV", {QStringLiteral("CSV(*.csv)")},
                            "exportCsvDialog", path, size, "csv");
}

int SelectExportPngFile(QWidget* owner, char* path, size_t size) {
    return SelectRemembered(owner, FolderExport, QFileDialog::AcceptSave, "Export PNG",
                            {QStringLiteral("PNG image(*.png)")}, "exportPngDialog", path, size, "png");
}
