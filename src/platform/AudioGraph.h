#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

// The computer's own audio graph (PipeWire), whose rate can be pinned: 0 lets it choose again.
class AudioGraph
{
public:
    struct Result
    {
        // Kinds of failure, so that each is reported once rather than at every try.
        enum class Failure { None, ToolMissing, NotRunning, NoSettings, TimedOut, Refused };
        Failure failure = Failure::None;
        qint64 rate = 0; // the pinned rate read back; 0 when none is
        QString detail {}; // for Refused: what the tool said

        bool ok() const { return failure == Failure::None; }
    };

    virtual ~AudioGraph() = default;

    // Each call ends within a couple of seconds, whatever the graph does.
    virtual QCoro::Task<Result> forcedRate() = 0;
    virtual QCoro::Task<Result> forceRate(qint64 hertz) = 0;
};
