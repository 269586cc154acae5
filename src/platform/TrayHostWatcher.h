#pragma once

#include "platform/TrayHost.h"

#include <QDBusConnection>
#include <QTimer>

class QDBusServiceWatcher;

// Tells whether a system tray is there to take an icon: a StatusNotifierItem host registered
// with org.kde.StatusNotifierWatcher on the session bus, or on X11 an XEmbed tray that owns
// the _NET_SYSTEM_TRAY_S selection of the screen. Qt asks the bus once, at the first tray icon,
// and keeps that answer for the whole run, so nothing may create a tray icon before this says
// yes; a tray that comes at login after us, or after a panel restart, is then still used.
class TrayHostWatcher : public TrayHost
{
    Q_OBJECT

public:
    // How often an X11 screen without an XEmbed tray is asked again; selection owners send
    // nothing to those who do not own the selection.
    static constexpr int xembedPollMs = 1000;

    explicit TrayHostWatcher(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~TrayHostWatcher() override;

    bool isAvailable() const override { return m_statusNotifierHost || m_xembedTray; }
    bool hasStatusNotifierHost() const { return m_statusNotifierHost; }
    bool hasXEmbedTray() const { return m_xembedTray; }

Q_SIGNALS:
    // A StatusNotifierItem host registered anew (a panel that started or restarted).
    void statusNotifierHostRegistered();

private Q_SLOTS:
    void askWatcher();
    void hostUnregistered();

private:
    void setStatusNotifierHost(bool registered);
    void pollXEmbed();

    QDBusConnection m_bus;
    QDBusServiceWatcher *m_serviceWatcher = nullptr;
    QTimer m_xembedPoll;
    quint64 m_question = 0; // the newest question to the watcher; older answers are stale
    bool m_statusNotifierHost = false;
    bool m_xembedTray = false;
};
