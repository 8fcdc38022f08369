#include "model/productionrecord.h"

#include "model/currents.h"
#include "model/tagfields.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace record
{

QString resultText(Result result)
{
    switch (result) {
    case Result::Written:
        return QStringLiteral("Written");
    case Result::WriteFailed:
        return QStringLiteral("Write failed");
    case Result::NoTagResponse:
        return QStringLiteral("No tag response");
    case Result::OtherModel:
        return QStringLiteral("Other model refused");
    case Result::ReaderLost:
        return QStringLiteral("Reader lost");
    case Result::Interrupted:
        return QStringLiteral("Interrupted");
    case Result::OtherLayout:
        return QStringLiteral("Other layout refused");
    case Result::VerifyFailed:
        return QStringLiteral("Verify failed");
    case Result::OtherKind:
        return QStringLiteral("Other tag kind refused");
    }
    return QString();
}

QString operationText(Operation operation)
{
    return operation == Operation::AutoWrite ? QStringLiteral("Auto write")
                                             : QStringLiteral("Write");
}

namespace
{

uint16_t be16(const QByteArray& b, int at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) << 8 |
                                 static_cast<uint8_t>(b.at(at + 1)));
}

// The model name as the window shows it.
QString modelText(const QByteArray& field)
{
    TagImage image;
    std::copy_n(field.constBegin(), std::min<int>(field.size(), tagoffset::ModelNameSize),
                image.image_v2.begin() + tagoffset::ModelName);
    return tagfields::modelName(image);
}

