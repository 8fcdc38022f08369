#include "readers/readerclaim.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QMutex>
#include <QSet>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

namespace
{

QMutex g_claimsLock;
// Readers held by links of this process.
QSet<QString>& claims()
{
    static auto* held = new QSet<QString>();
    return *held;
}

// A file name that stands for exactly one key (paths hold slashes and colons).
QString fileNameFor(const QString& key)
{
    QString readable;
    for (const QChar c : key.left(40))
        readable += c.isLetterOrNumber() || c == QLatin1Char('-') ? c : QChar(QLatin1Char('_'));
    const QByteArray digest =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return readable + QLatin1Char('-') + QString::fromLatin1(digest) + QStringLiteral(".lock");
}

} // namespace

ReaderClaim::~ReaderClaim()
{
    release();
}

QString ReaderClaim::lockFolder()
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty()) {
#if defined(Q_OS_UNIX)
        base = QDir::temp().filePath(QStringLiteral("vantory-%1").arg(::getuid()));
#else
        base = QDir::temp().filePath(QStringLiteral("vantory"));
#endif
    }
    return QDir(base).filePath(QStringLiteral("vantory-readers"));
}

bool ReaderClaim::take(const QString& key, bool systemWide)
{
    QMutexLocker lock(&g_claimsLock);
    if (key == m_key && !key.isEmpty())
        return true;
    if (claims().contains(key))
        return false;
    std::unique_ptr<QLockFile> file;
    if (systemWide) {
        const QString folder = lockFolder();
        if (!QDir(folder).exists() && QDir().mkpath(folder))
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        file = std::make_unique<QLockFile>(QDir(folder).filePath(fileNameFor(key)));
        // Held as long as this process runs; a holder that died leaves a stale file that
        // the next one takes over.
        file->setStaleLockTime(0);
        if (!file->tryLock(0))
            return false;
    }
    if (!m_key.isEmpty())
        claims().remove(m_key);
    m_file = std::move(file);
    m_key = key;
    claims().insert(key);
    return true;
}

void ReaderClaim::release()
{
    QMutexLocker lock(&g_claimsLock);
    if (m_key.isEmpty())
        return;
    claims().remove(m_key);
    m_key.clear();
    m_file.reset();
}

QString ReaderClaim::key() const
{
    QMutexLocker lock(&g_claimsLock);
    return m_key;
}
