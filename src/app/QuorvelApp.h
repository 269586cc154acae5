#pragma once

#include <QObject>

#include <memory>

class AppState;
class DBusNotifier;
class LegacyScriptDetector;
class SyncEngine;
class SystemClock;

// The composition root: builds the state and the engine, logs the launch and starts the
// engine, in that order. Everything lives until the process ends.
class QuorvelApp : public QObject
{
    Q_OBJECT

public:
    explicit QuorvelApp(QObject *parent = nullptr);
    ~QuorvelApp() override;

    AppState &state() const { return *m_state; }
    SyncEngine &sync() const { return *m_sync; }

    // "Quorvel launched — version 1.2", with "?" when the version is unknown.
    static QString launchLine();

private:
    std::unique_ptr<SystemClock> m_clock;
    std::unique_ptr<DBusNotifier> m_notifier;
    std::unique_ptr<LegacyScriptDetector> m_legacyDetector;
    AppState *m_state;
    SyncEngine *m_sync;
};
