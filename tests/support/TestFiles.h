#pragma once

#include "platform/SystemLog.h"
#include "services/Logger.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size());
}

// Empty when the file is torn or holds anything but an object.
inline QJsonObject objectIn(const QString &path)
{
    return QJsonDocument::fromJson(readAll(path)).object();
}

// The log's lines without their time stamps: "[INFO] Update available: Quorvel 1.3.0".
inline QStringList logLines(Logger &logger)
{
    logger.flush();
    static const QRegularExpression stamp(QStringLiteral(R"(^\[[^\]]+\] )"));
    return QString::fromUtf8(readAll(logger.logFile()))
        .split(u'\n', Qt::SkipEmptyParts)
        .replaceInStrings(stamp, {});
}
