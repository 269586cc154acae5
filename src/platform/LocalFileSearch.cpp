#include "platform/LocalFileSearch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool LocalFileSearch::exists(const QString &path) const
{
    return QFileInfo::exists(path);
}

QStringList LocalFileSearch::filesNaming(const QString &folder, const QString &nameFilter,
                                         const QByteArray &text) const
{
    QStringList found;
    const QFileInfoList entries = QDir(folder).entryInfoList({nameFilter}, QDir::Files, QDir::Name);
    for (const QFileInfo &entry : entries) {
        QFile file(entry.filePath());
        if (file.open(QIODevice::ReadOnly) && file.read(readLimit).contains(text))
            found.append(entry.filePath());
    }
    return found;
}
