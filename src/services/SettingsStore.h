#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// A per-user key-value store: one JSON object in a file, typed values, written atomically
// on every change. Keys it does not know are kept; a file that does not parse is moved
// aside to "<file>.corrupt" before the next write; a write failure is logged once and the
// values stay in memory.
class SettingsStore
{
public:
    // The process-wide store at $XDG_CONFIG_HOME/Quorvel/settings.json.
    static SettingsStore &shared();
    static QString defaultFilePath();

    explicit SettingsStore(const QString &filePath);

    QString filePath() const { return m_filePath; }

    bool contains(const QString &key) const;
    // The stored value, or an undefined QJsonValue when the key is absent.
    QJsonValue value(const QString &key) const;
    std::optional<QString> stringValue(const QString &key) const; // absent unless a string
    std::optional<bool> boolValue(const QString &key) const; // absent unless a boolean
    std::optional<qint64> integerValue(const QString &key) const; // absent unless a whole number

    // Stores the value and writes the whole file. False when the write failed.
    bool setValue(const QString &key, const QJsonValue &value);

private:
    bool write();
    bool moveCorruptFileAside(QString &failure);

    QString m_filePath;
    QJsonObject m_values;
    bool m_fileCorrupt = false;
    bool m_writeFailureLogged = false;
};
