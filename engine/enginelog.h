#pragma once

#include <QLoggingCategory>

/// Trace texts of the tag command engine (sequencer, replies, reads, writes, beeper).
Q_DECLARE_LOGGING_CATEGORY(lcEngine)
