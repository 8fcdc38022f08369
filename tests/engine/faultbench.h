#pragma once
// Reader faults end to end: the engine with both simulated readers, and a fault put on the
// transport in the middle of a Read or a Write (reader unplugged, tag taken away,
// corrupted reply, no reply, a hung reader, duplicated or late reply, a reply of the
// other protocol, a failing status). For each: no crash, the event loop keeps running,
// the engine tells the user once (its tips, warnings, notices and link tips counted), a
// failed read leaves the document's image as it was, and the next action works once the
// fault is gone.

#include "enginebench.h"
#include "writebench.h"

#include "readers/feiglink.h"
#include "readers/feigworker.h"
#include "readers/r321frames.h"
#include "readers/sim/demodrivers.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <algorithm>
#include <atomic>
#include <iterator>

namespace faulttest
{

using namespace enginetest;

enum class Fault {
    Unplugged,
    TagRemoved,
    BadCrc,
    FlippedPayload,
    NoReply,
    Hung,
    Duplicated,
    LateAfterNewAction,
    LateReply, // the reply comes lateMs after its request, after the reply time-out
    WrongProtocol,
    FailingStatus,
};

// The tag command (1 = the first of the action) whose exchange the fault hits.
constexpr int kReadTarget = 4; // inventory, then the third block read
// The fourth write command, one block: a long one would first be sent again in pieces.
constexpr int kWriteTarget = 4;

// Short, so that the tests need not wait long for a reply that never comes.
constexpr int kReplyTimeoutMs = 300;
// A request a hung FEIG reader holds is given up only after the library's own 5 s.
constexpr int kFailureWithinMs = 8000;
// The engine looks at the reader link once a second.
constexpr int kLinkLossShownWithinMs = 2500;

// True for the request frames of tag commands (not the beeper, not the R321 set-up).
inline bool isTagRequest(SimReaderKind reader, const QByteArray& frame)
{
    if (reader == SimReaderKind::R321) {
        if (frame.size() < 9)
            return false;
        const uint8_t command = uint8_t(frame.at(8));
        return command == 0x11 || command == 0x22 || command == 0x23 || command == 0x2F;
    }
    if (frame.size() < 5)
        return false;
    const uint8_t command = uint8_t(frame.at(4));
    return command == 0xB0 || command == 0xBF;
}

// What the transport does at the targeted exchange. Counters and hooks run on the
// reader threads; the test only arms and reads them.
struct FaultPlan {
    Fault fault = Fault::NoReply;
    SimReaderKind reader = SimReaderKind::R321;
    ReaderField* field = nullptr;
    std::atomic<int> target{0};   // 0: not armed
    std::atomic<int> requests{0}; // tag requests since arming
    std::atomic<bool> hit{false}; // the fault has been applied
    QMutex mutex;
    QByteArray held; // a withheld reply, delivered late
    int lateMs = 0;  // LateReply: how long after its request the reply comes
    QElapsedTimer heldSince;

    void arm(int command)
    {
        requests = 0;
        hit = false;
        target = command;
    }

    // Called with each request before the reader sees it.
    void request(const QByteArray& frame)
    {
        if (!target || !isTagRequest(reader, frame))
            return;
        const int n = ++requests;
        if (n != target)
            return;
        switch (fault) {
        case Fault::Unplugged:
            field->setUnplugged(reader, true);
            hit = true;
            break;
        case Fault::TagRemoved:
            field->clear();
            hit = true;
            break;
        case Fault::BadCrc:
            field->armReplyFault(SimReplyFault::BadCrc);
            break;
        case Fault::FlippedPayload:
            field->armReplyFault(SimReplyFault::FlippedPayload);
            break;
        case Fault::NoReply:
            field->armReplyFault(SimReplyFault::NoReply);
            hit = true;
            break;
        case Fault::Hung:
            field->setHung(reader, true);
            hit = true;
            break;
        case Fault::FailingStatus:
            field->armReplyFault(SimReplyFault::FailingStatus);
            break;
        default:
            break;
        }
    }

    // LateReply: the withheld reply once its time has come (empty before and after).
    QByteArray takeDue()
    {
        QMutexLocker lock(&mutex);
        if (fault != Fault::LateReply || held.isEmpty() || heldSince.elapsed() < lateMs)
            return {};
        const QByteArray late = held;
        held.clear();
        return late;
    }

