#pragma once

#include <QString>

// What the C library's name service switch (nsswitch.conf) says about host names.
class NameServiceSwitch
{
public:
    NameServiceSwitch() = delete;

    // Whether the system itself resolves ".local" names (an mdns module on the hosts line), so
    // that a host name is worth storing rather than an address; false when the file is unreadable.
    static bool resolvesLocalNames(const QString &file = QStringLiteral("/etc/nsswitch.conf"));
};
