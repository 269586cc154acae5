#pragma once

#include "DeviceSimulator.h"
#include "VirtualClock.h"

#include "core/AppState.h"
#include "device/M1620Client.h"
#include "platform/Notifier.h"
#include "platform/SystemLog.h"
#include "services/AppSettings.h"
#include "services/Logger.h"
#include "services/SettingsStore.h"
#include "sync/LegacyScriptDetector.h"
#include "sync/SyncEngine.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
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

inline QString loopback(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

// Keeps "title: body" of every notification.
struct RecordingNotifier final : Notifier
{
    QCoro::Task<> post(const QString &title, const QString &body) override
    {
        posted << title + QStringLiteral(": ") + body;
        co_return;
    }
    QStringList posted;
};

// A loopback address with nobody listening: connections are refused at once.
inline QString closedHost()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return loopback(server.serverPort());
}

// One engine against an in-process simulator on loopback, on a clock that the test moves.
struct EngineHarness
{
    VirtualClock clock;
    RecordingNotifier notifier;
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
        settings.setCustomHost(host());
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

    void start()
    {
        engine->start();
        QVERIFY(QTest::qWaitFor([this] { return polls->count() >= 1; }, 10000));
    }

    // Lets the loop's waits pass until the next reading has been handled. Events are handled as
    // they come, not every 10 ms as in QTest::qWaitFor.
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

    // The log lines that contain needle (all by default), without their "[yyyy-MM-dd hh:mm:ss] ".
    QStringList log(const QString &needle = {})
    {
        logger.flush();
        QFile file(logger.logFile());
        QStringList lines;
        if (file.open(QIODevice::ReadOnly))
            for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts))
                if (line.contains(needle))
                    lines << line.mid(22);
        return lines;
    }

    // The waits the polling loop asked for, without the legacy watch's.
    QList<std::chrono::milliseconds> pollWaits() const
    {
        QList<std::chrono::milliseconds> waits = clock.requestedSleeps();
        waits.removeAll(SyncEngine::legacyCheckInterval);
        return waits;
    }
};
