#pragma once

// Moved to services; kept only until the views include services/DiagnosticsEnvironment.h.
#include "services/DiagnosticsEnvironment.h"
