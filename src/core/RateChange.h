#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QUuid>

#include <optional>

// One entry of the rate history. Immutable once made; equal only when all four fields are.
class RateChange
{
public:
    RateChange(QUuid id, QDateTime timestamp, std::optional<qint64> from, qint64 to)
        : m_id(id)
        , m_timestamp(std::move(timestamp))
        , m_from(from)
        , m_to(to)
    { }

    // A new entry with a fresh random id, stamped with the current wall-clock time.
    static RateChange make(std::optional<qint64> from, qint64 to);

    QUuid id() const { return m_id; }
    QDateTime timestamp() const { return m_timestamp; }
    std::optional<qint64> from() const { return m_from; }
    qint64 to() const { return m_to; }

    friend bool operator==(const RateChange &, const RateChange &) = default;

private:
    QUuid m_id;
    QDateTime m_timestamp;
    std::optional<qint64> m_from;
    qint64 m_to = 0;
};

using RateHistory = QList<RateChange>;

Q_DECLARE_METATYPE(RateChange)