    // Called with each reply; returns the replies to deliver in its place, in order.
    QList<QByteArray> reply(const QByteArray& rx)
    {
        const int n = requests.load();
        if (!target || n == 0)
            return {rx};
        if (fault == Fault::LateAfterNewAction && n > target) {
            // The first reply after the new action's first request: the withheld one
            // comes first, as a reader answering in order would deliver it.
            QMutexLocker lock(&mutex);
            if (!held.isEmpty()) {
                const QByteArray late = held;
                held.clear();
                target = 0;
                return {late, rx};
            }
            return {rx};
        }
        if (n != target || hit)
            return {rx};
        switch (fault) {
        case Fault::Duplicated:
            hit = true;
            return {rx, rx};
        case Fault::LateAfterNewAction:
        case Fault::LateReply: {
            hit = true;
            QMutexLocker lock(&mutex);
            held = rx;
            heldSince.start();
            return {};
        }
        case Fault::WrongProtocol:
            hit = true;
            return {reader == SimReaderKind::R321
                        ? r321::fitted(SimFeig::buildReply(0xB0, 0x00, rx.mid(11, 20)), 64)
                        : SimR321::buildReply(0x22, 0x00, rx.mid(8, 20))};
        default:
            // The reader itself spoils this reply (armed at the request).
            hit = true;
            return {rx};
        }
    }
};

// The HID transport of the R321 with the fault plan in between.
class FaultHid : public HidBackend
{
  public:
    FaultHid(HidBackend* inner, FaultPlan* plan) : m_inner(inner), m_plan(plan) {}

    QVector<HidInterfaceInfo> enumerate() override { return m_inner->enumerate(); }
    bool open(const QString& path) override
    {
        QMutexLocker lock(&m_mutex);
        m_queue.clear();
        return m_inner->open(path);
    }
    bool isOpen() const override { return m_inner->isOpen(); }
    void close() override { m_inner->close(); }
    int write(const QByteArray& report) override
    {
        if (report.size() >= 2)
            m_plan->request(report.mid(1, uint8_t(report.at(1)) + 1));
        return m_inner->write(report);
    }
    int read(QByteArray* report, int timeoutMs) override
    {
        if (const QByteArray late = m_plan->takeDue(); !late.isEmpty()) {
            *report = late;
            return report->size();
        }
        {
            QMutexLocker lock(&m_mutex);
            if (!m_queue.isEmpty()) {
                *report = m_queue.takeFirst();
                return report->size();
            }
        }
        const int n = m_inner->read(report, timeoutMs);
        if (n <= 0)
            return n;
        QList<QByteArray> out = m_plan->reply(*report);
        if (out.isEmpty())
            return 0; // withheld: as far as the link knows, nothing came
        *report = out.takeFirst();
        QMutexLocker lock(&m_mutex);
        m_queue += out;
        return report->size();
    }

  private:
    HidBackend* const m_inner;
    FaultPlan* const m_plan;
    QMutex m_mutex;
    QList<QByteArray> m_queue;
};

// The FEUSB transport of the FEIG reader with the fault plan in between. A transceive
// gives one reply; replies ahead of it reach the engine through `deliverEarly`, posted
// before the worker emits its own.
class FaultFeig : public FeusbApi
{
  public:
    FaultFeig(FeusbApi* inner, FaultPlan* plan) : m_inner(inner), m_plan(plan) {}
    std::function<void(const QByteArray&)> deliverEarly;

    bool available() override { return m_inner->available(); }
    int ScanAndOpen(int o, void* p) override { return m_inner->ScanAndOpen(o, p); }
    int SetDevicePara(int h, char* p, char* v) override { return m_inner->SetDevicePara(h, p, v); }
    int CloseDevice(int h) override { return m_inner->CloseDevice(h); }
    int Transceive(int h, char* iface, int dir, unsigned char* send, int sendLen,
                   unsigned char* rec, int recLen) override
    {
        m_plan->request(QByteArray(reinterpret_cast<const char*>(send), sendLen));
        QByteArray buffer(400, '\0');
        const int n =
            m_inner->Transceive(h, iface, dir, send, sendLen,
                                reinterpret_cast<unsigned char*>(buffer.data()), buffer.size());
        if (n <= 0)
            return n;
        QList<QByteArray> out = m_plan->reply(buffer.left(n));
        if (out.isEmpty() && m_plan->fault == Fault::LateReply) {
            // The library holds the request until the reply comes.
            QThread::msleep(static_cast<unsigned long>(m_plan->lateMs));
            out << m_plan->takeDue();
        }
        if (out.isEmpty())
            return 0;
        const QByteArray last = out.takeLast();
        for (const QByteArray& early : qAsConst(out))
            deliverEarly(early);
        const int m = std::min<int>(last.size(), recLen);
        std::memcpy(rec, last.constData(), static_cast<size_t>(m));
        return m;
    }

