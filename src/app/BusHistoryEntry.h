#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>

// One entry of the bus interface's History: (milliseconds since the epoch, from, to), with
// from 0 when it was unknown.
struct BusHistoryEntry
{
    qint64 time = 0;
    qint64 from = 0;
    qint64 to = 0;

    friend bool operator==(const BusHistoryEntry &, const BusHistoryEntry &) = default;
};

using BusHistory = QList<BusHistoryEntry>;

inline QDBusArgument &operator<<(QDBusArgument &argument, const BusHistoryEntry &entry)
{
    argument.beginStructure();
    argument << entry.time << entry.from << entry.to;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument &operator>>(const QDBusArgument &argument, BusHistoryEntry &entry)
{
    argument.beginStructure();
    argument >> entry.time >> entry.from >> entry.to;
    argument.endStructure();
    return argument;
}

Q_DECLARE_METATYPE(BusHistoryEntry)
