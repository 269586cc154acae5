#pragma once

#include <QLoggingCategory>

// The user interface's decisions (tray or window, how the panel opens): "quorvel.ui", off by
// default, on with QT_LOGGING_RULES="quorvel.ui.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcUi)
