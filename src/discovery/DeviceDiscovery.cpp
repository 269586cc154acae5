#include "discovery/DeviceDiscovery.h"

#include "core/SetAndNotify.h"
#include "discovery/AvahiBrowser.h"
#include "discovery/DiscoveryLogging.h"
#include "discovery/ServiceBrowser.h"

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
    m_browser->start();
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