  private:
    FeusbApi* const m_inner;
    FaultPlan* const m_plan;
};

// English names of the result tips, for the record of each case.
inline QString tipName(ResultTip tip)
{
    static const char* const names[] = {
        "",
        "No device detected",
        "The model number is different",
        "Read successfully",
        "Read failure",
        "Write successfully",
        "Write failure",
        "Succeeded in obtaining UID",
        "It's not ISO15693",
        "No tag response",
        "Autowrite on",
        "Verify failed",
    };
    const auto code = static_cast<size_t>(tip);
    return code < std::size(names) ? QString::fromLatin1(names[code])
                                   : QStringLiteral("tip %1").arg(code);
}

// The tips that tell the user an action failed.
inline bool isFailureTip(ResultTip tip)
{
    return tip == ResultTip::ReadFailed || tip == ResultTip::WriteFailed ||
           tip == ResultTip::NoLabel || tip == ResultTip::NoIso15693 || tip == ResultTip::NoDevice;
}

// Watches the engine while it runs: every report it gives (result tips, warnings, notices,
// link tips), polled every millisecond for the failure beep patterns that start and the
// longest pause of the event loop.
class Watch : public QObject
{
  public:
    explicit Watch(TagEngine& e) : m_e(e)
    {
        QObject::connect(&e, &TagEngine::resultTip, this, [this](ResultTip tip, bool) {
            m_tips << tip;
            m_events << tipName(tip);
        });
        QObject::connect(&e, &TagEngine::warning, this,
                         [this](const QString& caption, const QString& text) {
                             m_boxes << caption + QLatin1Char('|') + text;
                             m_events << QStringLiteral("box: ") + m_boxes.last();
                         });
        QObject::connect(&e, &TagEngine::notice, this, [this](const QString& text, int) {
            m_notices << text;
            m_events << QStringLiteral("notice: ") + text;
        });
        QObject::connect(&e, &TagEngine::linkTip, this, [this](TagEngine::LinkTip tip, bool) {
            ++m_linkTips;
            m_events << QStringLiteral("link %1").arg(int(tip));
        });
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_clock.start();
        m_timer.start();
    }

    QVector<ResultTip> tips() const { return m_tips; }
    int count(ResultTip tip) const { return int(m_tips.count(tip)); }
    bool contains(ResultTip tip) const { return m_tips.contains(tip); }
    int failureTips() const
    {
        return int(std::count_if(m_tips.begin(), m_tips.end(), isFailureTip));
    }
    QStringList notices() const { return m_notices; }
    QStringList boxes() const { return m_boxes; }
    int linkTips() const { return m_linkTips; }
    // Every report in the order it came, as text.
    QStringList events() const { return m_events; }
    int failureBeeps() const { return m_failureBeeps; }
    qint64 firstFailureBeepMs() const { return m_firstFailureBeep; }
    qint64 longestPauseMs() const { return m_longestPause; }
    int polls() const { return m_polls; }

  private:
    void poll()
    {
        const qint64 now = m_clock.elapsed();
        m_longestPause = std::max(m_longestPause, now - m_lastPoll);
        m_lastPoll = now;
        ++m_polls;
        const uint8_t pattern = m_e.beeper().beep_pattern;
        const uint8_t twice = m_e.beeper().beep_twice_step;
        // A double beep starts, or restarts from its first beep.
        if (pattern == 2 && (m_lastPattern != 2 || (m_lastTwice == 2 && twice == 1))) {
            if (++m_failureBeeps == 1)
                m_firstFailureBeep = now;
        }
        m_lastPattern = pattern;
        m_lastTwice = twice;
    }

