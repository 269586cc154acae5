#pragma once

#include "discovery/ServiceBrowser.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <array>
#include <chrono>
#include <functional>
#include <memory>

class QTimer;

// Finds M-1620 units on the local network by DNS-SD so that the settings window can offer them
// as hosts. Browses "_http._tcp" in the default domain and keeps the services whose name looks
// like the device, each offered as the name as received followed by ".local".
class DeviceDiscovery : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList discoveredHosts READ discoveredHosts NOTIFY discoveredHostsChanged)
    Q_PROPERTY(bool isBrowsing READ isBrowsing NOTIFY isBrowsingChanged)

public:
    using BrowserFactory = std::function<std::unique_ptr<ServiceBrowser>()>;

    static inline const QString serviceType = QStringLiteral("_http._tcp");
    // Tested in this order against the lower-cased service name; the first hit decides.
    static constexpr std::array<QStringView, 4> keywords {u"rme", u"m-1620", u"m1620", u"madi"};
    static constexpr std::chrono::milliseconds resolveTimeout {5000};

    // Browses through the system's avahi-daemon.
    explicit DeviceDiscovery(QObject *parent = nullptr);
    // Browses through whatever browser the factory makes, one per startBrowsing().
    explicit DeviceDiscovery(BrowserFactory factory, QObject *parent = nullptr);
    ~DeviceDiscovery() override;

    // Host names to offer, in the browser's order, neither sorted nor de-duplicated.
    QStringList discoveredHosts() const { return m_discoveredHosts; }
    // The browser is up and reporting.
    bool isBrowsing() const { return m_isBrowsing; }
    // A browser exists: between startBrowsing() and stopBrowsing(), failed or not.
    bool hasBrowser() const { return m_browser != nullptr; }

    // Starts a browser unless one exists (even a failed one). isBrowsing turns true later,
    // when the browser reports that it is up.
    void startBrowsing();
    // Ends the browser; isBrowsing is false at once and the list stays as it is.
    void stopBrowsing();

    // Finds out where an offered host answers from this machine, for the engine to poll:
    // hostResolved() with its custom-host text, or hostResolveFailed() with a reason for people,
    // within resolveTimeout. Exactly one of them per call, from the event loop.
    void resolveHost(const QString &host);

    static bool looksLikeDevice(const QString &serviceName);
    // The hosts to offer for a complete set of service names.
    static QStringList hostsFor(const QStringList &serviceNames);
    // "name:port", without the port when it is 80. The name is the resolved host name when
    // this system looks up ".local" names through mDNS itself (nss-mdns), as the engine's
    // HTTP client does; otherwise the address, which reaches the device either way.
    static QString customHostFor(const ServiceBrowser::Endpoint &endpoint, bool systemResolvesLocalNames);

Q_SIGNALS:
    void discoveredHostsChanged();
    void isBrowsingChanged();
    void hostResolved(const QString &host, const QString &customHost);
    void hostResolveFailed(const QString &host, const QString &reason);

private:
    void setDiscoveredHosts(const QStringList &hosts);
    void setBrowsing(bool browsing);
    void finishResolve(const QString &serviceName, const std::function<void(const QString &host)> &report);

    BrowserFactory m_factory;
    // Resolves in flight by service name, each with its time-out.
    QHash<QString, QTimer *> m_resolves;
    QStringList m_discoveredHosts;
    bool m_isBrowsing = false;
    // Owned as a child: when this object goes, so does the browser and every report it had
    // yet to deliver.
    ServiceBrowser *m_browser = nullptr;
};
