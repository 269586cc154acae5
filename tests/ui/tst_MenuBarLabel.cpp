#include "ui/panel/MenuBarLabel.h"

#include "core/AppState.h"
#include "services/AppSettings.h"
#include "services/SettingsStore.h"

#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>

using std::optional;

class TestMenuBarLabel : public QObject
{
    Q_OBJECT

    struct Objects
    {
        QTemporaryDir dir;
        SettingsStore store {dir.path() + QStringLiteral("/settings.json")};
        AppSettings settings {store};
        AppState state;
    };

private Q_SLOTS:
    void iconRuleInItsOrder_data()
    {
        QTest::addColumn<bool>("mismatch");
        QTest::addColumn<bool>("legacy");
        QTest::addColumn<ConnectionState>("connection");
        QTest::addColumn<QString>("icon");
        const auto connected = ConnectionState::connected(QStringLiteral("172.20.0.1"));
        const QString warning = QStringLiteral("exclamationmark.triangle.fill");
        QTest::newRow("connected") << false << false << connected << "metronome.fill";
        QTest::newRow("connecting") << false << false << ConnectionState::connecting() << "metronome";
        QTest::newRow("disconnected") << false << false << ConnectionState::disconnected() << "metronome";
        QTest::newRow("error") << false << false << ConnectionState::error(QStringLiteral("timed out"))
                               << "metronome";
        QTest::newRow("mismatch while connected") << true << false << connected << warning;
        QTest::newRow("legacy while connecting") << false << true << ConnectionState::connecting() << warning;
        QTest::newRow("legacy while connected") << false << true << connected << warning;
        QTest::newRow("both") << true << true << connected << warning;
    }

    void iconRuleInItsOrder()
    {
        QFETCH(bool, mismatch);
        QFETCH(bool, legacy);
        QFETCH(ConnectionState, connection);
        QFETCH(QString, icon);
        QCOMPARE(MenuBarLabel::iconNameFor(mismatch, legacy, connection), icon);

        // A live label reaches the same answer as the state changes, and a new one from the state.
        Objects o;
        MenuBarLabel label(o.state, o.settings);
        o.state.setRateMismatch(mismatch);
        o.state.setLegacyScriptDetected(legacy);
        o.state.setConnectionState(connection);
        QCOMPARE(label.iconName(), icon);
        QCOMPARE(MenuBarLabel(o.state, o.settings).iconName(), icon);
    }

    // The rate shows in every connection state; only the setting and an absent rate hide it.
    void rateTextRule_data()
    {
        QTest::addColumn<bool>("show");
        QTest::addColumn<optional<qint64>>("deviceRate");
        QTest::addColumn<ConnectionState>("connection");
        QTest::addColumn<optional<QString>>("text");
        const auto connected = ConnectionState::connected(QStringLiteral("h"));
        const auto error = ConnectionState::error(QStringLiteral("gone"));
        QTest::newRow("hidden by the setting")
            << false << optional<qint64>(48000) << connected << optional<QString>();
        QTest::newRow("48000 in error")
            << true << optional<qint64>(48000) << error << optional<QString>(QStringLiteral("48k"));
        QTest::newRow("44100 connected")
            << true << optional<qint64>(44100) << connected << optional<QString>(QStringLiteral("44.1k"));
        QTest::newRow("176400 connecting")
            << true << optional<qint64>(176400) << ConnectionState::connecting()
            << optional<QString>(QStringLiteral("176.4k"));
        QTest::newRow("zero is a rate") << true << optional<qint64>(0) << ConnectionState::disconnected()
                                        << optional<QString>(QStringLiteral("0k"));
        QTest::newRow("absent rate, connected")
            << true << optional<qint64>() << connected << optional<QString>();
    }

    void rateTextRule()
    {
        QFETCH(bool, show);
        QFETCH(optional<qint64>, deviceRate);
        QFETCH(ConnectionState, connection);
        QFETCH(optional<QString>, text);
        QCOMPARE(MenuBarLabel::rateTextFor(show, deviceRate), text);

        Objects o;
        MenuBarLabel label(o.state, o.settings);
        o.settings.setShowRateInMenuBar(show);
        o.state.setDeviceRate(deviceRate);
        o.state.setConnectionState(connection);
        QCOMPARE(label.rateText(), text);
        QCOMPARE(MenuBarLabel(o.state, o.settings).rateText(), text);
    }

    void followsEachOfTheFiveValuesAndAnnouncesOnlyRealChanges()
    {
        Objects o;
        MenuBarLabel label(o.state, o.settings);
        QSignalSpy icons(&label, &MenuBarLabel::iconNameChanged);
        QSignalSpy rates(&label, &MenuBarLabel::rateTextChanged);
        QSignalSpy stale(&label, &MenuBarLabel::rateStaleChanged);

        o.state.setConnectionState(ConnectionState::connecting()); // still "metronome"
        o.state.setConnectionState(ConnectionState::connected(QStringLiteral("a")));
        o.state.setConnectionState(ConnectionState::connected(QStringLiteral("b"))); // same symbol
        QCOMPARE(icons.count(), 1);

        o.state.setDeviceRate(48000); // the rate is hidden by the setting
        QCOMPARE(rates.count(), 0);
        o.settings.setShowRateInMenuBar(true);
        o.state.setDeviceRate(44100);
        QCOMPARE(rates.count(), 2);
        QCOMPARE(label.toolTip(), QStringLiteral("Quorvel — 44.1k"));

        o.state.setPaused(true); // a paused program looks like a running one
        o.state.setLegacyScriptDetected(true);
        o.state.setRateMismatch(true); // already the warning
        o.state.setLegacyScriptDetected(false); // the mismatch keeps it
        QCOMPARE(icons.count(), 2);
        o.state.setRateMismatch(false);
        QCOMPARE(icons.count(), 3);
        QCOMPARE(rates.count(), 2); // the symbol changed, not the rate

        // A lost device keeps its last rate, marked stale, and the tooltip says why.
        o.state.setConnectionState(ConnectionState::error(QStringLiteral("The request timed out")));
        QVERIFY(label.rateStale());
        QCOMPARE(label.toolTip(), QStringLiteral("M-1620 not found: The request timed out"));
        o.state.setDeviceRate(std::nullopt); // nothing shown, nothing stale
        QCOMPARE(rates.count(), 3);
        QCOMPARE(stale.count(), 2);
        QCOMPARE(MenuBarLabel::toolTipFor(ConnectionState::connected(QStringLiteral("h")), std::nullopt),
                 QStringLiteral("Quorvel"));
        QCOMPARE(MenuBarLabel::toolTipFor(ConnectionState::connecting(), QStringLiteral("48k")),
                 QStringLiteral("Looking for M-1620…"));
    }

    void germanLocaleStillUsesAFullStop()
    {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_ALL, "de_DE.UTF-8"); // where the machine has it
        Objects o;
        o.settings.setShowRateInMenuBar(true);
        o.state.setDeviceRate(44100);
        MenuBarLabel label(o.state, o.settings);
        const optional<QString> text = label.rateText();
        std::setlocale(LC_ALL, "C");
        QLocale::setDefault(before);
        QCOMPARE(text, optional<QString>(QStringLiteral("44.1k")));
    }
};

QTEST_GUILESS_MAIN(TestMenuBarLabel)
#include "tst_MenuBarLabel.moc"
