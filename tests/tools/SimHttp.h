#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>

// What came back from one HTTP exchange with the simulator.
struct SimReply
{
    bool finished = false;
    int status = 0;
    QByteArray body;
    QByteArray contentType;

    QJsonObject object() const { return QJsonDocument::fromJson(body).object(); }
};

// Each call runs the event loop until its reply is in, so an in-process simulator keeps
// serving meanwhile. Redirects are not followed: a 3xx is an answer like any other.
class SimHttp
{
public:
    explicit SimHttp(quint16 port)
        : m_port(port)
    {
        m_manager.setProxy(QNetworkProxy::NoProxy);
    }

    SimReply post(const QString &target, const QByteArray &body,
                  const QByteArray &contentType = "application/json", int timeoutMs = 10000)
    {
        QNetworkRequest request = build(target);
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        return wait(m_manager.post(request, body), timeoutMs);
    }

    SimReply send(const QByteArray &verb, const QString &target)
    {
        return wait(m_manager.sendCustomRequest(build(target), verb), 10000);
    }

    static QByteArray statusQuery()
    {
        return R"({"clock":{"sampling_rate":null,"sources":{"madi_coaxial":{"rate":null,"sync":null}}}})";
    }

    static QByteArray setRate(qint64 rate)
    {
        return R"({"clock":{"sampling_rate":)" + QByteArray::number(rate) + "}}";
    }

private:
    QNetworkRequest build(const QString &target) const
    {
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(m_port) + target));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        return request;
    }

    static SimReply wait(QNetworkReply *reply, int timeoutMs)
    {
        SimReply result;
        QSignalSpy spy(reply, &QNetworkReply::finished);
        result.finished = reply->isFinished() || spy.wait(timeoutMs);
        if (!result.finished)
            reply->abort();
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->isOpen())
            result.body = reply->readAll();
        result.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        reply->deleteLater();
        return result;
    }

    quint16 m_port;
    QNetworkAccessManager m_manager;
};
