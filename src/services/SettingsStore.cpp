#include "services/SettingsStore.h"

#include "platform/XdgDirs.h"
#include "services/Logger.h"
#include "services/ServicesLogging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

SettingsStore &SettingsStore::shared()
{
    static SettingsStore *const instance = new SettingsStore(defaultFilePath());
    return *instance;
}

QString SettingsStore::defaultFilePath()
{
    return XdgDirs::configHome() + QStringLiteral("/Quorvel/settings.json");
}

SettingsStore::SettingsStore(const QString &filePath)
    : m_filePath(filePath)
{
    QFile file(m_filePath);
    if (!file.exists())
        return;
    QJsonParseError parseError {};
    const QJsonDocument document = file.open(QIODevice::ReadOnly)
        ? QJsonDocument::fromJson(file.readAll(), &parseError)
        : QJsonDocument();
    if (parseError.error == QJsonParseError::NoError && document.isObject()) {
        m_values = document.object();
        return;
    }
    // Kept as it is until the next write moves it aside: the user may still want it.
    qCDebug(lcServices) << "settings file" << m_filePath << "not read:" << file.errorString()
                        << parseError.errorString();
    m_fileCorrupt = true;
    Logger::shared().warn(QStringLiteral("Could not read settings from ") + m_filePath
                          + QStringLiteral(", using defaults"));
}

bool SettingsStore::contains(const QString &key) const
{
    return m_values.contains(key);
}

QJsonValue SettingsStore::value(const QString &key) const
{
    return m_values.value(key);
}

std::optional<QString> SettingsStore::stringValue(const QString &key) const
{
    const QJsonValue stored = m_values.value(key);
    if (!stored.isString())
        return std::nullopt;
    return stored.toString();
}

std::optional<bool> SettingsStore::boolValue(const QString &key) const
{
    const QJsonValue stored = m_values.value(key);
    if (!stored.isBool())
        return std::nullopt;
    return stored.toBool();
}

std::optional<qint64> SettingsStore::integerValue(const QString &key) const
{
    // JSON has only numbers: 1000 and 1000.0 are the same whole number, 1000.5 is not one.
    const QJsonValue stored = m_values.value(key);
    if (!stored.isDouble())
        return std::nullopt;
    const qint64 whole = stored.toInteger();
    if (static_cast<double>(whole) != stored.toDouble())
        return std::nullopt;
    return whole;
}

bool SettingsStore::setValue(const QString &key, const QJsonValue &value)
{
    m_values.insert(key, value);
    return write();
}

bool SettingsStore::write()
{
    QString failure;
    if (!QDir().mkpath(QFileInfo(m_filePath).absolutePath())) {
        failure = QStringLiteral("the folder cannot be created");
    } else if (!m_fileCorrupt || moveCorruptFileAside(failure)) {
        // QSaveFile writes a temporary file and renames it over the old one, so a crash or a
        // kill leaves either the old document or the new one, never a torn one.
        QSaveFile file(m_filePath);
        if (!file.open(QIODevice::WriteOnly)) {
            failure = file.errorString();
        } else {
            file.write(QJsonDocument(m_values).toJson(QJsonDocument::Indented));
            if (!file.commit())
                failure = file.errorString();
        }
    }
    if (failure.isEmpty()) {
        m_writeFailureLogged = false; // a later failure is news again
        return true;
    }
    if (!m_writeFailureLogged) {
        m_writeFailureLogged = true;
        Logger::shared().error(QStringLiteral("Could not save settings to ") + m_filePath
                               + QStringLiteral(": ") + failure);
    }
    return false;
}

bool SettingsStore::moveCorruptFileAside(QString &failure)
{
    const QString asidePath = m_filePath + QStringLiteral(".corrupt");
    // rename(2) rather than QFile::rename: it must not fall back to copying, and an older
    // ".corrupt" gives way to the newer one.
    if (std::rename(QFile::encodeName(m_filePath).constData(), QFile::encodeName(asidePath).constData())
        == 0) {
        m_fileCorrupt = false;
        Logger::shared().warn(QStringLiteral("Moved unreadable settings file to ") + asidePath);
        return true;
    }
    if (errno == ENOENT) { // gone meanwhile: nothing left to protect
        m_fileCorrupt = false;
        return true;
    }
    failure = QStringLiteral("cannot move the unreadable file aside: ")
        + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}
