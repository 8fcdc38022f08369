#pragma once

#include <QLoggingCategory>

/// Debug output of the configuration model ("vantory.model").
Q_DECLARE_LOGGING_CATEGORY(lcModel)
