#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Resident memory of a process (this one by default) from /proc, in KiB; -1 when unreadable.
inline qint64 residentKiB(const QString &pid = QStringLiteral("self"))
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}
