#include "device/HttpClient.h"

#include "device/CurlMulti.h"
#include "device/HttpTransfer.h"

#include <sys/socket.h>

#include <utility>

HttpClient::HttpClient(Options options)
    : m_options(std::move(options))
    , m_multi(CurlMulti::forCurrentThread())
{
    for (const QByteArray &header : m_options.headers)
        m_headers = curl_slist_append(m_headers, header.constData());
}

HttpClient::~HttpClient()
{
    // Whoever awaits a request resumes now, not when an event loop that may be gone would
    // have delivered the answer or the deadline.
    const QList<HttpTransfer *> inFlight = std::exchange(m_inFlight, {});
    for (HttpTransfer *transfer : inFlight)
        transfer->cancel();
    if (m_idle)
        curl_easy_cleanup(m_idle);
    curl_slist_free_all(m_headers);
}

QCoro::Task<HttpOutcome> HttpClient::post(QByteArray url, QByteArray body)
{
    return perform(std::move(url), std::move(body));
}

QCoro::Task<HttpOutcome> HttpClient::get(QByteArray url)
{
    return perform(std::move(url), std::nullopt);
}

QCoro::Task<HttpOutcome> HttpClient::perform(QByteArray url, std::optional<QByteArray> body)
{
    HttpTransfer transfer(takeHandle(), std::move(url), std::move(body), m_options.maxBodyBytes);
    m_inFlight.append(&transfer);
    transfer.start(*m_multi);
    HttpOutcome outcome = co_await transfer;
    // Cancelled means the client is gone; it took the transfer off its list itself.
    if (outcome.failure != HttpOutcome::Failure::Cancelled) {
        m_inFlight.removeOne(&transfer);
        keepHandle(transfer.releaseHandle());
    }
    co_return outcome;
}

void HttpClient::closeConnection(const HttpOutcome &outcome)
{
    // curl still owns the socket: shut down, it reads as closed, and curl drops the connection
    // the next time it looks at it.
    if (outcome.connection >= 0)
        ::shutdown(int(outcome.connection), SHUT_RDWR);
}

CURL *HttpClient::takeHandle()
{
    if (CURL *const easy = std::exchange(m_idle, nullptr))
        return easy;
    CURL *const easy = curl_easy_init();
    const long timeout = long(m_options.timeout.count());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeout);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeout);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, m_options.protocols.constData());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_options.maxBodyBytes));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_headers);
    if (m_options.redirectProtocols.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    } else {
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, m_options.maxRedirects);
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, m_options.redirectProtocols.constData());
    }
    if (!m_options.useProxy)
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    // Certificates are trusted as every OpenSSL program here trusts them, this variable included.
    if (const QByteArray file = qgetenv("SSL_CERT_FILE"); !file.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, file.constData()); // curl copies the text
    return easy;
}

void HttpClient::keepHandle(CURL *easy)
{
    if (!easy)
        return;
    if (m_idle)
        curl_easy_cleanup(easy); // one handle is enough between requests
    else
        m_idle = easy;
}
