#pragma once

#include "platform/ProcessSearch.h"

// Asks pgrep, with its output sent to the null device: found exactly on exit status 0.
class PgrepProcessSearch final : public ProcessSearch
{
public:
    static inline const QString defaultProgram = QStringLiteral("/usr/bin/pgrep");

    explicit PgrepProcessSearch(QString program = defaultProgram);

    bool isRunning(const QString &pattern) const override;

private:
    QString m_program;
};
