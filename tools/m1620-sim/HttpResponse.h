#pragma once

#include <QByteArray>

// One answer, before any fault shapes it.
struct HttpResponse
{
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;

    // Status line and headers up to and including the empty line.
    QByteArray head(bool keepAlive) const;
    static QByteArray reason(int status);
};
