#include "ui/settings/ConnectionTabModel.h"

#include "services/AppSettings.h"
#include "sync/SyncEngine.h"

#include <QPointer>

ConnectionTabModel::ConnectionTabModel(AppSettings &settings, DeviceDiscovery::BrowserFactory browsers,
                                       ConnectionTester tester, QObject *parent)
    : SettingsPageModel(parent)
    , m_settings(settings)
    , m_tester(tester ? std::move(tester) : ConnectionTester(&SyncEngine::testConnection))
    , m_discovery(browsers ? new DeviceDiscovery(std::move(browsers), this) : new DeviceDiscovery(this))
{
    add(Setting::toggle(
            useCustomHost, QStringLiteral("Use custom IP / hostname"),
            [this] { return m_settings.useCustomHost(); },
            [this](bool on) { m_settings.setUseCustomHost(on); }),
        &m_settings, &AppSettings::useCustomHostChanged);
    connect(&m_settings, &AppSettings::customHostChanged, this, &ConnectionTabModel::customHostChanged);
    connect(m_discovery, &DeviceDiscovery::discoveredHostsChanged, this,
            &ConnectionTabModel::discoveryChanged);
    connect(m_discovery, &DeviceDiscovery::isBrowsingChanged, this, &ConnectionTabModel::discoveryChanged);
    connect(m_discovery, &DeviceDiscovery::hostResolved, this,
            [this](const QString &host, const QString &customHost) {
                if (host == m_resolvingHost)
                    m_resolvingHost.clear();
                m_settings.setCustomHost(customHost);
                m_settings.setUseCustomHost(true);
                Q_EMIT discoveryChanged();
            });
    connect(m_discovery, &DeviceDiscovery::hostResolveFailed, this,
            [this](const QString &host, const QString &reason) {
                if (host == m_resolvingHost)
                    m_resolvingHost.clear();
                m_useErrors.insert(host, reason);
                Q_EMIT discoveryChanged();
            });
}

ConnectionTabModel::~ConnectionTabModel() = default;

QString ConnectionTabModel::hostFieldLabel()
{
    return AppSettings::defaultHost;
}

QString ConnectionTabModel::defaultHostNote()
{
    return QStringLiteral("Default is ") + AppSettings::defaultHost
        + QStringLiteral(" — the M-1620's USB control address.");
}

QString ConnectionTabModel::customHost() const
{
    return m_settings.customHost();
}

void ConnectionTabModel::editCustomHost(const QString &text)
{
    m_settings.setCustomHost(text);
}

bool ConnectionTabModel::isHostFieldEnabled() const
{
    return m_settings.useCustomHost();
}

QString ConnectionTabModel::hostToTest() const
{
    return m_settings.effectiveHost();
}

void ConnectionTabModel::runConnectionTest()
{
    if (m_testing)
        return;
    const QString host = hostToTest();
    m_testing = true;
    m_testOutcome.reset();
    Q_EMIT testChanged();
    // Left to run on its own: the task keeps itself alive until the client's answer or
    // time-out, and the coroutine checks that this model is still there before it writes.
    test(host);
}

QCoro::Task<> ConnectionTabModel::test(QString host)
{
    const QPointer<ConnectionTabModel> alive(this);
    // A copy: the model may be gone by the time the test ends.
    const ConnectionTester tester = m_tester;
    const M1620Result<DeviceStatus> result = co_await tester(host);
    if (!alive)
        co_return;
    m_testing = false;
    m_testOutcome = TestOutcome::from(result);
    Q_EMIT testChanged();
}

QStringList ConnectionTabModel::discoveredHosts() const
{
    return m_discovery->discoveredHosts();
}

bool ConnectionTabModel::isBrowsing() const
{
    return m_discovery->isBrowsing();
}

void ConnectionTabModel::setShown(bool shown)
{
    if (shown == m_shown)
        return;
    m_shown = shown;
    if (shown)
        m_discovery->startBrowsing();
    else
        m_discovery->stopBrowsing();
}

void ConnectionTabModel::useDiscoveredHost(const QString &host)
{
    m_useErrors.remove(host);
    m_resolvingHost = host;
    Q_EMIT discoveryChanged();
    m_discovery->resolveHost(host);
}
