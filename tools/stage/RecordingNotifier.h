#pragma once

#include "platform/Notifier.h"

#include <QStringList>

// Keeps each notification as "title: body" instead of showing it.
class RecordingNotifier final : public Notifier
{
public:
    QCoro::Task<> post(const QString &title, const QString &body) override
    {
        posted << title + QStringLiteral(": ") + body;
        co_return;
    }
    QStringList posted;
};
