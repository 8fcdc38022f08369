// The outcome of each Write and auto-write operation, reported once as a plain value for
// the production record and the batch counts. Each step that ends an operation names its
// result; a reader that stopped answering is reported by the reply time-out.
#include "engine/tagengine.h"

#include "model/tagfields.h"

#include <QTimer>
#include <algorithm>

void TagEngine::beginOperation(record::Operation operation)
{
    // One left open was abandoned by a new sequence before it could end.
    finishOperation(record::Result::WriteFailed);
    m_op = record::Outcome{};
    m_op.operation = operation;
    m_op.started = QDateTime::currentDateTime();
    m_op.readerType = reader_type;
    // The R321 reports the UID least significant byte first.
    m_op.uidMsbFirst = reader_type == ReaderType::R321 ? uidReversedBytes() : uidBytes();
    m_op.chipCode = chip_code;
    m_op.templateSource = templateSource();
    m_op.image.clear();
    m_op_clock.start();
    m_op_pending = true;
}

void TagEngine::noteWriteTemplate()
{
    // Taken when the write starts: the record names what was sent, whatever is opened
    // later.
    m_op.templateSource = templateSource();
    m_op.image = bankBytes();
}

void TagEngine::finishOperation(record::Result result)
{
    if (!m_op_pending)
        return;
    result = verifiedResult(result);
    m_op_pending = false;
    m_op.result = result;
    m_op.durationMs = m_op_clock.elapsed();
    if (m_op.image.isEmpty()) // no write started: the template it was checked against
        m_op.image = bankBytes();
    m_op.channels = m_doc->channelCount();
    m_op.driveAreaSent =
        m_op.chipCode == tagfields::ChipP && result != record::Result::OtherModel &&
        result != record::Result::OtherLayout && result != record::Result::OtherKind;
    if (result == record::Result::OtherModel && m_op.operation == record::Operation::AutoWrite)
        m_op.foundModel =
            QByteArray(reinterpret_cast<const char*>(tag_model.data()), int(tag_model.size()));
    emit operationFinished(m_op);
}

bool TagEngine::dropUnwrittenDriver()
{
    // Auto write opens a driver's operation at its model-name read; until its write starts
    // nothing has been given to it, and cutting that short is no outcome to record.
    if (!m_op_pending || !m_op.image.isEmpty())
        return false;
    m_op_pending = false;
    return true;
}

bool TagEngine::interruptOperation(const QString& cause)
{
    if (!m_op_pending || dropUnwrittenDriver())
        return false;
    m_op.cause = cause;
    finishOperation(record::Result::Interrupted);
    // Nothing more goes out for it: the program is leaving.
    m_reply_timer->stop();
    m_cmd = CommandState{};
    return true;
}
