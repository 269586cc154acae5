#pragma once

#include "platform/ProcessRunner.h"

// Runs children with QProcess on the caller's event loop.
class QProcessRunner final : public ProcessRunner
{
public:
    QCoro::Task<Outcome> run(Request request) override;
};