// ISO 8601 with the offset always written out, also for UTC.
QString isoWithOffset(const QDateTime& local)
{
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

Entry entryFor(const Outcome& o, const QString& program)
{
    Entry e;
    const QDateTime& local = o.started; // local time as the engine took it
    e.time = isoWithOffset(local);
    e.day = local.date();
    e.program = program;
    e.reader = o.readerType == ReaderType::Feig   ? QStringLiteral("FEIG")
               : o.readerType == ReaderType::R321 ? QStringLiteral("R321")
                                                  : QString();
    e.readerId = o.readerId;
    e.operation = operationText(o.operation);
    e.uid = QString::fromLatin1(o.uidMsbFirst.toHex().toUpper());
    e.tagKind = o.chipCode == tagfields::ChipP     ? QStringLiteral("P")
                : o.chipCode == tagfields::ChipPwm ? QStringLiteral("8")
                                                   : QString();
    e.source = o.templateSource;
    e.result = resultText(o.result);
    if (o.result == Result::Interrupted && !o.cause.isEmpty())
        e.result += QStringLiteral(" (%1)").arg(o.cause);
    if (o.result == Result::VerifyFailed && o.verifyBlock >= 0)
        e.result += QStringLiteral(" (block %1)").arg(o.verifyBlock);
    e.durationMs = QString::number(o.durationMs);
    e.blocksWritten = QString::number(o.blocksWritten);
    e.verified = o.verification == Verification::Proven ? QStringLiteral("yes")
                 : o.verification == Verification::Off  ? QStringLiteral("off")
                                                        : QStringLiteral("no");
    if (o.writtenCrc)
        e.writtenCrc = QStringLiteral("%1").arg(*o.writtenCrc, 8, 16, QLatin1Char('0')).toUpper();

    if (o.image.size() < TagImage::Size)
        return e;
    TagImage image;
    std::copy_n(o.image.constBegin(), TagImage::Size, image.image_v2.begin());
    image.image_legacy = image.image_v2;
    const tagfields::ProductInfo product = tagfields::productInfo(image);
    e.layout = image.isLayout2() ? QStringLiteral("2") : QStringLiteral("legacy");
    // A refused driver is recorded with the model it carries, not the one it was refused for.
    if (o.result == Result::OtherModel) {
        // Nothing was written: the line names the model the driver carries.
        e.model = o.foundModel.isEmpty() ? product.model : modelText(o.foundModel);
        return e;
    }
    e.model = product.model;
    e.gtin = product.gtin;
    e.fixtureId = product.fixtureId;
    // Only what the driver was given: nothing after a failed or refused write, and of the
    // settings only those its driver type has (the legacy layout's byte 267 belongs to the
    // channel-2 current, not to a lumen switch).
    if (!o.driveAreaSent || o.result != Result::Written)
        return e;
    // Layout 2 carries one current; the legacy layout one per channel.
    const int channels = image.isLayout2() ? 1 : std::clamp<int>(o.channels, 1, 3);
    QStringList currents;
    for (int i = 0; i < channels; ++i)
        currents << QString::number(be16(o.image, tagoffset::Current1 + 2 * i));
    e.currents = currents.join(QLatin1Char('/'));
    const currents::PanelPlan plan = currents::changeParamEnable(image, product.driverType);
    const tagfields::DriveInfo drive = tagfields::driveInfo(image);
    if (plan.showClo)
        e.constantLumen = drive.cloEnabled ? QStringLiteral("on") : QStringLiteral("off");
    if (plan.showCct)
        e.cctRange = QStringLiteral("%1-%2").arg(drive.cctWarmest).arg(drive.cctCoolest);
    return e;
}

QString csvField(const QString& text)
{
    // Model names come from tags that any NFC phone can write, file names from anyone:
    // neither may become a live formula in the spreadsheet that opens the record.
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    const bool formula = !text.isEmpty() && formulaStarts.contains(text.at(0));
    if (!formula && !text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = formula ? QLatin1Char('\'') + text : text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

const QVector<Field>& fields()
{
    // A new column goes at the end with the schema version that brings it.
    static const QVector<Field> list = {
        {QStringLiteral("Time"), "time", &Entry::time, 1},
        {QStringLiteral("Program"), "program", &Entry::program, 1},
        {QStringLiteral("Reader"), "reader", &Entry::reader, 1},
        {QStringLiteral("Operation"), "operation", &Entry::operation, 1},
        {QStringLiteral("UID"), "uid", &Entry::uid, 1},
        {QStringLiteral("Tag"), "tag", &Entry::tagKind, 1},
        {QStringLiteral("Layout"), "layout", &Entry::layout, 1},
        {QStringLiteral("Model"), "model", &Entry::model, 1},
        {QStringLiteral("GTIN"), "gtin", &Entry::gtin, 1},
        {QStringLiteral("Fixture ID"), "fixture_id", &Entry::fixtureId, 1},
        {QStringLiteral("Currents (mA)"), "currents_ma", &Entry::currents, 1},
        {QStringLiteral("Constant lumen"), "constant_lumen", &Entry::constantLumen, 1},
        {QStringLiteral("CCT range (K)"), "cct_range_k", &Entry::cctRange, 1},
        {QStringLiteral("Template source"), "template_source", &Entry::source, 1},
        {QStringLiteral("Result"), "result", &Entry::result, 1},
        {QStringLiteral("Duration (ms)"), "duration_ms", &Entry::durationMs, 1},
        {QStringLiteral("Verified"), "verified", &Entry::verified, 2},
        {QStringLiteral("Written CRC-32"), "written_crc32", &Entry::writtenCrc, 2},
        {QStringLiteral("Blocks written"), "blocks_written", &Entry::blocksWritten, 3},
        {QStringLiteral("Reader ID"), "reader_id", &Entry::readerId, 3},
    };
    return list;
}

QStringList columnNames()
{
    QStringList names;
    for (const Field& f : fields())
        names << f.header;
    return names;
}

namespace
{

QByteArray joinLine(const QStringList& fields)
{
    QStringList quoted;
    for (const QString& f : fields)
        quoted << csvField(f);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

} // namespace

QByteArray headerLine()
{
    return joinLine(columnNames());
}

QByteArray csvLine(const Entry& e)
{
    QStringList values;
    for (const Field& f : fields())
        values << e.*f.member;
    return joinLine(values);
}

QString fileName(const QDate& day)
{
    return QStringLiteral("vantory-record-%1.csv").arg(day.toString(Qt::ISODate));
}

QString defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/records");
}

namespace
{

/// The day's file opened for appending only, locked against every other program that
/// appends to it: the lock makes "is it new? then the header first" one step.
class LockedAppend
{
  public:
    explicit LockedAppend(const QString& path)
    {
#ifdef Q_OS_WIN
        // FILE_APPEND_DATA alone gives every write the end of the file, whoever else
        // appends; reading access is what LockFileEx asks for.
        m_handle = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()),
                                 FILE_APPEND_DATA | GENERIC_READ | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_handle == INVALID_HANDLE_VALUE) {
            m_error = systemError();
            return;
        }
        OVERLAPPED whole{};
        if (!::LockFileEx(m_handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
            m_error = systemError();
            return;
        }
        m_locked = true;
#else
        m_fd = ::open(QFile::encodeName(path).constData(),
                      O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (m_fd < 0) {
            m_error = systemError();
            return;
        }
        int rc;
        do
            rc = ::flock(m_fd, LOCK_EX);
        while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            m_error = systemError();
            return;
        }
        m_locked = true;
#endif
    }

    ~LockedAppend()
    {
#ifdef Q_OS_WIN
        if (m_locked) {
            OVERLAPPED whole{};
            ::UnlockFileEx(m_handle, 0, MAXDWORD, MAXDWORD, &whole);
        }
        if (m_handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_handle);
#else
        if (m_fd >= 0)
            ::close(m_fd); // also releases the lock
#endif
    }

    LockedAppend(const LockedAppend&) = delete;
    LockedAppend& operator=(const LockedAppend&) = delete;

    bool ok() const
    {
        return m_locked;
    }
    QString error() const
    {
        return m_error;
    }

    /// Size of the file now; -1 when unknown.
    qint64 size()
    {
#ifdef Q_OS_WIN
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(m_handle, &size)) {
            m_error = systemError();
            return -1;
        }
        return size.QuadPart;
#else
        struct stat st {
        };
        if (::fstat(m_fd, &st) != 0) {
            m_error = systemError();
            return -1;
        }
        return st.st_size;
#endif
    }

    /// Writes all of `bytes` in one call where the system allows, then puts it on disk.
    bool writeAndSync(const QByteArray& bytes)
    {
        qint64 done = 0;
        while (done < bytes.size()) {
#ifdef Q_OS_WIN
            DWORD wrote = 0;
            if (!::WriteFile(m_handle, bytes.constData() + done, DWORD(bytes.size() - done), &wrote,
                             nullptr)) {
                m_error = systemError();
                return false;
            }
#else
            const ssize_t wrote =
                ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0) {
                m_error = wrote < 0 ? systemError() : QStringLiteral("nothing written");
                return false;
            }
#endif
            done += qint64(wrote);
        }
        // A power cut must not take written lines with it.
#ifdef Q_OS_WIN
        const bool synced = ::FlushFileBuffers(m_handle) != 0;
#else
        const bool synced = ::fsync(m_fd) == 0;
#endif
        if (!synced)
            m_error = systemError();
        return synced;
    }

    /// Cuts the file back to `size` bytes: a line the disk took only part of goes, so that
    /// the next line starts on a line of its own.
    void truncate(qint64 size)
    {
#ifdef Q_OS_WIN
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = size;
        ::SetFileInformationByHandle(m_handle, FileEndOfFileInfo, &end, sizeof(end));
        ::FlushFileBuffers(m_handle);
#else
        int rc;
        do
            rc = ::ftruncate(m_fd, off_t(size));
        while (rc != 0 && errno == EINTR);
        ::fsync(m_fd);
#endif
    }

  private:
    static QString systemError()
    {
#ifdef Q_OS_WIN
        return qt_error_string(int(::GetLastError()));
#else
        return qt_error_string(errno);
#endif
    }

#ifdef Q_OS_WIN
    HANDLE m_handle = INVALID_HANDLE_VALUE;
#else
    int m_fd = -1;
#endif
    bool m_locked = false;
    QString m_error;
};

} // namespace

