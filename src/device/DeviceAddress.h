#pragma once

#include "device/M1620Result.h"

#include <QString>
#include <QUrl>

// Turns the host text that the user typed, picked or that discovery found into the URL of the
// device's control API, or says what is wrong with it. Nothing is sent for a host that fails:
// the text goes into a URL verbatim, so anything that could make the request reach another
// host, path or port (a "/", "@", "#", a second ":", a short IPv4 form that Qt would expand)
// is refused here.
namespace DeviceAddress {

inline constexpr QStringView apiPath = u"/api/v2/self";

// "http://" + host + "/api/v2/self" for a host name, an IPv4 address or a bracketed IPv6
// address, each optionally followed by ":" and a port from 1 to 65535; otherwise unreachable
// with a message that names the problem.
M1620Result<QUrl> apiUrl(const QString &host);

} // namespace DeviceAddress
