#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Looks at files outside the program's own stores, as the legacy watch must. Blocking (it reads
// files), so never on the main thread; safe to call from any thread.
class FileSearch
{
public:
    virtual ~FileSearch() = default;

    virtual bool exists(const QString &path) const = 0;
    // The files of folder whose names match nameFilter (a wildcard) and whose start names text,
    // sorted by name; none when the folder is missing or unreadable.
    virtual QStringList filesNaming(const QString &folder, const QString &nameFilter,
                                    const QByteArray &text) const = 0;
};
