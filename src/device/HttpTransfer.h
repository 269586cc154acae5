#pragma once

#include "device/HttpOutcome.h"

#include <QByteArray>

#include <curl/curl.h>

#include <coroutine>
#include <optional>

class CurlMulti;

// One exchange on an easy handle that an HttpClient lends it: started on the thread's multi
// handle, co_awaited, and resumed from the event loop with its HttpOutcome.
class HttpTransfer
{
public:
    // A null body makes a GET, any other a POST of it. The handle's client options are set.
    HttpTransfer(CURL *easy, QByteArray url, std::optional<QByteArray> body, qint64 maxBodyBytes);
    ~HttpTransfer();

    HttpTransfer(const HttpTransfer &) = delete;
    HttpTransfer &operator=(const HttpTransfer &) = delete;

    void start(CurlMulti &multi);
    // Ends the exchange now, resuming whoever awaits it before this returns. The handle goes.
    void cancel();
    // From CurlMulti, when curl says the exchange is over.
    void finish(CURLcode result);
    // The handle back, for the next exchange, once this one has ended.
    CURL *releaseHandle();

    struct Awaiter
    {
        HttpTransfer *transfer;
        bool await_ready() const noexcept { return transfer->m_outcome.has_value(); }
        void await_suspend(std::coroutine_handle<> waiter) const noexcept { transfer->m_waiter = waiter; }
        HttpOutcome await_resume() const { return std::move(*transfer->m_outcome); }
    };
    Awaiter operator co_await() { return Awaiter {this}; }

private:
    static size_t onBody(char *data, size_t size, size_t count, void *transfer);
    static size_t onHeader(char *data, size_t size, size_t count, void *transfer);
    HttpOutcome::Failure failureOf(CURLcode result, long status) const;
    void end(HttpOutcome outcome);

    CURL *m_easy;
    CurlMulti *m_multi = nullptr; // while the handle is on it
    const QByteArray m_url;
    const std::optional<QByteArray> m_body;
    const qint64 m_maxBodyBytes;
    QByteArray m_received;
    QByteArray m_reason;
    bool m_tooLarge = false;
    char m_error[CURL_ERROR_SIZE] = {};
    std::optional<HttpOutcome> m_outcome;
    std::coroutine_handle<> m_waiter;
};
