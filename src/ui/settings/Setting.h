#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

// One thing the user sets in the settings window, described without pixels so that a form can
// draw it: a switch, a number of milliseconds within a range, a line of text, or one of a few
// choices. The value stays with its owner (AppSettings, the login entry, the updater); the
// description reads and writes it there, so it is never stale.
struct Setting
{
    enum class Kind { Switch, Milliseconds, Text, Choice };

    Kind kind = Kind::Switch;
    QString name {}; // stable: object names and tests use it
    QString title {};
    qint64 minimum = 0; // Milliseconds only
    qint64 maximum = 0;
    QStringList choices {}; // Choice only; the value is the chosen index
    std::function<QVariant()> read {};
    std::function<void(const QVariant &)> write {};

    static Setting toggle(QString name, QString title, std::function<bool()> read,
                          std::function<void(bool)> write);
    static Setting milliseconds(QString name, QString title, qint64 minimum, qint64 maximum,
                                std::function<qint64()> read, std::function<void(qint64)> write);
    static Setting text(QString name, QString title, std::function<QString()> read,
                        std::function<void(const QString &)> write);
    static Setting choice(QString name, QString title, QStringList choices, std::function<int()> read,
                          std::function<void(int)> write);

    QVariant value() const { return read(); }
    // Writes a value of the setting's kind; a number is clamped into its range.
    void set(const QVariant &value) const;
};
