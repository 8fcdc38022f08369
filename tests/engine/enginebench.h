#pragma once
// An engine wired to the simulated readers, and what the engine tests need to drive it.
// No window: the engine tests check what the engine reports and what the tag holds.

#include "engine/readoperation.h"
#include "engine/tagengine.h"
#include "engine/writeoperation.h"
#include "model/tagfields.h"
#include "readers/crc16.h"
#include "readers/feusbapi.h"
#include "readers/hidbackend.h"
#include "readers/r321frames.h"
#include "readers/replies.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"
#include "testaccess.h"

#include <QLoggingCategory>
#include <QMutex>
#include <QStringList>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <functional>
#include <memory>

namespace enginetest
{

enum Reader { Feig = 1, R321 = 2 };

inline const char* readerName(int reader)
{
    return reader == Feig ? "FEIG" : "R321";
}

// A HidBackend in front of the simulated R321 that may rewrite request frames and
// reply reports (a tag with another IC reference, a short reply, ...).
class RewritingHid : public HidBackend
{
  public:
    using Rewrite = std::function<QByteArray(const QByteArray&)>;
    explicit RewritingHid(HidBackend* inner) : m_inner(inner) {}
    Rewrite requestFrame; // the R321 frame of one output report
    Rewrite replyReport;  // one 64-byte input report

    QVector<HidInterfaceInfo> enumerate() override { return m_inner->enumerate(); }
    bool open(const QString& path) override { return m_inner->open(path); }
    bool isOpen() const override { return m_inner->isOpen(); }
    void close() override { m_inner->close(); }
    int write(const QByteArray& report) override
    {
        if (!requestFrame || report.size() < 2)
            return m_inner->write(report);
        const int frameSize = static_cast<uint8_t>(report.at(1)) + 1;
        QByteArray frame = requestFrame(report.mid(1, frameSize));
        QByteArray out(1, '\0');
        out.append(frame);
        out.append(QByteArray(std::max(0, 65 - out.size()), '\0'));
        return m_inner->write(out.left(65));
    }
    int read(QByteArray* report, int timeoutMs) override
    {
        const int n = m_inner->read(report, timeoutMs);
        if (n > 0 && replyReport) {
            QByteArray r = replyReport(*report);
            r.append(QByteArray(std::max(0, 64 - r.size()), '\0'));
            *report = r.left(64);
            return report->size();
        }
        return n;
    }

  private:
    HidBackend* m_inner;
};

// A FeusbApi in front of the simulated FEIG reader that may rewrite requests and replies.
class RewritingFeig : public FeusbApi
{
  public:
    using Rewrite = std::function<QByteArray(const QByteArray&)>;
    using ReplyRewrite = std::function<QByteArray(const QByteArray& request, const QByteArray&)>;
    explicit RewritingFeig(FeusbApi* inner) : m_inner(inner) {}
    Rewrite request;
    ReplyRewrite reply;

    bool available() override { return m_inner->available(); }
    int ScanAndOpen(int o, void* p) override { return m_inner->ScanAndOpen(o, p); }
    int SetDevicePara(int h, char* p, char* v) override { return m_inner->SetDevicePara(h, p, v); }
    int CloseDevice(int h) override { return m_inner->CloseDevice(h); }
    int Transceive(int h, char* iface, int dir, unsigned char* send, int sendLen,
                   unsigned char* rec, int recLen) override
    {
        QByteArray req(reinterpret_cast<const char*>(send), sendLen);
        if (request)
            req = request(req);
        QByteArray buffer(400, '\0');
        const int n = m_inner->Transceive(
            h, iface, dir, reinterpret_cast<unsigned char*>(req.data()), req.size(),
            reinterpret_cast<unsigned char*>(buffer.data()), buffer.size());
        if (n <= 0)
            return n;
        QByteArray rx = buffer.left(n);
        if (reply)
            rx = reply(req, rx);
        const int m = std::min<int>(rx.size(), recLen);
        std::memcpy(rec, rx.constData(), static_cast<size_t>(m));
        return m;
    }

  private:
    FeusbApi* m_inner;
};

// Field, both simulated readers and an engine on them, with what the engine reports
// collected: the engine goes first on destruction.
class Bench
{
  public:
    ReaderField field;
    SimR321 r321{&field};
    SimFeig feig{&field};
    RewritingHid hidProxy{&r321};
    RewritingFeig feigProxy{&feig};
    QStringList boxes;   // the warnings (caption|text) a host would show as modal boxes
    QStringList notices; // the transient notices
    QVector<ResultTip> tips;
    QVector<TagEngine::LinkTip> linkTips;
    QVector<record::Outcome> outcomes;
    std::unique_ptr<TagEngine> e;

