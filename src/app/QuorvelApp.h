#pragma once

#include <QObject>

#include <memory>

class AppScenes;
class AppState;
class DBusNotifier;
class LegacyScriptDetector;
class SyncEngine;
class SystemClock;

// The composition root: builds the state and the engine, logs the launch, starts the engine
// and, on the desktop, brings up the update controller and the user interface, in that order.
// Everything lives until the process ends.
class QuorvelApp : public QObject
{
    Q_OBJECT

public:
    enum class Frontend {
        Headless, // the engine alone, on a QCoreApplication
        Desktop, // the tray, the panel and the settings window; needs a QApplication
    };

    explicit QuorvelApp(Frontend frontend = Frontend::Headless, QObject *parent = nullptr);
    ~QuorvelApp() override;

    AppState &state() const { return *m_state; }
    SyncEngine &sync() const { return *m_sync; }
    // The user interface; null when headless.
    AppScenes *scenes() const { return m_scenes.get(); }

    // Shows the panel (a second start asked for it); nothing when headless.
    void showPanel();

    // "Quorvel launched — version 1.2", with "?" when the version is unknown.
    static QString launchLine();

private:
    std::unique_ptr<SystemClock> m_clock;
    std::unique_ptr<DBusNotifier> m_notifier;
    std::unique_ptr<LegacyScriptDetector> m_legacyDetector;
    AppState *m_state;
    SyncEngine *m_sync;
    std::unique_ptr<AppScenes> m_scenes;
};
