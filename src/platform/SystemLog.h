#pragma once

#include <QString>

// The desktop's system log. Implementations never fail towards the caller.
class SystemLog
{
public:
    enum class Priority { Info, Error };

    virtual ~SystemLog() = default;
    virtual void write(Priority priority, const QString &message) = 0;
};