QString appendLine(const QString& folder, const Entry& entry)
{
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot create the folder");
    LockedAppend file(QDir(folder).filePath(fileName(entry.day)));
    if (!file.ok())
        return file.error();
    const qint64 size = file.size();
    if (size < 0)
        return file.error();
    // A new file starts with the byte-order mark, so that spreadsheet programs take the
    // Chinese texts for UTF-8, and the column names; the lock makes it one header.
    QByteArray out;
    if (size == 0)
        out = QByteArray("\xEF\xBB\xBF") + headerLine();
    out += csvLine(entry);
    if (file.writeAndSync(out))
        return QString();
    // A full disk may have taken part of the line; the size noted under the lock is where
    // the file ends again, and the caller keeps the line for later.
    const QString reason = file.error();
    file.truncate(size);
    return reason;
}

/// Lives on the writer's thread; every file operation happens here.
class WriterWorker : public QObject
{
  public:
    WriterWorker(Writer* owner, QString folder) : m_owner(owner), m_folder(std::move(folder)) {}

    void write(const Entry& entry)
    {
        const QString reason = appendLine(m_folder, entry);
        if (reason.isEmpty()) {
            if (m_reported)
                emit m_owner->recovered(m_folder);
            m_reported = false;
            return;
        }
        if (m_reported)
            return;
        m_reported = true;
        emit m_owner->failed(m_folder, reason);
    }

  private:
    Writer* m_owner;
    QString m_folder;
    bool m_reported = false;
};

Writer::Writer(const QString& folder, QObject* parent)
    : QObject(parent), m_folder(folder), m_thread(new QThread(this)),
      m_worker(new WriterWorker(this, folder))
{
    m_thread->setObjectName(QStringLiteral("recordWriter"));
    m_worker->moveToThread(m_thread);
    m_thread->start(QThread::LowPriority);
}

Writer::~Writer()
{
    drain();
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
}

void Writer::append(const Entry& entry)
{
    WriterWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, entry] { worker->write(entry); }, Qt::QueuedConnection);
}

void Writer::drain()
{
    QMetaObject::invokeMethod(
        m_worker, [] {}, Qt::BlockingQueuedConnection);
}

QString signalCause(int signal)
{
    switch (signal) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
#ifdef SIGHUP
    case SIGHUP:
        return QStringLiteral("SIGHUP");
#endif
    default:
        return QStringLiteral("signal %1").arg(signal);
    }
}

} // namespace record
