#include "Stage.h"

#include "platform/XdgAutostartEntry.h"

Stage::Stage(bool withFeed)
{
    settings.setCustomHost(QStringLiteral("127.0.0.1:9"));
    settings.setUseCustomHost(true);
    engine = std::make_unique<SyncEngine>(
        state, settings, SyncEngine::Services {&client, &clock, &notifier, &logger, &legacy});
    launchAtLogin = std::make_unique<LaunchAtLogin>(
        std::make_unique<XdgAutostartEntry>(autostartDir(), QStringLiteral("/usr/bin/quorvel")), logger);
    const QUrl feed(withFeed ? QStringLiteral("http://127.0.0.1:9/appcast.xml") : QString());
    updates = std::make_unique<UpdateController>(
        UpdateController::Config {feed, QStringLiteral("0.1.0"), {}, std::chrono::milliseconds(3000)}, store,
        UpdateController::Services {&clock, &notifier, &logger});
}

QString Stage::autostartEntry() const
{
    return autostartDir() + u'/' + XdgAutostartEntry::fileName;
}
