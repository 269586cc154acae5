#pragma once

#include <QString>

#include <optional>

// What makes the desktop session start the program when the user logs in. The system keeps
// it; every question is answered afresh from there.
class AutostartEntry
{
public:
    virtual ~AutostartEntry() = default;

    // The session will start the program at the next login.
    virtual bool isEnabled() const = 0;
    // Each returns the reason it failed, for people, or nothing when it worked.
    virtual std::optional<QString> enable() = 0;
    // An entry that is not there is the state asked for, so that is no failure.
    virtual std::optional<QString> disable() = 0;
};
