#pragma once

// Moved to services; kept only until the views include services/DiagnosticsReport.h.
#include "services/DiagnosticsReport.h"
