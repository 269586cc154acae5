#include "device/CurlMulti.h"

#include "device/HttpTransfer.h"

#include <QSocketNotifier>

#include <mutex>

namespace {

std::mutex globalMutex;
int multiCount = 0; // curl_global_init once for all of them, curl_global_cleanup after the last

thread_local std::weak_ptr<CurlMulti> threadMulti;

} // namespace

std::shared_ptr<CurlMulti> CurlMulti::forCurrentThread()
{
    std::shared_ptr<CurlMulti> multi = threadMulti.lock();
    if (!multi) {
        multi = std::shared_ptr<CurlMulti>(new CurlMulti);
        threadMulti = multi;
    }
    return multi;
}

CurlMulti::CurlMulti()
{
    {
        const std::lock_guard lock(globalMutex);
        if (multiCount++ == 0)
            curl_global_init(CURL_GLOBAL_DEFAULT);
    }
    m_handle = curl_multi_init();
    curl_multi_setopt(m_handle, CURLMOPT_SOCKETFUNCTION, &CurlMulti::onSocket);
    curl_multi_setopt(m_handle, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_handle, CURLMOPT_TIMERFUNCTION, &CurlMulti::onTimer);
    curl_multi_setopt(m_handle, CURLMOPT_TIMERDATA, this);
    // A coarse timer may fire early, and curl would then only ask to be woken again.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlMulti::~CurlMulti()
{
    curl_multi_cleanup(m_handle); // closes the kept connections; their notifiers are children
    const std::lock_guard lock(globalMutex);
    if (--multiCount == 0)
        curl_global_cleanup();
}

bool CurlMulti::add(CURL *easy)
{
    // curl asks for a timer at once, and the transfer starts when it fires.
    return curl_multi_add_handle(m_handle, easy) == CURLM_OK;
}

void CurlMulti::remove(CURL *easy)
{
    curl_multi_remove_handle(m_handle, easy);
}

int CurlMulti::onSocket(CURL *, curl_socket_t socket, int what, void *multi, void *)
{
    static_cast<CurlMulti *>(multi)->watch(socket, what);
    return 0;
}

int CurlMulti::onTimer(CURLM *, long timeoutMs, void *multi)
{
    QTimer &timer = static_cast<CurlMulti *>(multi)->m_timer;
    if (timeoutMs < 0)
        timer.stop();
    else
        timer.start(int(timeoutMs)); // never acts here: curl forbids a call back into it
    return 0;
}

void CurlMulti::watch(curl_socket_t socket, int what)
{
    // Notifiers are only disabled when curl lets go of a socket, and kept for the next socket
    // with that number: a kept-alive connection is let go after every exchange and taken up
    // again for the next, and creating them anew each time costs more than the exchange.
    Watch &watch = m_watches[socket];
    const auto notifier = [this, socket](QSocketNotifier *&slot, QSocketNotifier::Type type, int event) {
        if (!slot) {
            slot = new QSocketNotifier(socket, type, this);
            connect(slot, &QSocketNotifier::activated, this, [this, socket, event] { act(socket, event); });
        }
        return slot;
    };
    // CURL_POLL_REMOVE comes before curl closes the socket: never watched closed.
    const bool reading = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
    const bool writing = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
    if (reading || watch.read)
        notifier(watch.read, QSocketNotifier::Read, CURL_CSELECT_IN)->setEnabled(reading);
    if (writing || watch.write)
        notifier(watch.write, QSocketNotifier::Write, CURL_CSELECT_OUT)->setEnabled(writing);
}

void CurlMulti::act(curl_socket_t socket, int events)
{
    // A finished transfer may resume code that lets go of the last client, and so of this.
    const std::shared_ptr<CurlMulti> keep = shared_from_this();
    int running = 0;
    curl_multi_socket_action(m_handle, socket, events, &running);
    collectFinished();
}

void CurlMulti::collectFinished()
{
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(m_handle, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        // Read before the handle goes: removing it frees the message.
        CURL *const easy = message->easy_handle;
        const CURLcode result = message->data.result;
        void *transfer = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &transfer);
        static_cast<HttpTransfer *>(transfer)->finish(result);
    }
}
