#include "engine/enginelog.h"

Q_LOGGING_CATEGORY(lcEngine, "vantory.engine")
