#pragma once

#include "device/DeviceStatus.h"
#include "device/M1620Result.h"
#include "discovery/DeviceDiscovery.h"
#include "ui/settings/SettingsPageModel.h"
#include "ui/settings/TestOutcome.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

class AppSettings;

// The "Connection" tab without a pixel: the custom-host switch and field, the connection test
// and the devices found on the network. The choices live in AppSettings; the model holds only
// the tab's passing state: the running test, its last outcome and its own DeviceDiscovery.
class ConnectionTabModel : public SettingsPageModel
{
    Q_OBJECT
    Q_PROPERTY(bool testing READ testing NOTIFY testChanged)

public:
    // One status read of a host, as SyncEngine::testConnection does it.
    using ConnectionTester = std::function<QCoro::Task<M1620Result<DeviceStatus>>(const QString &host)>;

    static inline const QString useCustomHost = QStringLiteral("useCustomHost");
    static inline const QString deviceSection = QStringLiteral("Device");
    static inline const QString hostFieldPlaceholder = QStringLiteral("e.g. 192.168.1.42 or m1620.local");
    static inline const QString testTitle = QStringLiteral("Test");
    static inline const QString discoveredHeading = QStringLiteral("Discovered on network");
    static inline const QString useTitle = QStringLiteral("Use");
    static inline const QString nothingDiscovered
        = QStringLiteral("Nothing found yet. Make sure the device is on the same network.");
    static inline const QString discoveredSymbol = QStringLiteral("dot.radiowaves.left.and.right");
    // The field is labelled with the address used when it is off.
    static QString hostFieldLabel();
    static QString defaultHostNote();

    // browsers empty: the system's avahi-daemon; tester empty: SyncEngine::testConnection.
    ConnectionTabModel(AppSettings &settings, DeviceDiscovery::BrowserFactory browsers,
                       ConnectionTester tester, QObject *parent = nullptr);
    ~ConnectionTabModel() override;

    // The custom host field: its text, written to the settings on every edit, and enabled
    // only while the custom host is switched on.
    QString customHost() const;
    void editCustomHost(const QString &text);
    bool isHostFieldEnabled() const;

    // The host "Test" reads, by the effective-host rule, as the settings are now.
    QString hostToTest() const;
    bool testing() const { return m_testing; }
    std::optional<TestOutcome> testOutcome() const { return m_testOutcome; }
    // Clears the last outcome and tests hostToTest() in the background; the outcome arrives
    // as testChanged(). Does nothing while a test runs. Nothing cancels a test: one that ends
    // after the model is gone changes nothing.
    void runConnectionTest();

    QStringList discoveredHosts() const;
    bool isBrowsing() const;
    // Browsing runs exactly while the tab is on screen.
    void setShown(bool shown);
    // Looks up where the discovered host answers from here, then makes that the custom host
    // and switches it on, even when it already is. The list shows DNS-SD names, which are not
    // host names; what is stored is the resolved "host:port". A lookup that fails or takes
    // longer than DeviceDiscovery::resolveTimeout stores nothing and leaves useError(host).
    void useDiscoveredHost(const QString &host);
    // The host whose "Use" is being looked up; empty when none.
    QString resolvingHost() const { return m_resolvingHost; }
    // Why "Use" of that host stored nothing; empty when it did or was not pressed.
    QString useError(const QString &host) const { return m_useErrors.value(host); }

Q_SIGNALS:
    void customHostChanged();
    void testChanged();
    void discoveryChanged();

private:
    QCoro::Task<> test(QString host);

    AppSettings &m_settings;
    ConnectionTester m_tester;
    DeviceDiscovery *m_discovery;
    bool m_testing = false;
    bool m_shown = false;
    std::optional<TestOutcome> m_testOutcome;
    QString m_resolvingHost;
    QHash<QString, QString> m_useErrors;
};
