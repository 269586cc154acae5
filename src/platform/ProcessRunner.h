#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>
#include <qcoro/qcorotask.h>

// Runs a program without a shell and reports how it ended. Tests may replace it; the program
// uses QProcessRunner.
class ProcessRunner
{
public:
    struct Request
    {
        QString program; // a path, or a name looked up on PATH
        QStringList arguments {};
        QMap<QString, QString> environment {}; // added to this process's own
        std::chrono::milliseconds limit {2000}; // killed when still running after this long
        bool captureOutput = false; // else the output goes where this process's goes
    };

    struct Outcome
    {
        enum class End { Exited, Crashed, TimedOut, FailedToStart };
        End end = End::FailedToStart;
        int exitStatus = 0; // Exited only
        QString why {}; // FailedToStart only: the system's reason
        QByteArray output {}; // when captured
        QByteArray errorOutput {};

        bool succeeded() const { return end == End::Exited && exitStatus == 0; }
    };

    virtual ~ProcessRunner() = default;

    // Never blocks the caller's thread; ends within the request's limit and a moment to reap.
    virtual QCoro::Task<Outcome> run(Request request) = 0;
};
