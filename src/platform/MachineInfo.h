#pragma once

#include <QString>

// What a bug report says about the machine and its system.
class MachineInfo
{
public:
    virtual ~MachineInfo() = default;

    // The hardware model, "ThinkPad T14 Gen 3"; "unknown" when the system does not say.
    virtual QString model() const = 0;
    // The CPU architecture, "x86_64".
    virtual QString architecture() const = 0;
    // The system's own name for itself, "Debian GNU/Linux 12 (bookworm)".
    virtual QString systemName() const = 0;
    // The kernel release, "6.1.0-18-amd64".
    virtual QString kernelRelease() const = 0;
};
