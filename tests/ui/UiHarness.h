#pragma once

// The objects the views are given, on this test's own temporary files. The engine is built for
// a loopback host and never started; the views only call togglePause(). DNS-SD browsers are
// fakes the test drives.
#include "VirtualClock.h"
#include "discovery/FakeServiceBrowser.h"

#include "core/AppState.h"
#include "device/M1620Client.h"
#include "discovery/DeviceDiscovery.h"
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
#include <QPointer>
#include <QTemporaryDir>
#include <QUrl>

class SilentNotifier final : public Notifier
{
public:
    QCoro::Task<> post(const QString &, const QString &) override { co_return; }
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
    std::function<void()> chosen;
    QStringList offered, copied, revealed;
    QList<QUrl> opened;
};

struct UiHarness
{
    // Without a feed a check is never possible; with one, on the closed discard port, a check
    // runs and fails at once.
    explicit UiHarness(bool withFeed = false)
    {
        const QUrl feedUrl(withFeed ? QStringLiteral("http://127.0.0.1:9/appcast.xml") : QString());
        // Never the device's default address, even though the engine is never started.
        settings.setCustomHost(QStringLiteral("127.0.0.1:9"));
        settings.setUseCustomHost(true);
        updates = std::make_unique<UpdateController>(
            UpdateController::Config {feedUrl, QStringLiteral("0.1.0"), {}, std::chrono::milliseconds(3000)},
            store, UpdateController::Services {&clock, &notifier, &logger});
    }

    QString autostartDir() const { return dir.path() + QStringLiteral("/autostart"); }
    QString autostartEntry() const { return autostartDir() + u'/' + XdgAutostartEntry::fileName; }
    QStringList logLines()
    {
        logger.flush();
        QFile file(logger.logFile());
        return file.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
            : QStringList();
    }

    // The newest fake browser is the one in use; made.count(nullptr) are the deleted ones.
    DeviceDiscovery::BrowserFactory browsers()
    {
        return [this] {
            auto browser = std::make_unique<FakeServiceBrowser>();
            made.append(browser.get());
            return browser;
        };
    }
    FakeServiceBrowser *browser() const { return made.isEmpty() ? nullptr : made.last().data(); }

    QTemporaryDir dir;
    Logger logger {dir.path() + QStringLiteral("/logs"), nullptr};
    SettingsStore store {dir.path() + QStringLiteral("/settings.json")};
    AppSettings settings {store};
    AppState state;
    VirtualClock clock;
    SilentNotifier notifier;
    RecordingDesktop desktop;
    LegacyScriptDetector legacy {dir.path()};
    M1620Client client {QStringLiteral("127.0.0.1:9")};
    std::unique_ptr<SyncEngine> engine = std::make_unique<SyncEngine>(
        state, settings, SyncEngine::Services {&client, &clock, &notifier, &logger, &legacy});
    std::unique_ptr<LaunchAtLogin> launchAtLogin = std::make_unique<LaunchAtLogin>(
        std::make_unique<XdgAutostartEntry>(autostartDir(), QStringLiteral("/usr/bin/quorvel")), logger);
    std::unique_ptr<UpdateController> updates;
    QList<QPointer<FakeServiceBrowser>> made;
};
