#include "ui/settings/Setting.h"

#include <algorithm>

Setting Setting::toggle(QString name, QString title, std::function<bool()> read,
                        std::function<void(bool)> write)
{
    return {.kind = Kind::Switch,
            .name = std::move(name),
            .title = std::move(title),
            .read = [read = std::move(read)] { return QVariant(read()); },
            .write = [write = std::move(write)](const QVariant &value) { write(value.toBool()); }};
}

Setting Setting::milliseconds(QString name, QString title, qint64 minimum, qint64 maximum,
                              std::function<qint64()> read, std::function<void(qint64)> write)
{
    return {.kind = Kind::Milliseconds,
            .name = std::move(name),
            .title = std::move(title),
            .minimum = minimum,
            .maximum = maximum,
            .read = [read = std::move(read)] { return QVariant(read()); },
            .write = [write = std::move(write)](const QVariant &value) { write(value.toLongLong()); }};
}

Setting Setting::text(QString name, QString title, std::function<QString()> read,
                      std::function<void(const QString &)> write)
{
    return {.kind = Kind::Text,
            .name = std::move(name),
            .title = std::move(title),
            .read = [read = std::move(read)] { return QVariant(read()); },
            .write = [write = std::move(write)](const QVariant &value) { write(value.toString()); }};
}

Setting Setting::choice(QString name, QString title, QStringList choices, std::function<int()> read,
                        std::function<void(int)> write)
{
    return {.kind = Kind::Choice,
            .name = std::move(name),
            .title = std::move(title),
            .choices = std::move(choices),
            .read = [read = std::move(read)] { return QVariant(read()); },
            .write = [write = std::move(write)](const QVariant &value) { write(value.toInt()); }};
}

void Setting::set(const QVariant &value) const
{
    write(kind == Kind::Milliseconds ? QVariant(std::clamp(value.toLongLong(), minimum, maximum)) : value);
}
