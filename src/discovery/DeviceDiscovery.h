#pragma once

#include <QObject>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

class ServiceBrowser;

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

    static bool looksLikeDevice(const QString &serviceName);
    // The hosts to offer for a complete set of service names.
    static QStringList hostsFor(const QStringList &serviceNames);

Q_SIGNALS:
    void discoveredHostsChanged();
    void isBrowsingChanged();

private:
    void setDiscoveredHosts(const QStringList &hosts);
    void setBrowsing(bool browsing);

    BrowserFactory m_factory;
    QStringList m_discoveredHosts;
    bool m_isBrowsing = false;
    // Owned as a child: when this object goes, so does the browser and every report it had
    // yet to deliver.
    ServiceBrowser *m_browser = nullptr;
};
