#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

// The desktop's light or dark preference, from the freedesktop settings portal
// (org.freedesktop.appearance color-scheme), followed as the user switches it. Desktops
// without the portal, or without a preference, leave it unknown.
class ColorSchemeWatcher : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Scheme scheme READ scheme NOTIFY schemeChanged)

public:
    enum class Scheme { Unknown, Dark, Light };
    Q_ENUM(Scheme)

    // $XDG_CURRENT_DESKTOP (a colon-separated list): whose panel the icon sits on, which tells
    // its colours where the scheme does not.
    static QString currentDesktop();

    explicit ColorSchemeWatcher(QDBusConnection bus = QDBusConnection::sessionBus(),
                                QObject *parent = nullptr);

    Scheme scheme() const { return m_scheme; }
    // The portal's value: 1 prefers dark, 2 prefers light, anything else says nothing.
    static Scheme schemeFrom(const QVariant &value);

Q_SIGNALS:
    void schemeChanged();

private Q_SLOTS:
    void settingChanged(const QDBusMessage &message);

private:
    void setScheme(Scheme scheme);

    QDBusConnection m_bus;
    Scheme m_scheme = Scheme::Unknown;
};
