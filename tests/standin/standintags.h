#pragma once

// The tests' side of the stand-in readers: tag files as the stand-in libraries keep them
// (UID, most significant byte first, then the tag's memory), the drivers laid, and the
// environment that makes a program load the stand-ins.
#include "engine/writeplan.h"
#include "readers/sim/demodrivers.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <QVector>
#include <utility>

namespace standintags
{

constexpr int kUidSize = 8;
constexpr int kCurrentByte = 264; // channel 1, high byte first
constexpr int kCurrent = 480;     // what the tests write; the drivers come with 350

inline QByteArray uid(quint8 last)
{
    return QByteArray::fromHex("E002500000000000").left(kUidSize - 1) + char(last);
}

inline int counterByte()
{
    return writeplan::counterBlocks(2).first * 4;
}
inline int counterBytes()
{
    return writeplan::counterBlocks(2).count * 4;
}

inline QByteArray withCounters(QByteArray memory, char first)
{
    for (int i = 0; i < counterBytes(); ++i)
        memory[counterByte() + i] = char(first + i);
    return memory;
}

/// The demo DT8 driver as it comes down the line, with its own operating-time counters.
inline QByteArray driverOnLine()
{
    return withCounters(demodrivers::memory(demodrivers::Kind::Dt8), char(0xA1));
}

/// A configuration file saved from another driver of the model (other counters).
inline QByteArray configuration()
{
    return withCounters(demodrivers::memory(demodrivers::Kind::Dt8), char(0x11));
}

/// True when `memory` holds the configuration with channel 1 at kCurrent, and the driver's
/// own counters as they were.
inline bool holdsConfiguration(const QByteArray& memory)
{
    QByteArray expected = configuration();
    expected[kCurrentByte] = char(kCurrent >> 8);
    expected[kCurrentByte + 1] = char(kCurrent & 0xFF);
    expected.replace(counterByte(), counterBytes(),
                     driverOnLine().mid(counterByte(), counterBytes()));
    // The drive area the writes own, the counters in its middle.
    return memory.size() == expected.size() && memory.mid(256, 234) == expected.mid(256, 234);
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline bool writeTagFile(const QString& path, const QByteArray& uid, const QByteArray& memory)
{
    return writeFile(path, uid + memory);
}

/// The memory a stand-in tag holds now.
inline QByteArray tagMemory(const QString& path)
{
    return readFile(path).mid(kUidSize);
}

/// The variable naming the tag files of a reader ("r321" or "feig").
inline QString tagVariable(const QString& reader)
{
    return reader == QLatin1String("feig") ? QStringLiteral("VANTORY_STANDIN_FEIG_TAGS")
                                           : QStringLiteral("VANTORY_STANDIN_R321_TAGS");
}

/// The stand-in readers by identity, in the order they are listed, with the variable
/// naming each one's tag files.
inline const QVector<std::pair<QString, QString>>& standinReaders()
{
    static const QVector<std::pair<QString, QString>> readers = {
        {"R321-0042", "VANTORY_STANDIN_R321_TAGS"},
        {"R321-0043", "VANTORY_STANDIN_R321_TAGS_2"},
        {"0A1B2C01", "VANTORY_STANDIN_FEIG_TAGS"},
        {"0A1B2C02", "VANTORY_STANDIN_FEIG_TAGS_2"}};
    return readers;
}

/// The variable naming the tag files of the stand-in reader `identity` (empty: none such).
inline QString tagVariableOf(const QString& identity)
{
    for (const auto& [id, variable] : standinReaders())
        if (id == identity)
            return variable;
    return QString();
}

/// A runtime folder of this test program's own: the readers its programs hold are held
/// against each other, never against another test program running at the same time.
inline QString runtimeFolder()
{
    static const QTemporaryDir folder; // the owner's alone, as a runtime folder must be
    return folder.path();
}

/// This environment with the stand-in hidapi first on the linker's path, and the tag files
/// (separated by ':') on `reader`; the other reader's field is empty. FEIG's library is
/// left to the program's own search: no library path names it.
inline QProcessEnvironment environmentFor(const QString& reader, const QString& tagFiles)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QStringList path{QStringLiteral(STANDIN_HIDAPI_DIR)};
    for (const QString& entry :
         env.value(QStringLiteral("LD_LIBRARY_PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (!QFile::exists(QDir(entry).filePath(QStringLiteral("libfeusb.so"))))
            path << entry;
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), path.join(QLatin1Char(':')));
    env.remove(tagVariable(QStringLiteral("r321")));
    env.remove(tagVariable(QStringLiteral("feig")));
    env.insert(tagVariable(reader), tagFiles);
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder());
    return env;
}

} // namespace standintags
