#pragma once

#include <QString>

// Every way an exchange with the device can fail, as one of two cases.
class M1620Error
{
public:
    enum class Kind { Unreachable, BadResponse };

    static M1620Error unreachable(const QString &message) { return M1620Error(Kind::Unreachable, message); }
    static M1620Error badResponse() { return M1620Error(Kind::BadResponse, {}); }

    Kind kind() const { return m_kind; }
    // The user-facing text: the message for unreachable, a fixed text for a bad response.
    QString errorDescription() const;

    friend bool operator==(const M1620Error &, const M1620Error &) = default;

private:
    M1620Error(Kind kind, QString message)
        : m_kind(kind)
        , m_message(std::move(message))
    { }

    Kind m_kind;
    QString m_message;
};
