// The outcome of each Write and auto-write operation, reported once as a plain value for
// the production record and the batch counts. The outcome is the result tip the user
// sees, except for a reader that stopped answering, which the reply time-out reports.
#include "engine/tagengine.h"

#include "model/tagfields.h"

#include <QTimer>
#include <algorithm>

namespace
{

constexpr uint8_t kReaderR321 = 2;
constexpr uint8_t kTipDeviceDifferent = 2;
constexpr uint8_t kTipReadFailed = 4;
constexpr uint8_t kTipWriteSucceed = 5;
constexpr uint8_t kTipWriteFailed = 6;
constexpr uint8_t kTipNoIso15693 = 8;
constexpr uint8_t kTipNoLabel = 9;
constexpr uint8_t kTipVerifyFailed = 11;

} // namespace

void TagEngine::beginOperation(record::Operation operation)
{
    // One left open was abandoned by a new sequence before it could end.
    finishOperation(record::Result::WriteFailed);
    m_op = record::Outcome{};
    m_op.operation = operation;
    m_op.started = QDateTime::currentDateTime();
    m_op.readerType = reader_type;
    // The R321 reports the UID least significant byte first.
    m_op.uidMsbFirst = reader_type == kReaderR321 ? uidReversedBytes() : uidBytes();
    m_op.chipCode = chip_code;
    m_op.templateSource = m_template_source;
    m_op.image.clear();
    m_op_clock.start();
    m_op_pending = true;
}

void TagEngine::noteWriteTemplate()
{
    // Taken when the write starts: the record names what was sent, whatever is opened
    // later.
    m_op.templateSource = m_template_source;
    m_op.image = QByteArray(reinterpret_cast<const char*>(m_image.bank_buffer.data()),
                            static_cast<int>(m_image.bank_buffer.size()));
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
        m_op.image = QByteArray(reinterpret_cast<const char*>(m_image.bank_buffer.data()),
                                static_cast<int>(m_image.bank_buffer.size()));
    m_op.channels = m_host.channelCount();
    m_op.driveAreaSent = m_op.chipCode == tagfields::ChipP &&
                         result != record::Result::OtherModel &&
                         result != record::Result::OtherLayout;
    if (result == record::Result::OtherModel && m_op.operation == record::Operation::AutoWrite)
        m_op.foundModel =
            QByteArray(reinterpret_cast<const char*>(tag_model.data()), int(tag_model.size()));
    emit operationFinished(m_op);
}

bool TagEngine::interruptOperation(const QString& cause)
{
    if (!m_op_pending)
        return false;
    m_op.cause = cause;
    finishOperation(record::Result::Interrupted);
    // Nothing more goes out for it: the program is leaving.
    m_reply_timer->stop();
    m_cmd = CommandState{};
    return true;
}

void TagEngine::noteResultTip(uint8_t code)
{
    if (!m_op_pending)
        return;
    switch (code) {
    case kTipWriteSucceed:
        finishOperation(record::Result::Written);
        break;
    case kTipWriteFailed:
    case kTipNoIso15693:
        finishOperation(record::Result::WriteFailed);
        break;
    case kTipDeviceDifferent:
        finishOperation(record::Result::OtherModel);
        break;
    case kTipVerifyFailed:
        finishOperation(record::Result::VerifyFailed);
        break;
    case kTipNoLabel:
    case kTipReadFailed: // the model-name read of a driver that did not answer
        finishOperation(record::Result::NoTagResponse);
        break;
    default:
        break;
    }
}
