#pragma once

#include "DeviceSimulator.h"
#include "FakeNotificationServer.h"
#include "VirtualClock.h"

#include "core/AppState.h"
#include "device/M1620Client.h"
#include "platform/DBusNotifier.h"
#include "platform/SystemLog.h"
#include "services/AppSettings.h"
#include "services/Logger.h"
#include "services/SettingsStore.h"
#include "sync/LegacyScriptDetector.h"
#include "sync/SyncEngine.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <qcoro/qcorotask.h>

// The old script, present or not as the test says, without running pgrep.
class FakeLegacyDetector final : public LegacyScriptDetector
{
public:
    FakeLegacyDetector()
        : LegacyScriptDetector(QStringLiteral("/nonexistent"))
    { }
    QCoro::Task<bool> detect() const override { co_return present; }
    bool present = false;
};

// A loopback port with nobody listening: connections are refused at once.
inline quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

inline QString loopback(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

// One engine against an in-process simulator on loopback, on a clock that the test moves.
struct EngineHarness
{
    VirtualClock clock;
    FakeNotificationServer notifications;
    DBusNotifier notifier;
    QTemporaryDir dir;
    Logger logger {dir.path() + QStringLiteral("/logs"), nullptr};
    SettingsStore store {dir.path() + QStringLiteral("/settings.json")};
    AppSettings settings {store};
    AppState state;
    DeviceSimulator device;
    FakeLegacyDetector legacy;
    M1620Client client {QString()};
    std::unique_ptr<SyncEngine> engine;
    std::unique_ptr<QSignalSpy> polls;
    QList<ConnectionState> connectionStates;

    EngineHarness()
    {
        if (!device.listen())
            qFatal("simulator could not listen");
        // Never the default address: every engine here polls loopback.
        settings.setCustomHost(loopback(device.port()));
        settings.setUseCustomHost(true);
        client.updateHost(settings.effectiveHost());
        QObject::connect(&state, &AppState::connectionStateChanged,
                         [this] { connectionStates.append(state.connectionState()); });
        engine = std::make_unique<SyncEngine>(
            state, settings, SyncEngine::Services {&client, &clock, &notifier, &logger, &legacy});
        polls = std::make_unique<QSignalSpy>(engine.get(), &SyncEngine::pollFinished);
    }

    ~EngineHarness()
    {
        // Let the loop reach a wait before the engine goes, so no request is cut off.
        if (engine->isStarted())
            waitForPollSleep();
        engine.reset();
    }

    QString host() const { return loopback(device.port()); }

    bool waitForPollSleep()
    {
        return QTest::qWaitFor([this] { return clock.sleepersUpTo(SyncEngine::disconnectedInterval) > 0; },
                               10000);
    }

    // Starts the engine and waits for its first reading.
    void start()
    {
        engine->start();
        QVERIFY(QTest::qWaitFor([this] { return polls->count() >= 1; }, 10000));
    }

    // Lets the loop's waits pass and waits until the next reading has been handled. Events are
    // handled as they come (not every 10 ms, as QTest::qWaitFor would), so thousands of polls
    // take seconds.
    void nextPoll()
    {
        const qsizetype before = polls->count();
        QTimer tick; // wakes the loop when nothing else would, so the deadline is seen
        tick.start(50);
        const QDeadlineTimer deadline(10000);
        while (polls->count() == before && !deadline.hasExpired()) {
            if (clock.sleepersUpTo(SyncEngine::disconnectedInterval) > 0)
                clock.advanceToNextWake(SyncEngine::disconnectedInterval);
            else
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        QVERIFY2(polls->count() > before, "no poll was handled");
    }

    void nextPolls(int n)
    {
        for (int i = 0; i < n; ++i)
            nextPoll();
    }

    // The log as "[LEVEL] message" lines, timestamps cut off.
    QStringList log()
    {
        logger.flush();
        QFile file(logger.logFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        static const QRegularExpression stamp(QStringLiteral(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )"));
        for (QString &line : lines)
            line.remove(stamp);
        return lines;
    }

    QStringList logMatching(const QString &needle) { return log().filter(needle); }

    // The waits the polling loop asked for, without the legacy watch's.
    QList<std::chrono::milliseconds> pollWaits() const
    {
        QList<std::chrono::milliseconds> waits;
        for (auto wait : clock.requestedSleeps())
            if (wait != SyncEngine::legacyCheckInterval)
                waits << wait;
        return waits;
    }

    // Makes the request after every status query (the set-rate) fail with the given status,
    // and keeps the device from ever taking the rate.
    void failSetRatesWith(int status)
    {
        device.setFollowDelay(60 * 60 * 1000);
        QObject::connect(
            &device, &DeviceSimulator::requestReceived, &device, [this, status](const QJsonObject &body) {
                const QJsonObject clock = body.value(QStringLiteral("clock")).toObject();
                if (clock.value(QStringLiteral("sampling_rate"))
                        .isNull()) // queued: this answer is not the one to fail
                    QMetaObject::invokeMethod(
                        &device, [this, status] { device.setFault(SimFault::Mode::Status, 1, status); },
                        Qt::QueuedConnection);
            });
    }
};
