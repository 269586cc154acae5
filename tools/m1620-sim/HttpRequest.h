#pragma once

#include <QByteArray>
#include <QString>
#include <QUrlQuery>

// One HTTP request as the simulator received it.
struct HttpRequest
{
    QByteArray method;
    QByteArray target; // as sent, e.g. "/sim/state?madi=96000"
    QString path; // target without the query, percent-decoded
    QUrlQuery query;
    QByteArray contentType;
    QByteArray body;
    bool keepAlive = true;
};
