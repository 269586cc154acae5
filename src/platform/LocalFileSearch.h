#pragma once

#include "platform/FileSearch.h"

// The local file system. Only the first 64 KiB of each file are read: a unit or desktop entry is
// small, and a stray huge file must not stall the search.
class LocalFileSearch final : public FileSearch
{
public:
    static constexpr qint64 readLimit = 64 * 1024;

    bool exists(const QString &path) const override;
    QStringList filesNaming(const QString &folder, const QString &nameFilter,
                            const QByteArray &text) const override;
};
