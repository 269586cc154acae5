#include "core/ConnectionState.h"

#include <QDebug>

QDebug operator<<(QDebug debug, const ConnectionState &state)
{
    QDebugStateSaver saver(debug);
    switch (state.kind()) {
    case ConnectionState::Kind::Disconnected:
        debug.nospace() << "disconnected";
        break;
    case ConnectionState::Kind::Connecting:
        debug.nospace() << "connecting";
        break;
    case ConnectionState::Kind::Connected:
        debug.nospace() << "connected(" << state.host() << ")";
        break;
    case ConnectionState::Kind::Error:
        debug.nospace() << "error(" << state.message() << ")";
        break;
    }
    return debug;
}
