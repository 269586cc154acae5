#pragma once

#include <QString>

// Looks for a running process by its command line.
class ProcessSearch
{
public:
    virtual ~ProcessSearch() = default;

    // Whether any process's full command line matches the extended regular expression, in any
    // letter case. Blocking (it may wait for a child process), so never on the main thread;
    // safe to call from any thread. A search that cannot run answers false.
    virtual bool isRunning(const QString &pattern) const = 0;
};