    explicit Bench(bool proxies = false)
    {
        e = proxies ? std::make_unique<TagEngine>(&hidProxy, &feigProxy)
                    : std::make_unique<TagEngine>(&r321, &feig);
        QObject::connect(e.get(), &TagEngine::warning, [this](const QString& c, const QString& t) {
            boxes << c + QLatin1Char('|') + t;
        });
        QObject::connect(e.get(), &TagEngine::notice,
                         [this](const QString& text, int) { notices << text; });
        QObject::connect(e.get(), &TagEngine::resultTip, [this](ResultTip tip, bool) {
            tips << tip;
            m_last_tip = tip;
        });
        QObject::connect(e.get(), &TagEngine::linkTip,
                         [this](TagEngine::LinkTip tip, bool) { linkTips << tip; });
        QObject::connect(e.get(), &TagEngine::operationFinished,
                         [this](const record::Outcome& o) { outcomes << o; });
    }
    ~Bench() { e.reset(); }

    TagEngine& engine() { return *e; }
    TagDocument& document() { return e->document(); }
    /// The operation running (or run last), when it is a read or a write.
    ReadOperation* readOp() { return dynamic_cast<ReadOperation*>(e->operation()); }
    WriteOperation* writeOp() { return dynamic_cast<WriteOperation*>(e->operation()); }
    uint8_t beepPattern() const { return e->beeper().beep_pattern; }
    /// The code of the last result tip, 0 before any or after an action started.
    uint8_t lastTip() const { return static_cast<uint8_t>(m_last_tip); }
    void clearLastTip() { m_last_tip = ResultTip::None; }
    // Read-back verification after writes (on by default); tests of the plain command
    // sequences switch it off.
    void verify(bool on) { e->setVerifyAfterWrite(on); }

    // Connects as the connection dialog's OK does.
    bool connect(int reader)
    {
        e->connectReader(ReaderType(reader));
        if (!e->readerConnected())
            return false;
        if (reader == R321) {
            // The set-up command goes out at once; let its reply pass before the tests.
            if (!QTest::qWaitFor([this] { return field.commandLog().size() >= 1; }, 3000))
                return false;
            QTest::qWait(30);
        }
        field.clearCommandLog();
        return true;
    }

    // The host's actions; each clears the last tip as the window's result part is cleared.
    void read()
    {
        clearLastTip();
        e->startRead();
    }
    void write()
    {
        clearLastTip();
        e->startWrite();
    }
    void toggleAutoWrite()
    {
        clearLastTip();
        e->toggleAutoWrite();
    }
    /// A channel's current setting (1..3), as the current widget passes it on.
    void setCurrent(int channel, uint16_t mA) { document().setChannelCurrent(channel - 1, mA); }

    // Stopped on purpose: the engine must not restart it when a sequence or beep starts.
    void stopTimer()
    {
        TestAccess::cmdTimer(*e)->stop();
        TestAccess::setTickParked(*e, false);
    }
    void startTimer() { TestAccess::cmdTimer(*e)->start(); }
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            e->TIMER0_HANDLE();
    }

  private:
    ResultTip m_last_tip = ResultTip::None;
};

inline bool isBeeper(const SimCommandRecord& r)
{
    return (r.reader == SimReaderKind::R321 && r.command == 0xE9) ||
           (r.reader == SimReaderKind::Feig && r.command == 0x72);
}

// The tag commands of the log, in order, as "inv" or "read <first>+<count>".
inline QStringList tagCommands(const ReaderField& field)
{
    QStringList out;
    for (const SimCommandRecord& r : field.commandLog()) {
        if (isBeeper(r))
            continue;
        if (r.isoCommand == 0x01)
            out << QStringLiteral("inv");
        else if (r.isoCommand == 0x23)
            out << QStringLiteral("read %1+%2").arg(r.firstBlock).arg(r.blockCount);
        else if (r.isoCommand == 0x24)
            out << QStringLiteral("write %1+%2").arg(r.firstBlock).arg(r.blockCount);
        else
            out << QStringLiteral("cmd %1").arg(r.command, 2, 16, QLatin1Char('0'));
    }
    return out;
}

inline int beeperCommands(const ReaderField& field)
{
    int n = 0;
    for (const SimCommandRecord& r : field.commandLog())
        n += isBeeper(r) ? 1 : 0;
    return n;
}

inline QStringList pTagReadCommands()
{
    QStringList out{QStringLiteral("inv")};
    for (int bank : {0, 32, 64, 96})
        out << QStringLiteral("read %1+12").arg(bank) << QStringLiteral("read %1+12").arg(bank + 12)
            << QStringLiteral("read %1+8").arg(bank + 24);
    return out;
}

