#include "device/HttpOutcome.h"

QString HttpOutcome::describe(Failure failure)
{
    switch (failure) {
    case Failure::None:
        return {};
    case Failure::Cancelled:
        return QStringLiteral("The request was cancelled");
    case Failure::TimedOut:
        return QStringLiteral("The request timed out");
    case Failure::HostNotFound:
        return QStringLiteral("The host name could not be found");
    case Failure::Refused:
        return QStringLiteral("Connection refused");
    case Failure::NoRoute:
        return QStringLiteral("No network route to the host");
    case Failure::CouldNotConnect:
        return QStringLiteral("Could not connect to the host");
    case Failure::Reset:
        return QStringLiteral("The connection was reset");
    case Failure::ClosedUnanswered:
        return QStringLiteral("The connection was closed without an answer");
    case Failure::ClosedMidAnswer:
        return QStringLiteral("The connection was closed before the answer was complete");
    case Failure::TooLarge:
        return QStringLiteral("The answer is too large");
    case Failure::NotHttp:
        return QStringLiteral("The answer is not HTTP");
    case Failure::RedirectRefused:
        return QStringLiteral("A redirect to an address that is not allowed was refused");
    case Failure::Insecure:
        return QStringLiteral("The secure connection could not be established");
    case Failure::Other:
        break;
    }
    return QStringLiteral("The connection failed");
}
