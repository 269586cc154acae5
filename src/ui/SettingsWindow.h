#pragma once

#include <QWidget>

class AppState;
class QTabWidget;
class SyncEngine;

// The settings window: the "Connection" and "General" tabs. Created when the user opens it
// and gone when it closes, so what it owns (device discovery) lives only while it shows.
class SettingsWindow : public QWidget
{
    Q_OBJECT

public:
    static inline const QString title = QStringLiteral("Quorvel Settings");
    // The tabs' content size; the window adds the style's margins around it.
    static constexpr QSize contentSize {460, 420};

    SettingsWindow(AppState &state, SyncEngine &sync, QWidget *parent = nullptr);

    QTabWidget *tabs() const { return m_tabs; }

private:
    AppState &m_state;
    SyncEngine &m_sync;
    QTabWidget *m_tabs;
};
