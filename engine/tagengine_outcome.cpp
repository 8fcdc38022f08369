// The outcome of each Write and auto-write operation, reported once as a plain value for
// the production record and the batch counts. Each step that ends an operation names its
// result; a reader that stopped answering is reported by the reply time-out.
#include "engine/tagengine.h"

#include "model/tagfields.h"

QByteArray TagEngine::bankBytes() const
{
    return QByteArray(reinterpret_cast<const char*>(m_doc->image().bank_buffer.data()),
                      static_cast<int>(m_doc->image().bank_buffer.size()));
}

void TagEngine::beginOperation(record::Operation operation)
{
    // One left open was abandoned by a new sequence before it could end.
    finishOperation(record::Result::WriteFailed);
    m_record = record::Outcome{};
    m_record.operation = operation;
    m_record.started = QDateTime::currentDateTime();
    m_record.readerType = readerType();
    m_record.readerId = readerIdentity();
    m_record.uidMsbFirst = uidMsbFirst();
    m_record.chipCode = chip_code;
    m_record.templateSource = templateSource();
    m_record.image.clear();
    m_record_clock.start();
    m_record_pending = true;
}

QString TagEngine::templateSource() const
{
    const TagDocument::Origin& origin = m_doc->origin();
    // The file's name alone would not tell that other values than the file's went out.
    return origin.edited ? origin.name + QStringLiteral(" (edited)") : origin.name;
}

void TagEngine::noteWriteTemplate()
{
    // Taken when the write starts: the record names what was sent, whatever is opened
    // later.
    m_record.templateSource = templateSource();
    m_record.image = bankBytes();
}

void TagEngine::finishOperation(record::Result result, bool readerGone)
{
    if (!m_record_pending)
        return;
    if (!m_verify_on)
        m_record.verification = record::Verification::Off;
    if (Operation* op = m_seq.operation())
        result = op->recordResult(result, readerGone);
    m_record_pending = false;
    m_record.result = result;
    m_record.durationMs = m_record_clock.elapsed();
    if (m_record.image.isEmpty()) // no write started: the template it was checked against
        m_record.image = bankBytes();
    m_record.channels = m_doc->channelCount();
    m_record.driveAreaSent =
        m_record.chipCode == tagfields::ChipP && result != record::Result::OtherModel &&
        result != record::Result::OtherLayout && result != record::Result::OtherKind;
    emit operationFinished(m_record);
}

bool TagEngine::dropUnwrittenDriver()
{
    // Auto write opens a driver's operation at its model-name read; until its write starts
    // nothing has been given to it, and cutting that short is no outcome to record.
    if (!m_record_pending || !m_record.image.isEmpty())
        return false;
    m_record_pending = false;
    return true;
}

bool TagEngine::interruptOperation(const QString& cause)
{
    if (!m_record_pending || dropUnwrittenDriver())
        return false;
    m_record.cause = cause;
    finishOperation(record::Result::Interrupted);
    // Nothing more goes out for it: the program is leaving.
    m_seq.stop();
    return true;
}
