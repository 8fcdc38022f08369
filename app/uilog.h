#pragma once

#include <QLoggingCategory>

/// Trace texts of the window and its dialogs (vantory.ui).
Q_DECLARE_LOGGING_CATEGORY(lcUi)
