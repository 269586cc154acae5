#include "app/QuorvelApp.h"

#include "core/AppState.h"
#include "core/BuildInfo.h"
#include "device/M1620Client.h"
#include "platform/DBusNotifier.h"
#include "platform/SystemClock.h"
#include "services/AppSettings.h"
#include "services/Logger.h"
#include "sync/LegacyScriptDetector.h"
#include "sync/SyncEngine.h"

QuorvelApp::QuorvelApp(const FrontEndFactory &makeFrontEnd, QObject *parent)
    : QObject(parent)
    , m_clock(std::make_unique<SystemClock>())
    , m_notifier(std::make_unique<DBusNotifier>())
    , m_legacyDetector(std::make_unique<LegacyScriptDetector>(LegacyScriptDetector::forCurrentUser()))
    , m_state(new AppState(this))
    , m_client(new M1620Client(AppSettings::shared().effectiveHost(), this))
{
    m_sync = new SyncEngine(
        *m_state, AppSettings::shared(),
        {m_client, m_clock.get(), m_notifier.get(), &Logger::shared(), m_legacyDetector.get()}, this);
    Logger::shared().info(launchLine());
    m_sync->start();
    if (makeFrontEnd)
        m_frontEnd = makeFrontEnd(*this);
    // Desktop notifications on Linux need no permission, so there is nothing to ask for here.
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
