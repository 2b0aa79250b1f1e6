// SPDX-License-Identifier: GPL-2.0-or-later
// offlineapp_qt.cpp - start-up, event loop and shutdown of lumo_offline, and
// the PNG of its export mode.
#include "offline/offlineapp_qt.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "graph/drawsurface.h"
#include "graph/drawtext_qt.h"
#include "graph/surfacefile_qt.h"
#include "offline/offlinewindow_qt.h"
#include "shell/debuglog.h"
#include "shell/settings.h"

// The one settings record of the process.
static Settings OfflineSettings;
static OfflineWindow* OfflineWindowInstance = nullptr;

OfflineWindow* LumoOfflineMainWindow() { return OfflineWindowInstance; }

int LumoOfflineRun(const OfflineArgs* args) {
    memset(&OfflineSettings, 0, sizeof OfflineSettings);
    SettingsLoad(&OfflineSettings, SettingsLumoOffline);
    // --one-pass / --per-filter hold for this run only: the file keeps its
    // value unless the user changes the mode in Capture Options.
    const int32_t savedOnePass = OfflineSettings.rawshark.onePass;
    const int32_t savedJudges = OfflineSettings.rawshark.judges;
    const int overridden = args && args->onePass >= 0;
    const int judgesGiven = args && args->judges >= 0;
    if (overridden) OfflineSettings.rawshark.onePass = args->onePass;
    if (judgesGiven) OfflineSettings.rawshark.judges = args->judges;
    DEBUG_LOG("Lumo_offline (%s) start", LUMO_VERSION_TEXT);
    DrawSurfaceSetDefaultText(DrawTextQt());

    QApplication::setQuitOnLastWindowClosed(false);
    auto* window = new OfflineWindow(&OfflineSettings, args ? args->filterSet : nullptr);
    OfflineWindowInstance = window;
    // Creation cannot fail here; the check keeps the shared window's contract.
    if (!window->CreateAndShow()) {
        DEBUG_LOG("CreateWindow() err,GetLastError=%d", 0);
        OfflineWindowInstance = nullptr;
        delete window;
        return 0;
    }
    if (args && args->capture[0]) {
        window->SetCurrentCaptureFile(args->capture);
        window->PostCommand(CmdReloadCaptureFile);
    }
    const int code = QApplication::exec();
    OfflineWindowInstance = nullptr;
    delete window;
    if (overridden && OfflineSettings.rawshark.onePass == args->onePass)
        OfflineSettings.rawshark.onePass = savedOnePass;
    if (judgesGiven && OfflineSettings.rawshark.judges == args->judges) OfflineSettings.rawshark.judges = savedJudges;
    SettingsSave(&OfflineSettings, SettingsLumoOffline);
    DEBUG_LOG("Lumo_offline exit");
    return code;
}

int OfflineExportSavePng(const OfflineExport* ex, const char* path, int width, int height, char* err) {
    DrawSurfaceSetDefaultText(DrawTextQt());
    DrawSurface surface;
    if (!DrawSurfaceCreate(&surface, width, height)) {
        ErrorSet(err, "cannot make a picture of %dx%d pixels", width, height);
        return 0;
    }
    OfflineExportRender(ex, &surface);
    int ok = SurfaceSavePng(&surface, path, err);
    DrawSurfaceRelease(&surface);
    return ok;
}
