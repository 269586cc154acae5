#pragma once

#include <QObject>

#include <memory>

struct AvahiPoll;

// avahi's main-loop hooks served by the Qt event loop of the owning thread: descriptors through
// QSocketNotifier, time-outs through precise single-shot timers. No thread, no polling. Every
// avahi object made on api() must be freed before this object goes; whatever avahi forgot to
// free is reclaimed here so that nothing fires into freed memory.
class AvahiQtPoll : public QObject
{
    Q_OBJECT

public:
    explicit AvahiQtPoll(QObject *parent = nullptr);
    ~AvahiQtPoll() override;

    const AvahiPoll *api() const { return m_api.get(); }

    // Live watches and time-outs, for tests of the adapter itself.
    int watchCount() const;
    int timeoutCount() const;

private:
    struct Hooks;
    struct Registry;
    friend struct Hooks;

    std::unique_ptr<AvahiPoll> m_api;
    std::unique_ptr<Registry> m_registry;
};
