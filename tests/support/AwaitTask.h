#pragma once

#include <QEventLoop>

#include <optional>
#include <qcoro/qcorotask.h>

// Runs the event loop until the task is done and returns its result. Unlike QCoro::waitFor
// it needs no default-constructible result.
template<typename T> T awaitTask(QCoro::Task<T> &&task)
{
    std::optional<T> result;
    QEventLoop loop;
    auto done = task.then([&](T value) {
        result = std::move(value);
        loop.quit();
    });
    if (!result)
        loop.exec();
    return std::move(*result);
}

inline void awaitTask(QCoro::Task<> &&task)
{
    bool done = false;
    QEventLoop loop;
    auto finished = task.then([&] {
        done = true;
        loop.quit();
    });
    if (!done)
        loop.exec();
}
