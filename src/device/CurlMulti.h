#pragma once

#include <QObject>
#include <QTimer>

#include <curl/curl.h>

#include <memory>
#include <unordered_map>

class QSocketNotifier;

// libcurl's multi handle of one thread, driven by that thread's Qt event loop: curl names the
// sockets to watch and when to wake it, and the loop tells curl what happened. Every HttpClient
// of the thread shares it, so kept-alive connections are shared too; it lives as long as one of
// them does. curl's global state lives as long as any multi handle does.
class CurlMulti : public QObject, public std::enable_shared_from_this<CurlMulti>
{
    Q_OBJECT

public:
    static std::shared_ptr<CurlMulti> forCurrentThread();
    ~CurlMulti() override;

    CurlMulti(const CurlMulti &) = delete;
    CurlMulti &operator=(const CurlMulti &) = delete;

    // The handle's CURLOPT_PRIVATE must be its HttpTransfer, whose finish() is called from the
    // event loop once it ends; outside curl's callbacks, so it may start or end other transfers.
    bool add(CURL *easy);
    void remove(CURL *easy);

private:
    struct Watch
    {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
    };

    CurlMulti();

    static int onSocket(CURL *easy, curl_socket_t socket, int what, void *multi, void *socketData);
    static int onTimer(CURLM *handle, long timeoutMs, void *multi);
    void watch(curl_socket_t socket, int what);
    void act(curl_socket_t socket, int events);
    void collectFinished();

    CURLM *m_handle = nullptr;
    QTimer m_timer;
    std::unordered_map<curl_socket_t, Watch> m_watches; // by socket number, enabled or not
};
