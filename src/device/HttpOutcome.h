#pragma once

#include <QByteArray>
#include <QString>

// How one HTTP exchange ended. A failure says what went wrong in categories that callers turn
// into their own words; curl's own text is kept only for the debug log.
struct HttpOutcome
{
    enum class Failure {
        None, // an answer arrived in full; its status may still be anything
        Cancelled, // the client was deleted
        TimedOut,
        HostNotFound,
        Refused,
        NoRoute,
        CouldNotConnect, // any other failure to connect
        Reset,
        ClosedUnanswered, // closed before a byte of an answer
        ClosedMidAnswer, // closed after part of an answer
        TooLarge, // the body is larger than the client's limit
        NotHttp, // the peer answered with something that is not HTTP, or broke its framing
        RedirectRefused, // a redirect to a scheme the client does not allow
        Insecure, // the TLS handshake or the certificate check failed
        Other,
    };

    Failure failure = Failure::None;
    long status = 0; // of the final answer; 0 before a status line came
    QByteArray reason; // its reason phrase
    QByteArray body;
    QString detail; // curl's own words on a failure
    bool reusedConnection = false;
    qintptr connection = -1; // the socket of a connection curl keeps open after it, else -1
    qint64 microseconds = 0; // the whole exchange

    bool answered() const { return failure == Failure::None; }
    // A short sentence for people, without the peer's name: "Connection refused".
    static QString describe(Failure failure);
};
