// The desktop's light or dark preference is read from the settings portal at start and
// followed when the user switches it.
#include "PrivateBus.h"
#include "platform/ColorSchemeWatcher.h"

#include <QDBusConnection>
#include <QDBusVariant>
#include <QSignalSpy>
#include <QTest>

class FakeSettingsPortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    void change(const QString &key, uint value)
    {
        Q_EMIT SettingChanged(QStringLiteral("org.freedesktop.appearance"), key, QDBusVariant(value));
    }

public Q_SLOTS:
    // Dark at start; the real portal answers with the value inside one variant more.
    QDBusVariant Read(const QString &, const QString &)
    {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(1u)));
    }

Q_SIGNALS:
    void SettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value);
};

class TestColorSchemeWatcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void followsThePortal()
    {
        PrivateBus bus;
        QVERIFY(!bus.address().isEmpty());
        FakeSettingsPortal portal;
        QDBusConnection portalBus = QDBusConnection::connectToBus(bus.address(), QStringLiteral("portal"));
        QVERIFY(
            portalBus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));

        ColorSchemeWatcher watcher(QDBusConnection::connectToBus(bus.address(), QStringLiteral("program")));
        QTRY_COMPARE(watcher.scheme(), ColorSchemeWatcher::Scheme::Dark);
        QSignalSpy changed(&watcher, &ColorSchemeWatcher::schemeChanged);

        portal.change(QStringLiteral("color-scheme"), 2);
        QTRY_COMPARE(watcher.scheme(), ColorSchemeWatcher::Scheme::Light);
        portal.change(QStringLiteral("accent-color"), 1);
        portal.change(QStringLiteral("color-scheme"), 0);
        QTRY_COMPARE(watcher.scheme(), ColorSchemeWatcher::Scheme::Unknown);
        QCOMPARE(changed.size(), 2); // the other key changed nothing
    }
};

QTEST_GUILESS_MAIN(TestColorSchemeWatcher)
#include "tst_ColorSchemeWatcher.moc"
