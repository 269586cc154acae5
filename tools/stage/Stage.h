#pragma once

#include "RecordingDesktop.h"
#include "RecordingNotifier.h"
#include "VirtualClock.h"

#include "core/AppState.h"
#include "device/M1620Client.h"
#include "platform/SystemLog.h"
#include "services/AppSettings.h"
#include "services/LaunchAtLogin.h"
#include "services/Logger.h"
#include "services/SettingsStore.h"
#include "services/UpdateController.h"
#include "sync/LegacyScriptDetector.h"
#include "sync/SyncEngine.h"

#include <QTemporaryDir>

#include <memory>

// The program's objects as the views are given them, on temporary files: for the tests and for
// the screenshots. The device is a loopback host, never the default address, and the engine is
// built but not started. Time stands still until moved; notifications and what would reach the
// desktop are recorded.
struct Stage
{
    // Without a feed an update check is never possible; with one, on the closed discard port,
    // a check fails at once.
    explicit Stage(bool withFeed = false);

    QString autostartDir() const { return dir.path() + QStringLiteral("/autostart"); }
    QString autostartEntry() const;

    QTemporaryDir dir;
    Logger logger {dir.path() + QStringLiteral("/logs"), nullptr};
    SettingsStore store {dir.path() + QStringLiteral("/settings.json")};
    AppSettings settings {store};
    AppState state;
    VirtualClock clock;
    RecordingNotifier notifier;
    RecordingDesktop desktop;
    LegacyScriptDetector legacy {dir.path()};
    M1620Client client {QStringLiteral("127.0.0.1:9")};
    std::unique_ptr<SyncEngine> engine;
    std::unique_ptr<LaunchAtLogin> launchAtLogin;
    std::unique_ptr<UpdateController> updates;
};
