#include "sync/GraphRateFollower.h"

#include "core/AppState.h"
#include "services/AppSettings.h"
#include "services/Logger.h"

#include <QPointer>
#include <qcoro/qcorosignal.h>

GraphRateFollower::GraphRateFollower(const AppState &state, const AppSettings &settings, AudioGraph &graph,
                                     Logger &logger, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_settings(settings)
    , m_graph(graph)
    , m_logger(logger)
    , m_deviceRate(state.deviceRate())
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(retryInterval);
    connect(&m_retry, &QTimer::timeout, this, &GraphRateFollower::reconsider);
    connect(&state, &AppState::deviceRateChanged, this, [this] {
        if (m_state.deviceRate())
            m_deviceRate = m_state.deviceRate();
        reconsider();
    });
    connect(&state, &AppState::connectionStateChanged, this, &GraphRateFollower::reconsider);
    connect(&state, &AppState::isPausedChanged, this, &GraphRateFollower::reconsider);
    connect(&settings, &AppSettings::matchPipeWireRateChanged, this, &GraphRateFollower::reconsider);
    reconsider();
}

void GraphRateFollower::deviceRateSet(qint64 hertz)
{
    m_deviceRate = hertz;
    reconsider();
}

QCoro::Task<> GraphRateFollower::finish()
{
    m_finishing = true;
    m_retry.stop();
    reconsider();
    if (m_working)
        co_await qCoro(this, &GraphRateFollower::idle);
}

GraphRateFollower::Step GraphRateFollower::nextStep() const
{
    if (m_finishing || !m_settings.matchPipeWireRate() || m_state.isPaused())
        return m_pinned ? Step::Release : Step::None;
    // A lost device leaves the graph as it is: it comes back at the same rate more often than not.
    if (!m_state.connectionState().isConnected() || !m_deviceRate)
        return Step::None;
    return m_pinned == m_deviceRate ? Step::None : Step::Pin;
}

void GraphRateFollower::reconsider()
{
    if (m_working) {
        m_again = true;
        return;
    }
    if (nextStep() == Step::None)
        return;
    m_working = true;
    m_work.emplace(work());
}

QCoro::Task<> GraphRateFollower::work()
{
    const QPointer<GraphRateFollower> alive(this);
    bool ok = true;
    do {
        m_again = false;
        switch (nextStep()) {
        case Step::None:
            break;
        case Step::Pin:
            ok = co_await pin(*m_deviceRate);
            break;
        case Step::Release:
            ok = co_await release();
            break;
        }
        if (!alive)
            co_return;
        // After a failure only a change of wish tries again at once; otherwise the timer does.
    } while (m_again || (ok && nextStep() != Step::None));
    m_working = false;
    if (!ok && !m_finishing)
        m_retry.start();
    Q_EMIT idle();
}

QCoro::Task<bool> GraphRateFollower::pin(qint64 hertz)
{
    const AudioGraph::Result result = co_await m_graph.forceRate(hertz);
    if (!result.ok()) {
        failed(result);
        co_return false;
    }
    succeeded();
    m_pinned = hertz;
    m_logger.info(QStringLiteral("PipeWire graph rate set to ") + QString::number(hertz)
                  + QStringLiteral(" Hz"));
    co_return true;
}

QCoro::Task<bool> GraphRateFollower::release()
{
    const qint64 ours = *m_pinned;
    const AudioGraph::Result now = co_await m_graph.forcedRate();
    if (!now.ok()) {
        failed(now);
        co_return false;
    }
    if (now.rate != ours) {
        succeeded();
        m_pinned.reset();
        // Someone pinned it by hand since: theirs to keep.
        m_logger.info(QStringLiteral("PipeWire graph rate left at ") + QString::number(now.rate)
                      + QStringLiteral(" Hz, set outside Quorvel"));
        co_return true;
    }
    const AudioGraph::Result released = co_await m_graph.forceRate(0);
    if (!released.ok()) {
        failed(released);
        co_return false;
    }
    succeeded();
    m_pinned.reset();
    m_logger.info(QStringLiteral("PipeWire graph rate released"));
    co_return true;
}

void GraphRateFollower::failed(const AudioGraph::Result &result)
{
    if (m_warned.contains(result.failure))
        return;
    m_warned.insert(result.failure);
    QString why;
    switch (result.failure) {
    case AudioGraph::Result::Failure::ToolMissing:
        why = QStringLiteral("pw-metadata could not start (") + result.detail
            + QStringLiteral("); it comes with the package pipewire-bin");
        break;
    case AudioGraph::Result::Failure::NotRunning:
        why = QStringLiteral("PipeWire is not running");
        break;
    case AudioGraph::Result::Failure::NoSettings:
        why = QStringLiteral("PipeWire has no \"settings\" metadata");
        break;
    case AudioGraph::Result::Failure::TimedOut:
        why = QStringLiteral("pw-metadata did not answer within 2 s");
        break;
    case AudioGraph::Result::Failure::Refused:
    case AudioGraph::Result::Failure::None:
        why = QStringLiteral("pw-metadata failed: ") + result.detail;
        break;
    }
    m_logger.warn(QStringLiteral("PipeWire graph rate unchanged — ") + why);
}

void GraphRateFollower::succeeded()
{
    m_warned.clear();
}
