#pragma once

#include "device/HttpOutcome.h"

#include <QByteArray>
#include <QList>

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <qcoro/qcorotask.h>

class CurlMulti;
class HttpTransfer;

// HTTP on libcurl for the thread it is created in: one easy handle, reused so that the
// connection is kept alive, on the thread's multi handle, which the event loop drives. Nothing
// blocks. A second request while one is in flight gets a handle of its own. Deleting the client
// ends its requests at once as cancelled.
class HttpClient
{
public:
    struct Options
    {
        std::chrono::milliseconds timeout {2000}; // for the whole exchange, connecting included
        qint64 maxBodyBytes = 1024 * 1024; // declared or received
        QByteArray protocols = "http"; // curl's list of allowed schemes
        QByteArray redirectProtocols; // empty: redirects are not followed
        long maxRedirects = 0;
        bool useProxy = false; // the environment's proxy settings apply
        QList<QByteArray> headers; // "Name: value"; "Name:" removes one curl would send
    };

    explicit HttpClient(Options options);
    ~HttpClient();

    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    QCoro::Task<HttpOutcome> post(QByteArray url, QByteArray body);
    QCoro::Task<HttpOutcome> get(QByteArray url);

    // Closes the connection the exchange ended on, at once, so that the peer sees it closed and
    // no later request uses it. Only right after the outcome arrived, before another request.
    static void closeConnection(const HttpOutcome &outcome);

private:
    QCoro::Task<HttpOutcome> perform(QByteArray url, std::optional<QByteArray> body);
    CURL *takeHandle();
    void keepHandle(CURL *easy);

    const Options m_options;
    const std::shared_ptr<CurlMulti> m_multi; // first in, last out: curl outlives the handles
    curl_slist *m_headers = nullptr;
    CURL *m_idle = nullptr;
    QList<HttpTransfer *> m_inFlight;
};
