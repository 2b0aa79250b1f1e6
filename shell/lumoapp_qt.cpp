// SPDX-License-Identifier: GPL-2.0-or-later
// lumoapp_qt.cpp - start-up, event loop and shutdown of lumo.
#include "shell/lumoapp_qt.h"

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "shell/debuglog.h"
#include "shell/lumowindow_qt.h"
#include "shell/settings.h"

// The one settings record of the process.
static Settings LumoSettings;
static LumoWindow* LumoWindowInstance = nullptr;

// ---------------------------------------------------------------- signals
// SIGINT (Ctrl+C in the terminal that started the program) and SIGTERM end
// the program as Exit does, so that settings and the start-up filter set are
// saved. The handler only writes a byte to a socket the event loop watches.

static int SignalPipe[2] = {-1, -1};

static void OnSignal(int) {
    const char byte = 1;
    ssize_t ignored = write(SignalPipe[1], &byte, 1);
    (void)ignored;
}

static QSocketNotifier* InstallSignals() {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0) {
        DEBUG_LOG("socketpair() err,errno=%d", errno);
        return nullptr;
    }
    auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char byte;
        ssize_t ignored = read(SignalPipe[0], &byte, 1);
        (void)ignored;
        if (LumoWindowInstance) LumoWindowInstance->close();
    });
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return notifier;
}

static void RemoveSignals(QSocketNotifier* notifier) {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    delete notifier;
    for (int& fd : SignalPipe) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

// ---------------------------------------------------------------- entry

LumoWindow* LumoMainWindow() { return LumoWindowInstance; }

int LumoRun() {
    memset(&LumoSettings, 0, sizeof LumoSettings);
    SettingsLoad(&LumoSettings, SettingsLumo);
    DEBUG_LOG("Lumo (%s) start", LUMO_VERSION_TEXT);

    // The window ends the loop itself when it is destroyed; a box shown while
    // no window is visible must not end a later loop.
    QApplication::setQuitOnLastWindowClosed(false);
    auto* window = new LumoWindow(&LumoSettings);
    LumoWindowInstance = window;
    if (!window->CreateAndShow()) {
        DEBUG_LOG("CreateWindow() err,GetLastError=%d", 0);
        LumoWindowInstance = nullptr;
        delete window;
        return 0;  // the settings file stays as it was
    }

    QSocketNotifier* signalNotifier = InstallSignals();
    const int code = QApplication::exec();
    RemoveSignals(signalNotifier);

    LumoWindowInstance = nullptr;
    delete window;
    SettingsSave(&LumoSettings, SettingsLumo);
    DEBUG_LOG("Lumo exit");
    return code;
}
