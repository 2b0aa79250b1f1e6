// SPDX-License-Identifier: GPL-2.0-or-later
// msgbox_qt.h - the message boxes and the icon of the graphers' windows.
// Every box has the program's caption ("Lumo", "Lumo_offline", or "lumo" for
// the rawshark file dialog), one OK button, the program's window icon and
// one of the MsgIcon icons below. UI thread.
#pragma once

class QIcon;
class QWidget;

enum MsgIcon { MsgIconNone = 0, MsgIconError = 1, MsgIconWarning = 2, MsgIconInformation = 3 };

// Shows a modal box owned by owner (may be null) and returns when it closes.
void ShowMessageBox(QWidget* owner, const char* text, const char* caption, int icon);

// The graphers' window icon (drawn once: a small graph on black).
const QIcon& ProgramIcon();
