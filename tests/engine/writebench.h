#pragma once
// Helpers of the write, password and auto-write tests. The helpers that drive an action
// take either bench: the engine's, or the window's in the app tests (both have read(),
// lastTip() and engine()).

#include "enginebench.h"

#include "engine/writeplan.h"
#include "readers/sim/demodrivers.h"

namespace enginetest
{

constexpr int kTipNoDevice = 1;
constexpr int kTipDeviceDifferent = 2;
constexpr int kTipReadOk = 3;
constexpr int kTipWriteOk = 5;
constexpr int kTipWriteFailed = 6;
constexpr int kTipNoTag = 9;
constexpr int kTipVerifyFailed = 11;

inline void addReadersAndVerification()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("verify");
    for (int reader : {R321, Feig})
        for (bool verify : {true, false})
            QTest::addRow("%s %s", readerName(reader), verify ? "verified" : "unverified")
                << reader << verify;
}

inline void addReadersAndKinds()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("pwm");
    for (int reader : {R321, Feig})
        for (bool pwm : {false, true})
            QTest::addRow("%s %s", readerName(reader), pwm ? "8" : "P") << reader << pwm;
}

// "write F+N" commands as a tag that takes at most four blocks per write gets them.
inline QStringList inFourBlockPieces(const QStringList& writes)
{
    QStringList out;
    for (const QString& w : writes) {
        const QStringList parts = w.mid(6).split(QLatin1Char('+'));
        const int first = parts.at(0).toInt();
        const int count = parts.at(1).toInt();
        for (int done = 0; done < count; done += 4)
            out << QStringLiteral("write %1+%2").arg(first + done).arg(std::min(4, count - done));
    }
    return out;
}

// The read-back of a write: a Read's own pieces that hold written blocks.
inline QStringList readBack(bool pwm)
{
    QStringList out;
    for (int bank : pwm ? QVector<int>{0, 32} : QVector<int>{64, 96})
        out << QStringLiteral("read %1+12").arg(bank) << QStringLiteral("read %1+12").arg(bank + 12)
            << QStringLiteral("read %1+8").arg(bank + 24);
    if (pwm)
        out << QStringLiteral("read 248+1");
    return out;
}

inline void addReaders()
{
    QTest::addColumn<int>("reader");
    QTest::newRow("R321") << int(R321);
    QTest::newRow("FEIG") << int(Feig);
}

// The parameter bytes of a transparent request after the UID, as either reader carries them.
inline QByteArray transparentParameters(const SimCommandRecord& r)
{
    if (r.reader == SimReaderKind::R321) {
        // [10] n, flags, command, 02, UID (8), parameters, then the trailer 10 27 0C.
        const int n = r.request.size() > 10 ? uint8_t(r.request.at(10)) : 0;
        return r.request.mid(10 + 1 + 3 + 8, n - 11);
    }
    // [5] mode, 00, response bits, 00, 00, flags, command, 02, UID (8), parameters, CRC.
    return r.request.mid(5 + 8 + 8, r.request.size() - 5 - 16 - 2);
}

// The tag commands of the log as short texts, transparent ones with their parameters:
// "present 0 <password>", "writepwd 1 <password>", "config 04 05".
inline QStringList describeCommands(const ReaderField& field, bool withInventories = true)
{
    QStringList out;
    for (const SimCommandRecord& r : field.commandLog()) {
        if (isBeeper(r))
            continue;
        const QByteArray p = transparentParameters(r);
        const int number = p.isEmpty() ? -1 : uint8_t(p.at(0));
        switch (r.isoCommand) {
        case 0x01:
            if (withInventories)
                out << QStringLiteral("inv");
            break;
        case 0x23:
            out << QStringLiteral("read %1+%2").arg(r.firstBlock).arg(r.blockCount);
            break;
        case 0x24:
            out << QStringLiteral("write %1+%2").arg(r.firstBlock).arg(r.blockCount);
            break;
        case 0xB3:
            out << QStringLiteral("present %1 %2")
                       .arg(number)
                       .arg(QString::fromLatin1(p.mid(1).toHex()));
            break;
        case 0xB1:
            out << QStringLiteral("writepwd %1 %2")
                       .arg(number)
                       .arg(QString::fromLatin1(p.mid(1).toHex()));
            break;
        case 0xA1:
            out << QStringLiteral("config %1").arg(QString::fromLatin1(p.toHex(' ')));
            break;
        default:
            out << QStringLiteral("cmd %1").arg(r.command, 2, 16, QLatin1Char('0'));
        }
    }
    return out;
}

inline QStringList bankWrites(int bank)
{
    return {QStringLiteral("write %1+10").arg(bank), QStringLiteral("write %1+10").arg(bank + 10),
            QStringLiteral("write %1+10").arg(bank + 20),
            QStringLiteral("write %1+2").arg(bank + 30)};
}

// The bank that holds the driver's operating-time counters is written around them:
// blocks 83-84 in layout 2, 112-113 in the legacy layout.
inline QStringList counterBankWrites(bool legacy = false)
{
    return legacy ? QStringList{QStringLiteral("write 96+10"), QStringLiteral("write 106+6"),
                                QStringLiteral("write 114+10"), QStringLiteral("write 124+4")}
                  : QStringList{QStringLiteral("write 64+10"), QStringLiteral("write 74+9"),
                                QStringLiteral("write 85+10"), QStringLiteral("write 95+1")};
}

inline QStringList driveAreaWrites(bool legacy = false)
{
    return legacy ? bankWrites(64) + counterBankWrites(true) : counterBankWrites() + bankWrites(96);
}

inline int countOf(const QStringList& list, const QString& item)
{
    return int(std::count(list.begin(), list.end(), item));
}

// Lays the tag, reads it with the Read action and waits until its beep has ended; the
// command log is emptied afterwards.
template <class B> bool readTag(B& b, const std::shared_ptr<VirtualTag>& tag)
{
    if (tag)
        b.field.layTag(tag);
    const int beeps = beeperCommands(b.field);
    b.read();
    if (!QTest::qWaitFor([&] { return uint8_t(b.lastTip()) == kTipReadOk; }, 5000))
        return false;
    if (!QTest::qWaitFor(
            [&] {
                return beeperCommands(b.field) == beeps + 2 &&
                       b.engine().beeper().beep_pattern == 0;
            },
            5000))
        return false;
    QTest::qWait(20);
    b.field.clearCommandLog();
    return true;
}

// Changes, in the configuration, the block a tag will be made to drop, so that the tag then
// holds something else there: a block of the drive area of a P tag, of the product area of
// an '8' tag (what auto write sends of each). Returns the block.
template <class B> int changeBlockToDrop(B& b, bool pwm)
{
    const int dropped = pwm ? 40 : 101;
    TestAccess::editImage(b.engine(), [dropped](TagImage& image) {
        image.image_v2[dropped * 4] ^= 0x5A;
        image.image_legacy[dropped * 4] ^= 0x5A;
    });
    return dropped;
}

// Waits until a beep pattern has ended and the reader has received `commands` beeper
// commands in all.
template <class B> bool waitBeeps(B& b, int commands, int timeoutMs = 5000)
{
    return QTest::qWaitFor(
        [&] {
            return beeperCommands(b.field) >= commands && b.engine().beeper().beep_pattern == 0;
        },
        timeoutMs);
}

} // namespace enginetest
