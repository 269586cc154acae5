#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// Everything the diagnostics report tells besides the state and the settings, gathered in one
// place so that a report can be built from known values.
struct DiagnosticsEnvironment
{
    QDateTime now;
    QLocale locale;
    QString version; // empty when unknown
    QString build; // empty when unknown
    QString systemName; // "Debian GNU/Linux 12 (bookworm)"
    QString kernelRelease; // "6.1.0-18-amd64"
    QString machine; // "ThinkPad T14 Gen 3, x86_64": the model and the CPU architecture
    bool launchAtLogin = false;
    QString logFile; // the current "sync.log"

    // This program on this machine, at this moment, in the user's locale.
    static DiagnosticsEnvironment current();
};
