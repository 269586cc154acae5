#pragma once

// The shared objects the views are given, each on this test's own temporary files. The engine
// is built for a loopback host and never started: the views only call togglePause(), which
// needs no running loop.
#include "VirtualClock.h"

#include "core/AppState.h"
#include "device/M1620Client.h"
#include "platform/Desktop.h"
#include "platform/Notifier.h"
#include "platform/SystemLog.h"
#include "platform/XdgAutostartEntry.h"
#include "services/AppSettings.h"
#include "services/LaunchAtLogin.h"
#include "services/Logger.h"
#include "services/SettingsStore.h"
#include "services/UpdateController.h"
#include "sync/LegacyScriptDetector.h"
#include "sync/SyncEngine.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

class RecordingNotifier final : public Notifier
{
public:
    QCoro::Task<> post(const QString &title, const QString &body) override
    {
        posted.append(title + QLatin1Char('|') + body);
        co_return;
    }
    QStringList posted;
};

// Records what would have reached the clipboard, the file manager or the desktop's handlers.
class RecordingDesktop final : public Desktop
{
public:
    void copyText(const QString &text) override { copied.append(text); }
    void revealFile(const QString &path) override { revealed.append(path); }
    void openUrl(const QUrl &url) override { opened.append(url); }
    QCoro::Task<bool> offer(const QString &title, const QString &, const QString &,
                            std::function<void()> onChosen) override
    {
        offered.append(title);
        chosen = std::move(onChosen);
        co_return notificationsShown;
    }

    bool notificationsShown = true;
    QStringList offered;
    std::function<void()> chosen;
    QStringList copied;
    QStringList revealed;
    QList<QUrl> opened;
};

struct UiHarness
{
    // feedUrl: where the update controller would look; empty means it can never check.
    explicit UiHarness(const QUrl &feedUrl = {})
    {
        // Never the device's default address, even though the engine is never started.
        settings.setCustomHost(QStringLiteral("127.0.0.1:9"));
        settings.setUseCustomHost(true);
        client = std::make_unique<M1620Client>(settings.effectiveHost());
        engine = std::make_unique<SyncEngine>(
            state, settings, SyncEngine::Services {client.get(), &clock, &notifier, &logger, &legacy});
        launchAtLogin = std::make_unique<LaunchAtLogin>(
            std::make_unique<XdgAutostartEntry>(autostartDir(), QStringLiteral("/usr/bin/quorvel")), logger);
        updates = std::make_unique<UpdateController>(
            UpdateController::Config {feedUrl, QStringLiteral("0.1.0"), {}, std::chrono::milliseconds(3000)},
            store, UpdateController::Services {&clock, &notifier, &logger});
    }

    QString autostartDir() const { return dir.path() + QStringLiteral("/autostart"); }
    QString autostartEntry() const { return autostartDir() + u'/' + XdgAutostartEntry::fileName; }

    // Log lines written so far, timestamps included.
    QStringList logLines()
    {
        logger.flush();
        QFile file(logger.logFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    Logger logger {dir.path() + QStringLiteral("/logs"), nullptr};
    SettingsStore store {dir.path() + QStringLiteral("/settings.json")};
    AppSettings settings {store};
    AppState state;
    VirtualClock clock;
    RecordingNotifier notifier;
    RecordingDesktop desktop;
    LegacyScriptDetector legacy {dir.path()};
    std::unique_ptr<M1620Client> client;
    std::unique_ptr<SyncEngine> engine;
    std::unique_ptr<LaunchAtLogin> launchAtLogin;
    std::unique_ptr<UpdateController> updates;
};
