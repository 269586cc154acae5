#include "device/HttpTransfer.h"

#include "device/CurlMulti.h"

#include <cerrno>
#include <utility>

HttpTransfer::HttpTransfer(CURL *easy, QByteArray url, std::optional<QByteArray> body, qint64 maxBodyBytes)
    : m_easy(easy)
    , m_url(std::move(url))
    , m_body(std::move(body))
    , m_maxBodyBytes(maxBodyBytes)
{
    curl_easy_setopt(m_easy, CURLOPT_URL, m_url.constData());
    if (m_body) {
        curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_body->size()));
        curl_easy_setopt(m_easy, CURLOPT_POSTFIELDS, m_body->constData());
    } else {
        curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(m_easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &HttpTransfer::onBody);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &HttpTransfer::onHeader);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_error);
}

HttpTransfer::~HttpTransfer()
{
    if (m_multi)
        m_multi->remove(m_easy);
    if (m_easy)
        curl_easy_cleanup(m_easy);
}

void HttpTransfer::start(CurlMulti &multi)
{
    if (!multi.add(m_easy)) {
        HttpOutcome outcome;
        outcome.failure = HttpOutcome::Failure::Other;
        end(std::move(outcome));
        return;
    }
    m_multi = &multi;
}

void HttpTransfer::cancel()
{
    if (m_outcome)
        return;
    if (m_multi)
        m_multi->remove(m_easy);
    m_multi = nullptr;
    // Freed now: the client that lent it, and maybe curl's global state, are about to go.
    curl_easy_cleanup(std::exchange(m_easy, nullptr));
    HttpOutcome outcome;
    outcome.failure = HttpOutcome::Failure::Cancelled;
    end(std::move(outcome));
}

CURL *HttpTransfer::releaseHandle()
{
    // Nothing of this transfer may stay reachable through the handle once it is gone.
    if (m_easy) {
        curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, nullptr);
        curl_easy_setopt(m_easy, CURLOPT_PRIVATE, nullptr);
    }
    return std::exchange(m_easy, nullptr);
}

size_t HttpTransfer::onBody(char *data, size_t size, size_t count, void *transfer)
{
    auto *const self = static_cast<HttpTransfer *>(transfer);
    const size_t bytes = size * count;
    // Bounded on what arrives, too: a body without a declared length may run on forever.
    if (self->m_received.size() + qint64(bytes) > self->m_maxBodyBytes) {
        self->m_tooLarge = true;
        return 0; // curl ends the transfer
    }
    self->m_received.append(data, qsizetype(bytes));
    return bytes;
}

size_t HttpTransfer::onHeader(char *data, size_t size, size_t count, void *transfer)
{
    // Each status line starts a new head (after an interim answer or a redirect): keep the
    // reason phrase of the last.
    const QByteArrayView line(data, qsizetype(size * count));
    if (line.startsWith("HTTP/")) {
        const QList<QByteArray> parts = line.toByteArray().trimmed().split(' ');
        static_cast<HttpTransfer *>(transfer)->m_reason = parts.mid(2).join(' ');
    }
    return size * count;
}

HttpOutcome::Failure HttpTransfer::failureOf(CURLcode result, long status) const
{
    using Failure = HttpOutcome::Failure;
    if (m_tooLarge)
        return Failure::TooLarge;
    long osError = 0;
    curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &osError);
    switch (result) {
    case CURLE_OK:
        return Failure::None;
    case CURLE_FILESIZE_EXCEEDED:
        return Failure::TooLarge;
    case CURLE_OPERATION_TIMEDOUT:
        return Failure::TimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return Failure::HostNotFound;
    case CURLE_COULDNT_CONNECT:
        if (osError == ECONNREFUSED)
            return Failure::Refused;
        if (osError == ENETUNREACH || osError == EHOSTUNREACH || osError == ENETDOWN)
            return Failure::NoRoute;
        return Failure::CouldNotConnect;
    case CURLE_GOT_NOTHING:
        return Failure::ClosedUnanswered;
    case CURLE_PARTIAL_FILE:
        return Failure::ClosedMidAnswer;
    case CURLE_SEND_ERROR:
        return Failure::Reset;
    case CURLE_RECV_ERROR:
        // Without an error from the socket, curl refused what it read: broken chunk framing.
        return osError != 0 ? Failure::Reset : Failure::NotHttp;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        return Failure::NotHttp;
    case CURLE_UNSUPPORTED_PROTOCOL:
        // After a redirect, its target's scheme; else an answer without an HTTP status line.
        return status >= 300 && status <= 399 ? Failure::RedirectRefused : Failure::NotHttp;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        return Failure::Insecure;
    default:
        return Failure::Other;
    }
}

void HttpTransfer::finish(CURLcode result)
{
    if (m_outcome)
        return;
    HttpOutcome outcome;
    // Only found while the handle is still on the multi handle, whose pool keeps the connection.
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(m_easy, CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK && socket != CURL_SOCKET_BAD)
        outcome.connection = socket;
    if (m_multi)
        m_multi->remove(m_easy);
    m_multi = nullptr;

    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &outcome.status);
    outcome.failure = failureOf(result, outcome.status);
    if (outcome.failure != HttpOutcome::Failure::None)
        outcome.detail = QString::fromUtf8(m_error[0] ? m_error : curl_easy_strerror(result));
    long connects = 0;
    curl_easy_getinfo(m_easy, CURLINFO_NUM_CONNECTS, &connects);
    outcome.reusedConnection = connects == 0;
    curl_off_t total = 0;
    curl_easy_getinfo(m_easy, CURLINFO_TOTAL_TIME_T, &total);
    outcome.microseconds = total;
    outcome.reason = std::move(m_reason);
    if (outcome.failure == HttpOutcome::Failure::None)
        outcome.body = std::move(m_received);
    end(std::move(outcome));
}

void HttpTransfer::end(HttpOutcome outcome)
{
    m_outcome = std::move(outcome);
    // Last: the awaiting coroutine may destroy this transfer as soon as it runs.
    if (const std::coroutine_handle<> waiter = std::exchange(m_waiter, {}))
        waiter.resume();
}
