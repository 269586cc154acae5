#pragma once

#include "platform/AudioGraph.h"

#include <chrono>

class ProcessRunner;

// PipeWire's "settings" metadata, key clock.force-rate, through the pw-metadata tool: no
// library and no thread of PipeWire's in this process, and nothing at all while unused.
class PwMetadataAudioGraph final : public AudioGraph
{
public:
    static inline const QString defaultProgram = QStringLiteral("pw-metadata");
    static constexpr std::chrono::milliseconds limit {2000};

    // The runner must outlive the graph.
    explicit PwMetadataAudioGraph(ProcessRunner &runner, QString program = defaultProgram);

    QCoro::Task<Result> forcedRate() override;
    QCoro::Task<Result> forceRate(qint64 hertz) override;

private:
    QCoro::Task<Result> metadata(QStringList keyAndValue);

    ProcessRunner &m_runner;
    QString m_program;
};
