#include "HttpResponse.h"

#include <QString>

QByteArray HttpResponse::reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray HttpResponse::head(bool keepAlive) const
{
    QByteArray text = QByteArray("HTTP/1.1 ") + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    if (!contentType.isEmpty())
        text += QByteArray("Content-Type: ") + contentType + "\r\n";
    text += QByteArray("Content-Length: ") + QByteArray::number(body.size()) + "\r\n";
    text += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    text += "Server: m1620-sim\r\n\r\n";
    return text;
}