    TagEngine& m_e;
    QTimer m_timer;
    QElapsedTimer m_clock;
    QVector<ResultTip> m_tips;
    QStringList m_boxes;
    QStringList m_notices;
    int m_linkTips = 0;
    QStringList m_events;
    int m_failureBeeps = 0;
    qint64 m_firstFailureBeep = -1;
    uint8_t m_lastPattern = 0;
    uint8_t m_lastTwice = 0;
    qint64 m_lastPoll = 0;
    qint64 m_longestPause = 0;
    int m_polls = 0;
};

// The engine behind both simulated readers with the fault transports in between.
struct FaultBench {
    ReaderField field;
    SimR321 r321{&field};
    SimFeig feig{&field};
    FaultPlan plan;
    FaultHid hid{&r321, &plan};
    FaultFeig feigApi{&feig, &plan};
    QStringList boxes; // every warning since the start (caption|text)
    std::unique_ptr<TagEngine> e;

    FaultBench(Fault fault, int reader)
    {
        plan.fault = fault;
        plan.reader = reader == R321 ? SimReaderKind::R321 : SimReaderKind::Feig;
        plan.field = &field;
        e = std::make_unique<TagEngine>(&hid, &feigApi);
        TagEngine* engine = e.get();
        // Delivered as the library's worker delivers a reply: through its signal, so that
        // the link stamps it as it arrives.
        feigApi.deliverEarly = [engine](const QByteArray& rx) {
            if (auto* link = qobject_cast<FeigLink*>(engine->link()))
                emit link->worker()->FeigDevReceive(rx);
        };
        QObject::connect(engine, &TagEngine::warning,
                         [this](const QString& caption, const QString& text) {
                             boxes << caption + QLatin1Char('|') + text;
                         });
        QObject::connect(engine, &TagEngine::resultTip,
                         [this](ResultTip tip, bool) { m_lastTip = tip; });
    }
    ~FaultBench() { e.reset(); }

    TagEngine& engine() { return *e; }
    TagImage image() { return TestAccess::image(*e); }
    ResultTip lastTip() const { return m_lastTip; }

    // Chooses the reader and opens it, as the connection dialog's OK does.
    bool connect(int reader)
    {
        e->connectReader(ReaderType(reader));
        if (e->readerType() != ReaderType(reader) || !e->readerConnected())
            return false;
        if (reader == R321) {
            // The set-up command goes out at once; let its reply pass.
            if (!QTest::qWaitFor([this] { return field.commandLog().size() >= 1; }, 3000))
                return false;
            QTest::qWait(30);
        }
        return true;
    }

    // The host's actions; each forgets the last tip, as the window empties its result part.
    void read()
    {
        m_lastTip = ResultTip::None;
        e->startRead();
    }
    void write()
    {
        m_lastTip = ResultTip::None;
        e->startWrite();
    }
    void toggleAutoWrite()
    {
        m_lastTip = ResultTip::None;
        e->toggleAutoWrite();
    }

    // Runs an action to its end without faults; false when it did not succeed.
    bool runClean(void (FaultBench::*action)(), ResultTip ok)
    {
        (this->*action)();
        if (!QTest::qWaitFor([&] { return m_lastTip == ok; }, 5000))
            return false;
        // Let the success beep run out.
        return QTest::qWaitFor([&] { return e->idle(); }, 5000);
    }
    bool readClean() { return runClean(&FaultBench::read, ResultTip::ReadSucceed); }
    bool writeClean() { return runClean(&FaultBench::write, ResultTip::WriteSucceed); }

    // Takes the fault away again; an unplugged reader is plugged in and connected anew.
    bool recover(int reader, const std::shared_ptr<VirtualTag>& tag)
    {
        plan.target = 0;
        if (plan.fault == Fault::Hung) {
            // What a technician does with a reader that hangs: pull it and plug it back.
            // The request it held ends with the old connection.
            field.setUnplugged(plan.reader, true);
            QTest::qWait(100);
        }
        field.clearFaults();
        if (field.tagCount() == 0)
            field.layTag(tag);
        // A reader that went away, or whose link gave up on a report that never
        // completed, is connected anew.
        if (plan.fault == Fault::Unplugged || plan.fault == Fault::Hung || !e->readerConnected())
            return connect(reader);
        return true;
    }

