#pragma once

#include <QObject>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <optional>
#include <qcoro/qcorotask.h>

#include "platform/AudioGraph.h"

class AppSettings;
class AppState;
class Logger;

// Pins the computer's audio graph to the device's rate while the user wants it, the device is
// connected and sync is not paused; lets go when any of that ends and at quit, but only of a pin
// that is still the one it made. Works beside the polling loop and never holds it up: one graph
// call at a time, each bounded, the newest wish acted on next.
class GraphRateFollower : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds retryInterval {10000};

    // The objects must outlive the follower.
    GraphRateFollower(const AppState &state, const AppSettings &settings, AudioGraph &graph, Logger &logger,
                      QObject *parent = nullptr);

    // The device took a new rate; faster than waiting for the next reading to say so.
    void deviceRateSet(qint64 hertz);
    // Releases its pin, if it still holds, and ends once the graph has answered; nothing more is
    // pinned afterwards.
    QCoro::Task<> finish();

    // The rate it pinned and holds; none when it holds nothing.
    std::optional<qint64> pinnedRate() const { return m_pinned; }

Q_SIGNALS:
    // Nothing left to do until the next change.
    void idle();

private:
    enum class Step { None, Pin, Release };

    void reconsider();
    Step nextStep() const;
    QCoro::Task<> work();
    QCoro::Task<bool> pin(qint64 hertz);
    QCoro::Task<bool> release();
    // One warning per kind of failure until the graph answers again.
    void failed(const AudioGraph::Result &result);
    void succeeded();

    const AppState &m_state;
    const AppSettings &m_settings;
    AudioGraph &m_graph;
    Logger &m_logger;
    std::optional<qint64> m_deviceRate;
    std::optional<qint64> m_pinned;
    QSet<AudioGraph::Result::Failure> m_warned;
    QTimer m_retry;
    std::optional<QCoro::Task<>> m_work;
    bool m_working = false;
    bool m_again = false;
    bool m_finishing = false;
};
