#pragma once

#include <QString>
#include <QStringList>

// What the user asked for on the command line. Parsing is pure, so it is tested on its own.
struct CommandLine
{
    enum class Mode {
        Desktop,
        Headless,
        TestConnection,
        Status,
        Watch,
        Pause,
        Resume,
        Version,
        Help,
        Invalid
    };

    Mode mode = Mode::Desktop;
    QString host; // for TestConnection
    bool json = false; // for Status
    QString error; // for Invalid: what was wrong, one line

    // arguments: the whole argv, program name first.
    static CommandLine parse(const QStringList &arguments);
    static QString helpText();
};
