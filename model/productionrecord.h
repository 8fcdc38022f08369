#pragma once

#include "readers/readertype.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <optional>

class QThread;

/// The production record: one CSV line per programmed driver, one file per day.
namespace record
{

enum class Operation : uint8_t { Write, AutoWrite };
enum class Result : uint8_t {
    Written,
    WriteFailed,
    NoTagResponse,
    OtherModel,
    ReaderLost,
    Interrupted,  ///< cut short by the program's exit; Outcome::cause says why
    OtherLayout,  ///< refused: the configuration is of another layout than the driver
    VerifyFailed, ///< written, but the read-back differs or did not come; see verifyBlock
    OtherKind,    ///< refused: the configuration is for the other tag kind ('P' or '8')
};

/// Whether the written blocks were read back and found as sent.
enum class Verification : uint8_t {
    NotProven, ///< verification found a difference, got no reply, or never ran
    Proven,    ///< every written block read back as sent
    Off,       ///< verification switched off
};

/// One finished Write or auto-write operation as the engine reports it.
struct Outcome {
    Operation operation = Operation::Write;
    Result result = Result::WriteFailed;
    QDateTime started;     ///< local time the operation began
    qint64 durationMs = 0; ///< from its start to its outcome
    ReaderType readerType = ReaderType::None;
    QString readerId;           ///< the reader's identity (serial number, place, device ID)
    QByteArray uidMsbFirst;     ///< 8 bytes, most significant first
    uint8_t chipCode = 0;       ///< 0x50 'P' or 0x38 '8'
    QByteArray image;           ///< the 512 tag bytes the operation sent (bank buffer)
    uint8_t channels = 1;       ///< channel count the currents were taken for
    bool driveAreaSent = false; ///< the drive area (currents, constant lumen, colour
                                ///< temperature) was to go out; listed when Written
    QByteArray foundModel;      ///< model-name field read from the tag (refused models)
    QString templateSource;     ///< UID of the driver read, or the configuration file's name
    QString cause;              ///< with Interrupted: what cut the operation short
    Verification verification = Verification::NotProven;
    int verifyBlock = -1;               ///< with VerifyFailed: the first block not as sent
    std::optional<uint32_t> writtenCrc; ///< CRC-32 of the written blocks as read back
    int blocksWritten = 0;              ///< blocks of write commands the tag acknowledged
};

/// One line of the record, every column as text.
struct Entry {
    QString time;    ///< ISO 8601 with the UTC offset
    QString program; ///< name and version
    QString reader;
    QString operation;
    QString uid;
    QString tagKind; ///< P or 8
    QString layout;  ///< 2 or legacy
    QString model;
    QString gtin;
    QString fixtureId;
    QString currents; ///< mA per channel, separated by "/"
    QString constantLumen;
    QString cctRange; ///< warmest-coolest K, when written
    QString source;
    QString result;
    QString durationMs;
    QString verified;   ///< yes, no or off
    QString writtenCrc; ///< 8 hexadecimal digits, when the blocks were read back
    QString blocksWritten;
    QString readerId;   ///< which reader of the station
    QDate day;          ///< local day, which names the file
};

/// One column of the record: its CSV header, its name in the record database, where the
/// entry holds it, and the database schema version that brought it. The CSV files, the
/// database table and its migrations are all made from this one list.
struct Field {
    QString header;
    const char* key; ///< column name in the database, a fixed identifier
    QString Entry::*member;
    int sinceSchema;
};

/// The record's columns in their CSV order.
const QVector<Field>& fields();

QString resultText(Result result);
QString operationText(Operation operation);
/// Builds the line's columns from an outcome; `program` is name and version.
Entry entryFor(const Outcome& outcome, const QString& program);

/// One CSV field, quoted when it holds a comma, a quote or a line break. A field that a
/// spreadsheet would take for a formula (it begins with = + - @, a tab or a carriage
/// return) gets a leading apostrophe inside the quotes, so that it shows as the text it is.
QString csvField(const QString& text);
QStringList columnNames();
QByteArray headerLine();
/// The entry as one CRLF-terminated UTF-8 line.
QByteArray csvLine(const Entry& entry);
/// The day's file name, e.g. "vantory-record-2026-12-08.csv".
QString fileName(const QDate& day);
/// The user's data folder plus "records".
QString defaultFolder();

class WriterWorker;

/// Appends one line to the day's file in `folder`: the byte-order mark and the header first
/// when the file is new, under an exclusive lock on the file, so that any number of
/// programs can append to one file at once; on disk before it returns. Empty when it
/// worked, else the reason; a line the disk could not take whole is cut away again, so the
/// file never holds part of a line.
QString appendLine(const QString& folder, const Entry& entry);

/// Appends lines on a thread of its own, so that a slow or failing disk never holds up
/// programming. Every line is flushed to disk before the next one is taken.
class Writer : public QObject
{
    Q_OBJECT

  public:
    explicit Writer(const QString& folder, QObject* parent = nullptr);
    ~Writer() override;

    QString folder() const { return m_folder; }
    /// Queues one line; returns at once.
    void append(const Entry& entry);
    /// Blocks until every queued line has been handled (tests, shutdown).
    void drain();

  signals:
    /// The record could not be written; emitted once until a line is written again.
    void failed(const QString& folder, const QString& reason);
    /// A line was written again after `failed`.
    void recovered(const QString& folder);

  private:
    QString m_folder;
    QThread* m_thread = nullptr;
    WriterWorker* m_worker = nullptr;
};

/// The cause a signal gives an interrupted operation in the record ("SIGTERM", ...).
QString signalCause(int signal);

} // namespace record
