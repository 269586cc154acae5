#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <qcoro/qcorotask.h>

class AppState;
class DBusNotifier;
class GraphRateFollower;
class LegacyScriptDetector;
class M1620Client;
class PwMetadataAudioGraph;
class QProcessRunner;
class RateChangeCommand;
class SyncEngine;
class SystemClock;

// The composition root: builds the state and the engine, logs the launch, starts the engine
// and then, on the desktop, the front end (update controller and user interface), in that
// order. Everything lives until the process ends. The front end is handed in as a factory so
// that the headless program does not even load the widget libraries.
class QuorvelApp : public QObject
{
    Q_OBJECT

public:
    // What the desktop adds on top of the engine; absent when headless.
    class FrontEnd
    {
    public:
        virtual ~FrontEnd() = default;
        virtual void showPanel() = 0;
    };
    using FrontEndFactory = std::function<std::unique_ptr<FrontEnd>(QuorvelApp &)>;

    // An empty factory runs the engine alone.
    explicit QuorvelApp(const FrontEndFactory &makeFrontEnd = {}, QObject *parent = nullptr);
    ~QuorvelApp() override;

    AppState &state() const { return *m_state; }
    SyncEngine &sync() const { return *m_sync; }

    // What must happen before the engine goes at quit: the audio graph let go, a running
    // rate-change command ended. Bounded by their own limits.
    QCoro::Task<> finish();

    // Shows the panel (a second start asked for it); nothing when headless.
    void showPanel();

    // "Quorvel launched — version 1.2", with "?" when the version is unknown.
    static QString launchLine();

private:
    std::unique_ptr<SystemClock> m_clock;
    std::unique_ptr<DBusNotifier> m_notifier;
    std::unique_ptr<LegacyScriptDetector> m_legacyDetector;
    std::unique_ptr<QProcessRunner> m_processes;
    std::unique_ptr<PwMetadataAudioGraph> m_audioGraph;
    AppState *m_state;
    M1620Client *m_client;
    SyncEngine *m_sync;
    GraphRateFollower *m_graphFollower;
    RateChangeCommand *m_rateCommand;
    std::unique_ptr<FrontEnd> m_frontEnd;
};
