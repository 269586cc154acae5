#pragma once

#include "app/BusHistoryEntry.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QUuid>
#include <QVariantMap>

#include <functional>

class AppSettings;
class AppState;
class SyncEngine;

// Quorvel on the session bus: what the engine knows, as read-only properties announced when
// they change, the RateChanged signal, and pause and resume. Scripts and status bars read it
// (`quorvel status`, `quorvel watch`). It writes nothing but the pause: no caller on the bus can
// change the device address or make Quorvel run anything.
class BusService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_PROPERTY(QString ConnectionState READ connectionState)
    Q_PROPERTY(QString Host READ host)
    Q_PROPERTY(QString Error READ error)
    Q_PROPERTY(qint64 DeviceRate READ deviceRate)
    Q_PROPERTY(qint64 MadiRate READ madiRate)
    Q_PROPERTY(QString MadiSync READ madiSync)
    Q_PROPERTY(bool Paused READ paused)
    Q_PROPERTY(bool RateMismatch READ rateMismatch)
    Q_PROPERTY(bool LegacyToolDetected READ legacyToolDetected)
    Q_PROPERTY(BusHistory History READ history)

public:
    static inline const QString serviceName = QStringLiteral("app.quorvel.Quorvel");
    static inline const QString objectPath = QStringLiteral("/app/quorvel/Quorvel");
    static inline const QString interfaceName = QStringLiteral("app.quorvel.Quorvel1");

    // showPanel: empty in the headless program, which has no panel.
    BusService(AppState &state, AppSettings &settings, SyncEngine &sync, std::function<void()> showPanel,
               QObject *parent = nullptr);
    ~BusService() override;

    // Puts the object and the name on the bus. The reason when it could not, else empty.
    QString registerOn(QDBusConnection bus);

    QString connectionState() const;
    QString host() const;
    QString error() const;
    qint64 deviceRate() const;
    qint64 madiRate() const;
    QString madiSync() const;
    bool paused() const;
    bool rateMismatch() const;
    bool legacyToolDetected() const;
    BusHistory history() const;

    // Every property by its bus name, as GetAll answers.
    QVariantMap properties() const;

public Q_SLOTS:
    void Pause();
    void Resume();
    void ShowPanel();

Q_SIGNALS:
    void RateChanged(qint64 from, qint64 to);

private:
    void announceSoon();
    void announce();
    void historyChanged();

    AppState &m_state;
    AppSettings &m_settings;
    SyncEngine &m_sync;
    std::function<void()> m_showPanel;
    QDBusConnection m_bus;
    QVariantMap m_announced; // what the bus was last told
    bool m_announcing = false;
    QUuid m_newestChange;
};
