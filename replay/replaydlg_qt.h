// SPDX-License-Identifier: GPL-2.0-or-later
// replaydlg_qt.h - the dialog of tarvo_gui: pick an interface and a capture
// file, start and stop the replay tool, watch the elapsed time.
//
// The dialog binds its controls to the steps of replay.h over one
// ReplayRecord; it holds no replay state of its own. Everything here runs on
// the dialog's (GUI) thread.
//
// Object names: interfaceCaption, interfaceBox, addressLabel, fileCaption,
// pcapEdit, chooseButton, timeCaption, timeLabel, startButton, stopButton,
// exitButton, replayTimer; the file dialog is openCaptureFileDialog.
#pragma once

#include <QDialog>

#include "replay/replay.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

class ReplayDialog : public QDialog {
    Q_OBJECT
public:
    // A dialog over record (which it does not own); lists nothing yet.
    explicit ReplayDialog(ReplayRecord* record, QWidget* parent = nullptr);
    // Ends a tool still running (the Exit sequence without closing).
    ~ReplayDialog() override;

    // The dialog's opening: lists the interfaces (at most 16) into the box,
    // selects the first, shows its address, disables Stop and starts the
    // 50 ms timer. Returns 1, or 0 after showing "pcap_findalldevs() error"
    // or "Network Interface is not found." (the dialog must then end).
    int Open();

    // The control handlers (public so tests can drive a single timer tick).
    void OnInterfaceChanged();
    void OnChoose();
    void OnStart();
    void OnStop();
    void OnTimer();

    // Exit, Esc and the close box: kills the tool, ends the dialog with 0.
    void reject() override;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    ReplayRecord* record_;
    QComboBox* interfaceBox_;
    QLabel* addressLabel_;
    QLineEdit* pcapEdit_;
    QPushButton* chooseButton_;
    QLabel* timeLabel_;
    QPushButton* startButton_;
    QPushButton* stopButton_;
    QPushButton* exitButton_;
    QTimer* timer_;
};

// running = 1 disables the interface box, the file field, "..." and Start
// and enables Stop; running = 0 the opposite.
void ReplaySetRunning(ReplayDialog* dialog, int running);

// The file dialog "Open Capture File" (filters "Wireshark/tcpdump(*.pcap)"
// first, then *.pcapng; the file must exist). buffer is emptied first.
// Returns 1 with the chosen path in buffer (size bytes), 0 when the user
// cancelled or the path does not fit.
int ReplayChooseFile(QWidget* owner, char* buffer, int size);

// A message box with caption "tarvo", the error icon and an OK button.
void ReplayShowError(QWidget* owner, const char* text);

// 1 when a dropped file's path ends in ".pcap" or ".pcapng", any case.
int ReplayIsCaptureFileName(const char* path);
