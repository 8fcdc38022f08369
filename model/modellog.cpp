#include "model/modellog.h"

Q_LOGGING_CATEGORY(lcModel, "vantory.model")
