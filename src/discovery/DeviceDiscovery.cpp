#include "discovery/DeviceDiscovery.h"

#include "platform/NameServiceSwitch.h"

#include "core/SetAndNotify.h"
#include "discovery/AvahiBrowser.h"
#include "discovery/DiscoveryLogging.h"
#include "discovery/ServiceBrowser.h"

#include <QTimer>

namespace {
const QString localSuffix = QStringLiteral(".local");
} // namespace

DeviceDiscovery::DeviceDiscovery(QObject *parent)
    : DeviceDiscovery([] { return std::make_unique<AvahiBrowser>(serviceType); }, parent)
{ }

DeviceDiscovery::DeviceDiscovery(BrowserFactory factory, QObject *parent)
    : QObject(parent)
    , m_factory(std::move(factory))
{ }

DeviceDiscovery::~DeviceDiscovery()
{
    delete m_browser;
}

void DeviceDiscovery::startBrowsing()
{
    if (m_browser)
        return;
    std::unique_ptr<ServiceBrowser> browser = m_factory();
    if (!browser)
        return;
    qCDebug(lcDiscovery) << "browsing for" << serviceType;
    browser->setParent(this);
    m_browser = browser.release();
    connect(m_browser, &ServiceBrowser::ready, this, [this] {
        qCDebug(lcDiscovery) << "browser ready";
        setBrowsing(true);
    });
    // A failed browser is not retried, and it stays until stopBrowsing(); the user's log never
    // hears of it, only this category.
    connect(m_browser, &ServiceBrowser::failed, this, [this](const QString &reason) {
        qCDebug(lcDiscovery) << "browser failed:" << reason;
        setBrowsing(false);
    });
    connect(m_browser, &ServiceBrowser::servicesChanged, this, [this](const QStringList &names) {
        const QStringList hosts = hostsFor(names);
        qCDebug(lcDiscovery) << "services" << names << "offered as" << hosts;
        setDiscoveredHosts(hosts);
    });
    connect(m_browser, &ServiceBrowser::resolved, this,
            [this](const QString &name, const ServiceBrowser::Endpoint &endpoint) {
                const QString customHost = customHostFor(endpoint, NameServiceSwitch::resolvesLocalNames());
                finishResolve(name, [&](const QString &host) { Q_EMIT hostResolved(host, customHost); });
            });
    connect(m_browser, &ServiceBrowser::resolveFailed, this,
            [this](const QString &name, const QString &reason) {
                finishResolve(name, [&](const QString &host) {
                    Q_EMIT hostResolveFailed(host, QStringLiteral("Could not reach this device: ") + reason);
                });
            });
    m_browser->start();
}

void DeviceDiscovery::resolveHost(const QString &host)
{
    const QString name = host.endsWith(localSuffix) ? host.chopped(localSuffix.size()) : host;
    if (m_resolves.contains(name))
        return; // the answer under way serves this call too
    auto *timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, name] {
        finishResolve(name, [this](const QString &host) {
            Q_EMIT hostResolveFailed(
                host,
                QStringLiteral("The device did not answer within %1 seconds.")
                    .arg(std::chrono::duration_cast<std::chrono::seconds>(resolveTimeout).count()));
        });
    });
    m_resolves.insert(name, timer);
    timer->start(resolveTimeout);
    qCDebug(lcDiscovery) << "resolving" << name;
    if (m_browser) {
        m_browser->resolve(name);
    } else {
        QMetaObject::invokeMethod(
            this,
            [this, name] {
                finishResolve(name, [this](const QString &host) {
                    Q_EMIT hostResolveFailed(host, QStringLiteral("Discovery is not running."));
                });
            },
            Qt::QueuedConnection);
    }
}

void DeviceDiscovery::finishResolve(const QString &serviceName,
                                    const std::function<void(const QString &host)> &report)
{
    QTimer *timer = m_resolves.take(serviceName);
    if (!timer)
        return; // answered already, or timed out
    timer->deleteLater();
    report(serviceName + localSuffix);
}

QString DeviceDiscovery::customHostFor(const ServiceBrowser::Endpoint &endpoint,
                                       bool systemResolvesLocalNames)
{
    const QString name
        = systemResolvesLocalNames && !endpoint.hostName.isEmpty() ? endpoint.hostName : endpoint.address;
    return endpoint.port == 80 ? name : name + u':' + QString::number(endpoint.port);
}

void DeviceDiscovery::stopBrowsing()
{
    if (ServiceBrowser *browser = std::exchange(m_browser, nullptr)) {
        qCDebug(lcDiscovery) << "browsing stopped";
        browser->disconnect(this);
        browser->stop();
        // Later, since this may run inside one of the browser's own signals.
        browser->deleteLater();
    }
    setBrowsing(false);
}

bool DeviceDiscovery::looksLikeDevice(const QString &serviceName)
{
    const QString lower = serviceName.toLower();
    for (QStringView keyword : keywords) {
        if (lower.contains(keyword))
            return true;
    }
    return false;
}

QStringList DeviceDiscovery::hostsFor(const QStringList &serviceNames)
{
    QStringList hosts;
    for (const QString &name : serviceNames) {
        if (looksLikeDevice(name))
            hosts.append(name + QStringLiteral(".local"));
    }
    return hosts;
}

void DeviceDiscovery::setDiscoveredHosts(const QStringList &hosts)
{
    setAndNotify(this, m_discoveredHosts, hosts, &DeviceDiscovery::discoveredHostsChanged);
}

void DeviceDiscovery::setBrowsing(bool browsing)
{
    setAndNotify(this, m_isBrowsing, browsing, &DeviceDiscovery::isBrowsingChanged);
}
