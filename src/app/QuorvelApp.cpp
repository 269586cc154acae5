#include "app/QuorvelApp.h"

#include "core/AppState.h"
#include "core/BuildInfo.h"
#include "device/M1620Client.h"
#include "platform/DBusNotifier.h"
#include "platform/PwMetadataAudioGraph.h"
#include "platform/QProcessRunner.h"
#include "platform/SystemClock.h"
#include "services/AppSettings.h"
#include "services/Logger.h"
#include "sync/GraphRateFollower.h"
#include "sync/LegacyScriptDetector.h"
#include "sync/RateChangeCommand.h"
#include "sync/SyncEngine.h"

QuorvelApp::QuorvelApp(const FrontEndFactory &makeFrontEnd, QObject *parent)
    : QObject(parent)
    , m_clock(std::make_unique<SystemClock>())
    , m_notifier(std::make_unique<DBusNotifier>())
    , m_legacyDetector(std::make_unique<LegacyScriptDetector>(LegacyScriptDetector::forCurrentUser()))
    , m_processes(std::make_unique<QProcessRunner>())
    , m_audioGraph(std::make_unique<PwMetadataAudioGraph>(*m_processes))
    , m_state(new AppState(this))
    , m_client(new M1620Client(AppSettings::shared().effectiveHost(), this))
{
    AppSettings &settings = AppSettings::shared();
    m_sync = new SyncEngine(
        *m_state, settings,
        {m_client, m_clock.get(), m_notifier.get(), &Logger::shared(), m_legacyDetector.get()}, this);
    m_graphFollower = new GraphRateFollower(*m_state, settings, *m_audioGraph, Logger::shared(), this);
    m_rateCommand = new RateChangeCommand(settings, *m_processes, Logger::shared(),
                                          RateChangeCommand::defaultLimit, this);
    connect(
        m_sync, &SyncEngine::rateSet, m_graphFollower,
        [this](std::optional<qint64>, qint64 to, const QString &) { m_graphFollower->deviceRateSet(to); });
    connect(m_sync, &SyncEngine::rateSet, m_rateCommand, &RateChangeCommand::rateSet);
    Logger::shared().info(launchLine());
    m_sync->start();
    if (makeFrontEnd)
        m_frontEnd = makeFrontEnd(*this);
    // Desktop notifications on Linux need no permission, so there is nothing to ask for here.
}

QCoro::Task<> QuorvelApp::finish()
{
    co_await m_graphFollower->finish();
    co_await m_rateCommand->finish();
}

void QuorvelApp::showPanel()
{
    if (m_frontEnd)
        m_frontEnd->showPanel();
}

QuorvelApp::~QuorvelApp()
{
    // The views read the state and call the engine, so they go first.
    m_frontEnd.reset();
    // The engine's loops hold guards; deleting it first ends them before their services go.
    delete m_sync;
    m_sync = nullptr;
    delete m_graphFollower;
    m_graphFollower = nullptr;
    delete m_rateCommand;
    m_rateCommand = nullptr;
    // Its request in flight ends now, so the polling loop ends at once.
    delete m_client;
    m_client = nullptr;
}

QString QuorvelApp::launchLine()
{
    const QString version = QString::fromUtf8(BuildInfo::version);
    return QStringLiteral("Quorvel launched — version ")
        + (version.isEmpty() ? QStringLiteral("?") : version);
}