inline QStringList pwmTagReadCommands()
{
    QStringList out = pTagReadCommands().mid(0, 7);
    out << QStringLiteral("read 248+1");
    return out;
}

// The image a Read of a P tag holding `memory` leaves: both copies, and the bank buffer
// (a layout-2 image gets its last-current word).
inline TagImage expectedImageAfterPRead(const QByteArray& memory)
{
    TagImage image;
    std::copy_n(memory.constBegin(), 512, image.image_v2.begin());
    std::copy_n(memory.constBegin(), 512, image.image_legacy.begin());
    tagfields::updateBankBuff(image);
    return image;
}

inline QByteArray bytes(const TagImage::Bytes& b, int from, int n)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()) + from, n);
}

// Makes the P tag on the reader look like one with IC reference `kOtherChip` (neither 'P'
// nor '8'): its UID is changed in inventory replies and changed back in read and write
// requests. Needs a bench with its proxies.
inline void disguiseChip(Bench& b, uint8_t otherChip)
{
    b.hidProxy.replyReport = [otherChip](const QByteArray& report) {
        const replies::R321Reply r = replies::decodeR321(report);
        if (!r.usable || r.kind != replies::Kind::Inventory || !r.ok())
            return report;
        QByteArray payload = r.payload;
        for (int i = 5; i < payload.size(); i += 9)
            if (uint8_t(payload.at(i)) == VirtualTag::ProductP)
                payload[i] = char(otherChip);
        return SimR321::buildReply(r.command, r.status, payload, uint8_t(report.at(r.length + 1)));
    };
    b.hidProxy.requestFrame = [otherChip](const QByteArray& frame) {
        if (frame.size() < 12)
            return frame;
        const uint8_t command = uint8_t(frame.at(8));
        if (command != r321::CmdReadBlocks && command != r321::CmdWriteBlocks)
            return frame;
        QByteArray data = frame.mid(10, uint8_t(frame.at(3)) - 8);
        if (uint8_t(data.at(5)) == otherChip)
            data[5] = char(VirtualTag::ProductP);
        return r321::buildFrame(command, data);
    };
    b.feigProxy.reply = [otherChip](const QByteArray&, const QByteArray& rx) {
        const replies::FeigReply r = replies::decodeFeig(rx);
        if (r.kind != replies::Kind::Inventory || !r.ok() || rx.size() < 14)
            return rx;
        QByteArray out = rx.left(rx.size() - 2);
        out[11] = char(otherChip);
        crc16::appendLsbFirst(out, crc16::mcrf4xx(out));
        return out;
    };
    b.feigProxy.request = [](const QByteArray& req) {
        if (req.size() < 17 || uint8_t(req.at(4)) != 0xB0 ||
            (uint8_t(req.at(5)) != 0x23 && uint8_t(req.at(5)) != 0x24))
            return req;
        QByteArray out = req.left(req.size() - 2);
        out[9] = char(VirtualTag::ProductP);
        crc16::appendLsbFirst(out, crc16::mcrf4xx(out));
        return out;
    };
}

// Collects the engine's trace texts (vantory.engine) while it lives.
class EngineLogCapture
{
  public:
    EngineLogCapture()
    {
        s_self = this;
        s_oldFilter = QLoggingCategory::installFilter(&filter);
        s_oldHandler = qInstallMessageHandler(&handler);
    }
    ~EngineLogCapture()
    {
        qInstallMessageHandler(s_oldHandler);
        QLoggingCategory::installFilter(s_oldFilter);
        s_self = nullptr;
    }
    int count(const QString& text) const
    {
        QMutexLocker lock(&m_mutex);
        int n = 0;
        for (const QString& line : m_lines)
            n += line.contains(text) ? 1 : 0;
        return n;
    }

  private:
    static void filter(QLoggingCategory* category)
    {
        if (qstrcmp(category->categoryName(), "vantory.engine") == 0) {
            category->setEnabled(QtDebugMsg, true);
            category->setEnabled(QtWarningMsg, true);
        } else if (s_oldFilter) {
            s_oldFilter(category);
        }
    }
    static void handler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg)
    {
        if (s_self && ctx.category && qstrcmp(ctx.category, "vantory.engine") == 0) {
            QMutexLocker lock(&s_self->m_mutex);
            s_self->m_lines << msg;
            return;
        }
        if (s_oldHandler)
            s_oldHandler(type, ctx, msg);
    }

    mutable QMutex m_mutex;
    QStringList m_lines;
    static inline EngineLogCapture* s_self = nullptr;
    static inline QLoggingCategory::CategoryFilter s_oldFilter = nullptr;
    static inline QtMessageHandler s_oldHandler = nullptr;
};

} // namespace enginetest
