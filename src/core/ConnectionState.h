#pragma once

#include <QMetaType>
#include <QString>

// How the link to the device stands. Connected and error carry a text; two values are
// equal when the case and the text are equal.
class ConnectionState
{
public:
    enum class Kind { Disconnected, Connecting, Connected, Error };

    ConnectionState() = default;

    static ConnectionState disconnected() { return {}; }
    static ConnectionState connecting() { return ConnectionState(Kind::Connecting, {}); }
    static ConnectionState connected(const QString &host) { return ConnectionState(Kind::Connected, host); }
    static ConnectionState error(const QString &message) { return ConnectionState(Kind::Error, message); }

    Kind kind() const { return m_kind; }
    bool isConnected() const { return m_kind == Kind::Connected; }
    // The host of a connected state; empty otherwise.
    QString host() const { return m_kind == Kind::Connected ? m_text : QString(); }
    // The message of an error state; empty otherwise.
    QString message() const { return m_kind == Kind::Error ? m_text : QString(); }

    friend bool operator==(const ConnectionState &, const ConnectionState &) = default;

private:
    ConnectionState(Kind kind, QString text)
        : m_kind(kind)
        , m_text(std::move(text))
    { }

    Kind m_kind = Kind::Disconnected;
    QString m_text;
};

Q_DECLARE_METATYPE(ConnectionState)

QDebug operator<<(QDebug debug, const ConnectionState &state);