  private:
    ResultTip m_lastTip = ResultTip::None;
};

inline void addMatrix()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<int>("fault");
    const std::pair<const char*, Fault> faults[] = {
        {"unplugged", Fault::Unplugged},
        {"tag removed", Fault::TagRemoved},
        {"bad CRC", Fault::BadCrc},
        {"flipped payload", Fault::FlippedPayload},
        {"no reply", Fault::NoReply},
        {"hung reader", Fault::Hung},
        {"duplicated reply", Fault::Duplicated},
        {"late reply after new action", Fault::LateAfterNewAction},
        {"wrong protocol", Fault::WrongProtocol},
        {"failing status", Fault::FailingStatus},
    };
    for (int reader : {R321, Feig})
        for (const auto& [name, fault] : faults)
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(readerName(reader), name)))
                << reader << int(fault);
}

inline QByteArray imageBytes(const TagImage& image)
{
    return bytes(image.image_v2, 0, 512) + bytes(image.image_legacy, 0, 512) +
           bytes(image.bank_buffer, 0, 512);
}

// Waits for the failure report and then a while longer: one failure beep and `tips`
// failure tips, nothing after them, no warning box, no notice and the link as it was.
#define VERIFY_TOLD_ONCE(watch, tips)                                                              \
    do {                                                                                           \
        QTRY_VERIFY_WITH_TIMEOUT((watch).failureBeeps() >= 1, kFailureWithinMs);                   \
        QTest::qWait(kReplyTimeoutMs * 2);                                                         \
        QVERIFY2((watch).failureTips() == (tips),                                                  \
                 qPrintable((watch).events().join(QLatin1String(" / "))));                         \
        QCOMPARE((watch).failureBeeps(), 1);                                                       \
        QCOMPARE(b.boxes, QStringList());                                                          \
        QCOMPARE((watch).notices(), QStringList());                                                \
        QCOMPARE((watch).linkTips(), 0);                                                           \
    } while (false)

// A reader unplugged mid-action: one failure tip at once, the failure beep waits for the
// reader to come back; the link is shown as lost once (the FEIG link by the engine's link
// check, once a second); no warning box, no notice.
#define VERIFY_TOLD_UNPLUGGED(watch)                                                               \
    do {                                                                                           \
        QTRY_VERIFY_WITH_TIMEOUT((watch).failureTips() >= 1, kFailureWithinMs);                    \
        QTest::qWait(kReplyTimeoutMs * 2);                                                         \
        QCOMPARE((watch).failureTips(), 1);                                                        \
        QCOMPARE((watch).failureBeeps(), 0);                                                       \
        QTRY_COMPARE_WITH_TIMEOUT((watch).linkTips(), 1, kLinkLossShownWithinMs);                  \
        QCOMPARE(b.boxes, QStringList());                                                          \
        QCOMPARE((watch).notices(), QStringList());                                                \
    } while (false)

// One line per case for the record: what the engine reported, when the failure beep
// started, and the longest stall of the event loop.
inline void reportCase(const Watch& watch)
{
    qInfo().noquote() << QStringLiteral("case | %1 | %2 | beep at %3 ms | longest pause %4 ms")
                             .arg(QString::fromLatin1(QTest::currentDataTag()),
                                  watch.events().join(QLatin1String(" -> ")))
                             .arg(watch.firstFailureBeepMs())
                             .arg(watch.longestPauseMs());
}

// The event loop kept running the whole time.
#define VERIFY_RESPONSIVE(watch)                                                                   \
    do {                                                                                           \
        reportCase(watch);                                                                         \
        QVERIFY((watch).polls() > 50);                                                             \
        QVERIFY2((watch).longestPauseMs() < 500,                                                   \
                 qPrintable(QString::number((watch).longestPauseMs())));                           \
    } while (false)

// Tips a failure shows: one, except for a FEIG reply of another protocol, which is
// reported by the failure beep alone.
inline int failureTipsFor(Fault fault, int reader)
{
    return fault == Fault::WrongProtocol && reader == Feig ? 0 : 1;
}

// The block writes of the command log as "write <first>+<count>", password writes as
// "writepwd": what a long write sent.
inline QStringList writeCommands(const ReaderField& field)
{
    QStringList out;
    for (const SimCommandRecord& r : field.commandLog()) {
        if (isBeeper(r))
            continue;
        if (r.isoCommand == 0x24)
            out << QStringLiteral("write %1+%2").arg(r.firstBlock).arg(r.blockCount);
        else if (r.isoCommand == 0xB1)
            out << QStringLiteral("writepwd");
    }
    return out;
}

} // namespace faulttest
