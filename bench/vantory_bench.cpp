// Times the real window against the simulated readers with their air-time model on:
// reads and writes of both tag kinds through both readers, auto write from laying a
// driver to its beep, the engine's own time between a reply and the next command, the
// CPU of the idle window, and start-up time and peak memory of the real program.
//
//   vantory_bench [--reps N] [--idle-seconds S] [--starts N] [--program PATH] [--quick]
//                 [--check]
//
// --quick runs every case twice with short idle and start-up runs and only checks that
// every case completes; --check makes a missed target fail the run (exit code 2).
#include "app/readerbackends.h"
#include "app/stationview.h"
#include "engine/tagengine.h"
#include "app/vantory.h"
#include "cli/clirunner.h"
#include "readers/feusbapi.h"
#include "readers/hidbackend.h"
#include "readers/readerlink.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"
#include "model/tagfields.h"
#include "testaccess.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringList>
#include <QTextStream>
#include <QTimer>
#include <QVector>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace
{

QTextStream out(stdout);

// Result tip codes of the status bar.
constexpr uint8_t kTipReadOk = 3;
constexpr uint8_t kTipWriteOk = 5;

constexpr int kReaderFeig = 1;
constexpr int kReaderR321 = 2;

// Targets, as ratios to the air-time bound or in the unit named.
constexpr double kReadRatioTarget = 1.15;
constexpr double kWriteRatioTarget = 1.05;
constexpr double kEngineGapTargetMs = 2.5;
constexpr double kIdleCpuTargetPercent = 1.0;
constexpr double kStartTargetMs = 400.0;
constexpr double kPeakMemoryTargetMb = 60.0;
constexpr double kAutoWriteTargetMs = 1500.0; // laying a driver to its beep, verified
constexpr double kFastAutoWriteTargetMs = 600.0;
constexpr double kBatchRateTarget = 1.6; // drivers per minute, fast over described
constexpr int kHandlingMs = 500;         // an operator lifts a driver and lays the next
// Drivers per minute of a station of 2 and 4 readers, at least these times one reader's.
constexpr double kStation2Target = 1.8;
constexpr double kStation4Target = 3.4;
// The operator's time from a driver's beep to the next one laid, as vantory-cli's
// simulated line takes it.
constexpr int kStationRelayMs = 400;

const char* readerName(int reader)
{
    return reader == kReaderFeig ? "FEIG" : "R321";
}

class Stats
{
  public:
    void add(double v) { m_values.push_back(v); }
    void add(const Stats& other)
    {
        m_values.insert(m_values.end(), other.m_values.begin(), other.m_values.end());
    }
    bool empty() const { return m_values.empty(); }
    int size() const { return static_cast<int>(m_values.size()); }
    double median() const
    {
        if (m_values.empty())
            return 0;
        std::vector<double> v = m_values;
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    double min() const
    {
        return m_values.empty() ? 0 : *std::min_element(m_values.begin(), m_values.end());
    }
    double max() const
    {
        return m_values.empty() ? 0 : *std::max_element(m_values.begin(), m_values.end());
    }
    double mean() const
    {
        double sum = 0;
        for (double v : m_values)
            sum += v;
        return m_values.empty() ? 0 : sum / static_cast<double>(m_values.size());
    }

  private:
    std::vector<double> m_values;
};

QString num(double v, int decimals = 1)
{
    return QString::number(v, 'f', decimals);
}

QString triple(const Stats& s, int decimals = 1)
{
    return QStringLiteral("%1 (%2 .. %3)")
        .arg(num(s.median(), decimals), num(s.min(), decimals), num(s.max(), decimals));
}

double usToMs(qint64 us)
{
    return static_cast<double>(us) / 1000.0;
}

bool isBeeperRecord(const SimCommandRecord& r)
{
    return (r.reader == SimReaderKind::R321 && r.command == 0xE9) ||
           (r.reader == SimReaderKind::Feig && r.command == 0x72);
}

// Runs the event loop until `done` holds or the time is up. The check runs on a coarse
// 5 ms poll; the figures never come from it, only from the timestamps of the taps and
// the simulator's command log, so the poll does not blur them.
bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return done();
}

void idleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One reply as the reader backend returned it to the link, and when the window had
// handled it.
struct ReplyEvent {
    qint64 emittedUs = 0;  // the backend returned the reply to the link's thread
    qint64 handledUs = -1; // the window's reply slot had returned
    bool beeper = false;
};

// Records every reply of a link: the backend proxies below note the moment the reader
// returns it to the link's thread, and a queued connection made after the window's own
// notes the moment the window's reply slot has returned.
class ReplyTap
{
  public:
    explicit ReplyTap(const ReaderField* field) : m_field(field) {}

    void emitted(bool beeper)
    {
        const qint64 now = m_field->elapsedUs();
        QMutexLocker lock(&m_mutex);
        ReplyEvent e;
        e.emittedUs = now;
        e.beeper = beeper;
        m_events.append(e);
    }
    void handled()
    {
        const qint64 now = m_field->elapsedUs();
        QMutexLocker lock(&m_mutex);
        for (ReplyEvent& e : m_events) {
            if (e.handledUs < 0) {
                e.handledUs = now;
                return;
            }
        }
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_events.clear();
    }
    QVector<ReplyEvent> events() const
    {
        QMutexLocker lock(&m_mutex);
        return m_events;
    }
    int handledCount(bool beeper) const
    {
        QMutexLocker lock(&m_mutex);
        return static_cast<int>(std::count_if(m_events.begin(), m_events.end(), [&](const auto& e) {
            return e.beeper == beeper && e.handledUs >= 0;
        }));
    }

  private:
    const ReaderField* m_field;
    mutable QMutex m_mutex;
    QVector<ReplyEvent> m_events;
};

// The simulated R321 as the HID link sees it, noting when a read hands over a reply.
class TimedHid : public HidBackend
{
  public:
    TimedHid(HidBackend* inner, ReplyTap* tap) : m_inner(inner), m_tap(tap) {}
    QVector<HidInterfaceInfo> enumerate() override { return m_inner->enumerate(); }
    bool open(const QString& path) override { return m_inner->open(path); }
    bool isOpen() const override { return m_inner->isOpen(); }
    void close() override { m_inner->close(); }
    int write(const QByteArray& report) override { return m_inner->write(report); }
    int read(QByteArray* report, int timeoutMs) override
    {
        const int n = m_inner->read(report, timeoutMs);
        // Byte 9 of an R321 reply echoes the command; 0xE9 is the beeper's.
        if (n > 0 && report)
            m_tap->emitted(report->size() > 9 && static_cast<uint8_t>(report->at(9)) == 0xE9);
        return n;
    }

  private:
    HidBackend* m_inner;
    ReplyTap* m_tap;
};

// The simulated FEIG reader as the FEIG link sees it, noting when a transceive returns.
class TimedFeig : public FeusbApi
{
  public:
    TimedFeig(FeusbApi* inner, ReplyTap* tap) : m_inner(inner), m_tap(tap) {}
    bool available() override { return m_inner->available(); }
    int ScanAndOpen(int opt, void* search) override { return m_inner->ScanAndOpen(opt, search); }
    int SetDevicePara(int h, char* para, char* value) override
    {
        return m_inner->SetDevicePara(h, para, value);
    }
    int CloseDevice(int h) override { return m_inner->CloseDevice(h); }
    int Transceive(int h, char* iface, int dir, unsigned char* send, int sendLen,
                   unsigned char* rec, int recLen) override
    {
        const int n = m_inner->Transceive(h, iface, dir, send, sendLen, rec, recLen);
        // Byte 4 of a FEIG reply is the command; 0x72 is the set-output (beeper) command.
        if (n > 0)
            m_tap->emitted(n > 4 && rec[4] == 0x72);
        return n;
    }

  private:
    FeusbApi* m_inner;
    ReplyTap* m_tap;
};

// One run of a Read or Write.
struct OpSample {
    bool ok = false;
    QString why;
    double totalMs = 0; // trigger to the last reply handled by the window
    double airMs = 0;   // sum of the simulator's air times of the operation's commands
    double firstMs = 0; // trigger to the first command at the simulator
    Stats gapsMs;       // reply returned by the reader -> next command at the simulator
    Stats hopMs;        // reply returned by the reader -> window's reply slot returned
    Stats linkMs;       // request at the simulator + air time -> reply returned
    double lastHopMs = 0;
};

struct OpCase {
    QString name;
    int reader = 0;
    bool write = false;
    int commands = 0; // tag commands the operation needs
    double target = 0;
    Stats totalMs, airMs, ratio, firstMs, gapsMs, hopMs, linkMs;
    Stats sumGapsMs, sumLinkMs, lastHopMs; // per run
    int failures = 0;
    QString lastFailure;
};

struct AutoCase {
    int reader = 0;
    bool fast = false;
    Stats layToBeepMs, airMs, ratio, layToInventoryMs, inventoryToWriteMs, writeToBeepMs;
    int failures = 0;
    QString lastFailure;
};

// A batch of drivers: from laying the first to the end of the last one's handling time.
struct BatchCase {
    int reader = 0;
    bool fast = false;
    int drivers = 0;
    double seconds = 0;
    double perMinute = 0;
    int failures = 0;
    QString lastFailure;
};

// A fresh driver of the window's model. One for the fast batch has another channel-1
// current than the template, so that one block of it has to be written.
std::shared_ptr<VirtualTag> lineDriver(quint64 serial, bool otherCurrent)
{
    auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, serial);
    if (otherCurrent) {
        QByteArray memory = tag->memory();
        memory[tagoffset::Current1 + 1] = char(memory[tagoffset::Current1 + 1] ^ 0x10);
        tag->setMemory(memory);
    }
    return tag;
}

// Field, both simulated readers and the real window; the window goes first.
class Bench
{
  public:
    ReaderField field;
    SimR321 r321{&field};
    SimFeig feig{&field};
    ReplyTap tap{&field};
    TimedHid timedHid{&r321, &tap};
    TimedFeig timedFeig{&feig, &tap};
    QObject tapContext; // receiver of the taps, on the GUI thread
    QStringList boxes;  // modal warnings the window tried to show
    std::unique_ptr<Vantory> w;
    quint64 serial = 0x1000;

    Bench()
    {
        w = std::make_unique<Vantory>(ReaderBackends{&timedHid, &timedFeig, true});
        w->setModalHook([this](const QString& caption, const QString& text) {
            boxes << caption + QLatin1Char('|') + text;
        });
        w->show();
        field.setLatencyEnabled(true);
    }
    ~Bench() { w.reset(); }

    bool connectReader(int reader)
    {
        auto* dialog = w->findChild<QDialog*>(QStringLiteral("ConnectionConfig"));
        auto* combo =
            dialog ? dialog->findChild<QComboBox*>(QStringLiteral("comboBox_Reader")) : nullptr;
        auto* ok = dialog ? dialog->findChild<QPushButton*>(QStringLiteral("pushButton_Connect"))
                          : nullptr;
        if (!combo || !ok)
            return false;
        combo->setCurrentIndex(reader == kReaderFeig ? 0 : 1);
        ok->click();
        if (TestAccess::engine(*w).readerType() != ReaderType(reader))
            return false;
        if (reader == kReaderR321) {
            // The set-up command goes out at once; let its reply pass first.
            if (!waitFor([this] { return !field.commandLog().isEmpty(); }, 3000))
                return false;
            idleFor(50);
        }
        // Every reply, once the engine has handled it (it is connected to the link first).
        QObject::connect(TestAccess::engine(*w).link(), &ReaderLink::replied, &tapContext,
                         [this](const replies::Reply&) { tap.handled(); });
        return true;
    }

    void trigger(const char* action)
    {
        if (QAction* a = w->findChild<QAction*>(QString::fromLatin1(action)))
            a->trigger();
    }

    void layOnly(demodrivers::Kind kind)
    {
        field.clear();
        field.layTag(demodrivers::makeTag(kind, ++serial));
    }

    int beeperCommandsLogged() const
    {
        const QVector<SimCommandRecord> log = field.commandLog();
        return static_cast<int>(std::count_if(log.begin(), log.end(), isBeeperRecord));
    }

    // The beep of the last outcome has ended and its last reply has been handled.
    bool beepOver() const
    {
        const int sent = beeperCommandsLogged();
        return TestAccess::engine(*w).beeper().beep_pattern == 0 && sent > 0 &&
               tap.handledCount(true) >= sent;
    }

    // Runs one Read or Write. The action is triggered like a click: as an event posted from
    // another thread `phaseUs` after the call, so that it lands at any point between two
    // ticks rather than right after one, as a timer-driven trigger would.
    OpSample runOperation(const char* action, int commands, uint8_t successTip, int phaseUs = 0)
    {
        OpSample s;
        field.clearCommandLog();
        tap.clear();
        boxes.clear();
        qint64 t0 = -1;
        std::thread clicker([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(phaseUs));
            QMetaObject::invokeMethod(
                &tapContext,
                [&] {
                    t0 = field.elapsedUs();
                    trigger(action);
                },
                Qt::QueuedConnection);
        });
        const bool finished = waitFor(
            [&] { return t0 >= 0 && tap.handledCount(false) >= commands && beepOver(); }, 15000);
        clicker.join();
        if (t0 < 0) {
            s.why = QStringLiteral("the action was never triggered");
            return s;
        }

        const QVector<SimCommandRecord> log = field.commandLog();
        QVector<SimCommandRecord> recs;
        for (const SimCommandRecord& r : log)
            if (!isBeeperRecord(r))
                recs << r;
        QVector<ReplyEvent> replies;
        for (const ReplyEvent& e : tap.events())
            if (!e.beeper)
                replies << e;

        if (!finished) {
            s.why = QStringLiteral("did not finish: %1 commands, %2 replies, boxes: %3")
                        .arg(recs.size())
                        .arg(replies.size())
                        .arg(boxes.join(QStringLiteral("; ")));
            return s;
        }
        if (recs.size() != commands || replies.size() != commands) {
            s.why = QStringLiteral("%1 commands and %2 replies instead of %3")
                        .arg(recs.size())
                        .arg(replies.size())
                        .arg(commands);
            return s;
        }
        if (TestAccess::lastTip(*w) != successTip) {
            s.why = QStringLiteral("result tip %1 instead of %2")
                        .arg(TestAccess::lastTip(*w))
                        .arg(successTip);
            return s;
        }
        qint64 air = 0;
        for (const SimCommandRecord& r : recs)
            air += r.airTimeUs;
        s.airMs = usToMs(air);
        s.totalMs = usToMs(replies.last().handledUs - t0);
        s.firstMs = usToMs(recs.first().timestampUs - t0);
        for (int i = 0; i < commands; ++i) {
            s.hopMs.add(usToMs(replies.at(i).handledUs - replies.at(i).emittedUs));
            s.linkMs.add(
                usToMs(replies.at(i).emittedUs - recs.at(i).timestampUs - recs.at(i).airTimeUs));
            if (i + 1 < commands)
                s.gapsMs.add(usToMs(recs.at(i + 1).timestampUs - replies.at(i).emittedUs));
        }
        s.lastHopMs = usToMs(replies.last().handledUs - replies.last().emittedUs);
        s.ok = true;
        return s;
    }
};

void runOpCase(Bench& b, OpCase& c, int reps)
{
    for (int i = 0; i < reps; ++i) {
        // Phases spread over one tick period, the same for every case.
        const int phaseUs = static_cast<int>((i * 1000LL) / reps + 37) % 1000;
        const OpSample s = c.write ? b.runOperation("actionWrite", c.commands, kTipWriteOk, phaseUs)
                                   : b.runOperation("actionRead", c.commands, kTipReadOk, phaseUs);
        if (!s.ok) {
            ++c.failures;
            c.lastFailure = s.why;
            continue;
        }
        c.totalMs.add(s.totalMs);
        c.airMs.add(s.airMs);
        c.ratio.add(s.totalMs / s.airMs);
        c.firstMs.add(s.firstMs);
        c.gapsMs.add(s.gapsMs);
        c.hopMs.add(s.hopMs);
        c.linkMs.add(s.linkMs);
        c.sumGapsMs.add(s.gapsMs.mean() * s.gapsMs.size());
        c.sumLinkMs.add(s.linkMs.mean() * s.linkMs.size());
        c.lastHopMs.add(s.lastHopMs);
        // Let the link settle between runs, as an operator's next click would.
        idleFor(20);
    }
}

// Auto write on a reader: a fresh driver of the window's model is laid at a spread of
// phases of the 300 ms clock, and the time to the first beeper command is taken.
void runAutoCase(Bench& b, AutoCase& c, int reps)
{
    b.field.clear();
    TestAccess::engine(*b.w).setAutoWritePace(c.fast ? AutoWrite::Pace::Fast
                                                     : AutoWrite::Pace::Described);
    b.trigger("actionAuto_Write");
    if (!TestAccess::engine(*b.w).autoWrite().auto_mode) {
        c.failures = reps;
        c.lastFailure = QStringLiteral("auto write did not switch on");
        return;
    }
    for (int i = 0; i < reps; ++i) {
        b.field.clear();
        // A pass without a tag clears the loop's memory of the last one.
        if (!waitFor(
                [&] {
                    const auto& last = TestAccess::engine(*b.w).autoWrite().last_uid;
                    return std::all_of(last.begin(), last.end(),
                                       [](uint8_t x) { return x == 0; }) &&
                           TestAccess::engine(*b.w).uidMsbFirst().count('\0') == 8;
                },
                3000)) {
            ++c.failures;
            c.lastFailure = QStringLiteral("the loop did not see the reader empty");
            continue;
        }
        idleFor(20 + (i * 280) / std::max(1, reps));
        b.field.clearCommandLog();
        b.tap.clear();
        const qint64 t0 = b.field.elapsedUs();
        b.field.layTag(lineDriver(++b.serial, c.fast));
        const bool beeped = waitFor([&] { return b.beeperCommandsLogged() > 0; }, 5000);
        if (!beeped) {
            ++c.failures;
            c.lastFailure = QStringLiteral("no beep within 5 s");
            continue;
        }
        waitFor([&] { return b.beepOver(); }, 3000);
        const QVector<SimCommandRecord> log = b.field.commandLog();
        qint64 beepUs = -1, inventoryUs = -1, writeStartUs = -1, air = 0;
        int writes = 0;
        bool inventoryCounted = false;
        for (const SimCommandRecord& r : log) {
            if (r.timestampUs < t0)
                continue;
            if (isBeeperRecord(r)) {
                if (beepUs < 0)
                    beepUs = r.timestampUs;
                continue;
            }
            if (beepUs >= 0)
                continue;
            if (r.isoCommand == 0x01) {
                // Only the inventory that found the driver is needed.
                if (!inventoryCounted && r.airTimeUs > ReaderField::inventoryAirTimeUs(0)) {
                    inventoryCounted = true;
                    inventoryUs = r.timestampUs;
                    air += r.airTimeUs;
                }
            } else {
                air += r.airTimeUs;
                if (r.isoCommand == 0x24) {
                    ++writes;
                    if (writeStartUs < 0)
                        writeStartUs = r.timestampUs;
                }
            }
        }
        // The described pace writes the drive area whole, the fast one the block that differs.
        if (TestAccess::lastTip(*b.w) != kTipWriteOk || writes != (c.fast ? 1 : 8) ||
            inventoryUs < 0) {
            ++c.failures;
            c.lastFailure =
                QStringLiteral("tip %1, %2 writes").arg(TestAccess::lastTip(*b.w)).arg(writes);
            continue;
        }
        const double total = usToMs(beepUs - t0);
        c.layToBeepMs.add(total);
        c.airMs.add(usToMs(air));
        c.ratio.add(total / usToMs(air));
        c.layToInventoryMs.add(usToMs(inventoryUs - t0));
        c.inventoryToWriteMs.add(usToMs(writeStartUs - inventoryUs));
        c.writeToBeepMs.add(usToMs(beepUs - writeStartUs));
    }
    b.field.clear();
    if (TestAccess::engine(*b.w).autoWrite().auto_mode)
        b.trigger("actionAuto_Write");
}

// A batch at one pace: each driver is laid, programmed, and after its beep lifted; the next
// is laid kHandlingMs later.
void runBatchCase(Bench& b, BatchCase& c)
{
    TagEngine& engine = TestAccess::engine(*b.w);
    b.field.clear();
    engine.setAutoWritePace(c.fast ? AutoWrite::Pace::Fast : AutoWrite::Pace::Described);
    b.trigger("actionAuto_Write");
    if (!engine.autoWrite().auto_mode) {
        c.failures = c.drivers;
        c.lastFailure = QStringLiteral("auto write did not switch on");
        return;
    }
    idleFor(400);
    const qint64 t0 = b.field.elapsedUs();
    for (int i = 0; i < c.drivers; ++i) {
        b.field.clearCommandLog();
        b.tap.clear();
        b.field.layTag(lineDriver(++b.serial, c.fast));
        if (!waitFor([&] { return b.beeperCommandsLogged() > 0; }, 5000) ||
            !waitFor([&] { return b.beepOver(); }, 3000) ||
            TestAccess::lastTip(*b.w) != kTipWriteOk) {
            ++c.failures;
            c.lastFailure = QStringLiteral("driver %1 not written").arg(i + 1);
        }
        b.field.clear();
        idleFor(kHandlingMs);
    }
    c.seconds = static_cast<double>(b.field.elapsedUs() - t0) / 1e6;
    c.perMinute = c.seconds > 0 ? 60.0 * c.drivers / c.seconds : 0;
    if (engine.autoWrite().auto_mode)
        b.trigger("actionAuto_Write");
}

struct CpuSample {
    double processPercent = 0;
    double guiThreadPercent = 0;
};

double cpuSeconds(const rusage& r)
{
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

CpuSample measureIdleCpu(int ms)
{
    rusage p0{}, t0{}, p1{}, t1{};
    getrusage(RUSAGE_SELF, &p0);
    getrusage(RUSAGE_THREAD, &t0);
    QElapsedTimer wall;
    wall.start();
    idleFor(ms);
    getrusage(RUSAGE_SELF, &p1);
    getrusage(RUSAGE_THREAD, &t1);
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    CpuSample s;
    s.processPercent = 100.0 * (cpuSeconds(p1) - cpuSeconds(p0)) / seconds;
    s.guiThreadPercent = 100.0 * (cpuSeconds(t1) - cpuSeconds(t0)) / seconds;
    return s;
}

// CPU of a thread that only sleeps 1 ms at a time: what 1000 wake-ups a second cost on
// this machine, whoever asks for them.
double bareSleepLoopPercent(int ms)
{
    double percent = 0;
    std::thread loop([&] {
        rusage r0{}, r1{};
        getrusage(RUSAGE_THREAD, &r0);
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end)
            poll(nullptr, 0, 1);
        getrusage(RUSAGE_THREAD, &r1);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        percent = 100.0 * (cpuSeconds(r1) - cpuSeconds(r0)) / seconds;
    });
    loop.join();
    return percent;
}

struct StartSample {
    bool ok = false;
    QString why;
    double spawnToShownMs = 0;
    double mainToShownMs = 0;
    double spawnToExitMs = 0;
    double maxRssMb = 0;
};

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Starts `program --simulate` with VANTORY_EXIT_AFTER_SHOW=1; the program prints when
// its window was first painted (steady clock) and quits.
StartSample runProgramOnce(const QString& program)
{
    StartSample s;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        s.why = QStringLiteral("pipe failed");
        return s;
    }
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "VANTORY_EXIT_AFTER_SHOW=", 24) != 0)
            envStrings.emplace_back(*e);
    envStrings.emplace_back("VANTORY_EXIT_AFTER_SHOW=1");
    std::vector<char*> envp;
    for (std::string& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const QByteArray path = QFile::encodeName(program);
    std::string arg0 = path.toStdString();
    std::string arg1 = "--simulate";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t pid = 0;
    const qint64 spawnNs = steadyNs();
    const int rc = posix_spawn(&pid, path.constData(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        s.why = QStringLiteral("cannot start %1").arg(program);
        return s;
    }
    QByteArray output;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        output.append(buf, static_cast<int>(n));
    }
    close(fds[0]);
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    const qint64 exitNs = steadyNs();

    static const QRegularExpression re(QStringLiteral(
        "window shown after ([0-9.]+) ms since main, steady clock ([0-9]+) ns(, peak memory "
        "([0-9]+) kB)?"));
    const QRegularExpressionMatch m = re.match(QString::fromUtf8(output));
    if (!m.hasMatch() || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        s.why = QStringLiteral("exit status %1, output: %2")
                    .arg(status)
                    .arg(QString::fromUtf8(output).trimmed());
        return s;
    }
    s.mainToShownMs = m.captured(1).toDouble();
    s.spawnToShownMs = static_cast<double>(m.captured(2).toLongLong() - spawnNs) / 1e6;
    s.spawnToExitMs = static_cast<double>(exitNs - spawnNs) / 1e6;
    // The program's own high-water mark; wait4's figure would also count the memory of
    // this process, which the child shared until its exec.
    s.maxRssMb = m.captured(4).isEmpty() ? static_cast<double>(ru.ru_maxrss) / 1024.0
                                         : m.captured(4).toDouble() / 1024.0;
    s.ok = true;
    return s;
}

struct Options {
    int reps = 15;
    int idleMs = 10000;
    int starts = 15;
    int batch = 50;
    bool quick = false;
    bool check = false;
    QString program;
};

Options parseOptions(const QStringList& args)
{
    Options o;
#ifdef VANTORY_PROGRAM
    o.program = QStringLiteral(VANTORY_PROGRAM);
#endif
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--quick")) {
            o.quick = true;
            o.reps = 2;
            o.idleMs = 1000;
            o.starts = 2;
            o.batch = 3;
        } else if (a == QLatin1String("--check")) {
            o.check = true;
        } else if (a == QLatin1String("--reps") && hasValue) {
            o.reps = std::max(1, args.at(++i).toInt());
        } else if (a == QLatin1String("--idle-seconds") && hasValue) {
            o.idleMs = std::max(1, args.at(++i).toInt()) * 1000;
        } else if (a == QLatin1String("--batch") && hasValue) {
            o.batch = std::max(1, args.at(++i).toInt());
        } else if (a == QLatin1String("--starts") && hasValue) {
            o.starts = std::max(0, args.at(++i).toInt());
        } else if (a == QLatin1String("--program") && hasValue) {
            o.program = args.at(++i);
        } else {
            out << "unknown option " << a << "\n";
        }
    }
    return o;
}

struct Verdicts {
    QStringList lines;
    int missed = 0;
    void addAtLeast(const QString& what, double value, double target, const QString& unit)
    {
        const bool met = value >= target;
        missed += met ? 0 : 1;
        lines << QStringLiteral("  %1 %2: %3%4 (target >= %5%4)")
                     .arg(met ? QStringLiteral("met   ") : QStringLiteral("MISSED"), what,
                          num(value, 2), unit, num(target, 2));
    }
    void add(const QString& what, double value, double target, const QString& unit)
    {
        const bool met = value <= target;
        missed += met ? 0 : 1;
        lines << QStringLiteral("  %1 %2: %3%4 (target <= %5%4)")
                     .arg(met ? QStringLiteral("met   ") : QStringLiteral("MISSED"), what,
                          num(value, unit == QLatin1String("x") ? 3 : 2), unit,
                          num(target, unit == QLatin1String("x") ? 2 : 1));
    }
};

// One simulated R321 of a station: its own field (air time on) and reader, and the
// operator who lays the next driver once the last one has beeped.
struct StationReader {
    ReaderField field;
    SimR321 r321{&field};
    int handled = 0;
    quint64 serial = 0;
};

// Drivers per minute of `readers` readers programming together in the station view, each
// `drivers` drivers from laying the first to the last beep; 0 when a batch failed.
double runStationCase(int readers, int drivers, QString* why)
{
    std::vector<std::unique_ptr<StationReader>> line;
    QVector<ReaderChoice> choices;
    for (int i = 0; i < readers; ++i) {
        auto r = std::make_unique<StationReader>();
        r->field.setLatencyEnabled(true);
        HidInterfaceInfo info = SimR321::defaultInterface();
        info.serial = QStringLiteral("BENCH-%1").arg(i + 1);
        info.path = QStringLiteral("/dev/bench-hidraw%1").arg(i);
        r->r321.setInterfaces({info});
        r->serial = 0x7100000000ULL + quint64(i) * 0x1000;
        choices << ReaderChoice{ReaderType::R321, info.serial};
        line.push_back(std::move(r));
    }
    size_t next = 0;
    StationView station(
        [&]() -> std::shared_ptr<HidBackend> {
            return next < line.size() ? std::shared_ptr<HidBackend>(&line.at(next++)->r321,
                                                                    [](HidBackend*) {})
                                      : nullptr;
        },
        nullptr);
    station.setTemplate(demodrivers::configurationFile(demodrivers::Kind::Dt8),
                        QStringLiteral("bench.bin"));
    for (auto& r : line)
        r->field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, ++r->serial));
    QElapsedTimer clock;
    clock.start();
    if (station.start(choices) != readers) {
        *why = QStringLiteral("not every batch started");
        return 0;
    }
    const QVector<TagEngine*> engines = station.engines();
    int failed = 0;
    for (int i = 0; i < readers; ++i) {
        StationReader* r = line.at(size_t(i)).get();
        QObject::connect(engines.at(i), &TagEngine::operationFinished, &station,
                         [r, &failed](const record::Outcome& o) {
                             ++r->handled;
                             failed += o.result == record::Result::Written ? 0 : 1;
                         });
        QObject::connect(engines.at(i), &TagEngine::beepFinished, &station, [r, drivers] {
            if (r->handled >= drivers)
                return;
            r->field.clear();
            QTimer::singleShot(kStationRelayMs, [r] {
                r->field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, ++r->serial));
            });
        });
    }
    const bool done = waitFor(
        [&] {
            return std::all_of(line.begin(), line.end(),
                               [drivers](const auto& r) { return r->handled >= drivers; });
        },
        drivers * 6000);
    const qint64 ms = clock.elapsed();
    station.stop();
    if (!done || failed > 0) {
        *why = QStringLiteral("%1 failed, %2").arg(failed).arg(done ? "all handled" : "time out");
        return 0;
    }
    return readers * drivers * 60000.0 / double(ms);
}

} // namespace

// The offscreen platform warns about every size-hint change; that says nothing here.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

int main(int argc, char* argv[])
{
    qInstallMessageHandler(quietHandler);
    // Headless unless a display was asked for explicitly.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // As the program does: raster drawing only, no OpenGL stack under X11.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        qputenv("QT_LOGGING_RULES", "*.debug=false");
    QApplication app(argc, argv);
    const Options opt = parseOptions(QCoreApplication::arguments());

    out << "Vantory benchmark: simulated readers with air-time latency, platform "
        << QGuiApplication::platformName() << ", " << opt.reps << " runs per case"
        << (opt.quick ? " (quick mode)" : "") << "\n";
    out << "Figures: median (min .. max); times in ms; ratio = time / air-time bound\n\n";
    out.flush();

    Bench bench;
    bool allCompleted = true;

    QVector<OpCase> cases;
    QVector<AutoCase> autos;
    QVector<BatchCase> batches;
    CpuSample fastIdle;
    int fastIdlePolls = 0;
    for (int reader : {kReaderR321, kReaderFeig}) {
        if (!bench.connectReader(reader)) {
            out << "cannot connect the simulated " << readerName(reader) << "\n";
            return 1;
        }
        struct Plan {
            const char* tag;
            demodrivers::Kind kind;
            int reads, writes, readBack; // readBack: the verification's reads
        };
        for (const Plan& p : {Plan{"P-tag", demodrivers::Kind::Dt8, 13, 8, 6},
                              Plan{"8-tag", demodrivers::Kind::Pwm, 8, 9, 7}}) {
            bench.layOnly(p.kind);
            OpCase read;
            read.name = QStringLiteral("Read %1").arg(QLatin1String(p.tag));
            read.reader = reader;
            read.commands = p.reads;
            read.target = kReadRatioTarget;
            runOpCase(bench, read, opt.reps);
            OpCase write;
            write.name = QStringLiteral("Write %1").arg(QLatin1String(p.tag));
            write.reader = reader;
            write.write = true;
            write.commands = p.writes;
            write.target = p.kind == demodrivers::Kind::Dt8 ? kWriteRatioTarget : 0;
            TestAccess::engine(*bench.w).setVerifyAfterWrite(false);
            runOpCase(bench, write, opt.reps);
            TestAccess::engine(*bench.w).setVerifyAfterWrite(true);
            // The same write read back and compared: its bound is the write's air time
            // plus the read-back's.
            OpCase verified;
            verified.reader = reader;
            verified.write = true;
            verified.name = QStringLiteral("Write+verify %1").arg(QLatin1String(p.tag));
            verified.commands = p.writes + p.readBack;
            verified.target = kWriteRatioTarget;
            runOpCase(bench, verified, opt.reps);
            cases << read << write << verified;
        }
        // Auto write needs the window to hold the driver's configuration: read it first.
        bench.layOnly(demodrivers::Kind::Dt8);
        const OpSample loaded = bench.runOperation("actionRead", 13, kTipReadOk);
        for (bool fast : {false, true}) {
            AutoCase a;
            a.reader = reader;
            a.fast = fast;
            if (loaded.ok)
                runAutoCase(bench, a, opt.reps);
            else {
                a.failures = opt.reps;
                a.lastFailure = QStringLiteral("configuration read failed: ") + loaded.why;
            }
            autos << a;
        }
        for (bool fast : {false, true}) {
            BatchCase bc;
            bc.reader = reader;
            bc.fast = fast;
            bc.drivers = opt.batch;
            runBatchCase(bench, bc);
            batches << bc;
        }
        if (reader == kReaderR321) {
            // The fast batch waiting for a driver: the reader is polled, the processor idles.
            bench.field.clear();
            TestAccess::engine(*bench.w).setAutoWritePace(AutoWrite::Pace::Fast);
            bench.trigger("actionAuto_Write");
            idleFor(300);
            fastIdle = measureIdleCpu(std::max(1000, opt.idleMs / 2));
            const QVector<SimCommandRecord> log = bench.field.commandLog();
            fastIdlePolls = static_cast<int>(std::count_if(
                log.begin(), log.end(), [](const SimCommandRecord& r) { return r.isoCommand == 1; }));
            bench.field.clearCommandLog();
            bench.trigger("actionAuto_Write");
            TestAccess::engine(*bench.w).setAutoWritePace(AutoWrite::Pace::Described);
        }
    }

    out << "Reads and writes (trigger to the last reply handled by the window)\n";
    out << QStringLiteral("  %1 %2 %3 %4 %5\n")
               .arg(QStringLiteral("case"), -27)
               .arg(QStringLiteral("time"), -26)
               .arg(QStringLiteral("air bound"), -10)
               .arg(QStringLiteral("ratio"), -28)
               .arg(QStringLiteral("target"));
    Stats gapsAll, hopAll, linkR321, linkFeig, firstAll;
    Verdicts verdicts;
    for (const OpCase& c : cases) {
        const QString name = c.name + QStringLiteral(" / ") + QLatin1String(readerName(c.reader));
        if (c.failures)
            allCompleted = false;
        out << QStringLiteral("  %1 %2 %3 %4 %5\n")
                   .arg(name, -27)
                   .arg(triple(c.totalMs), -26)
                   .arg(num(c.airMs.median()), -10)
                   .arg(triple(c.ratio, 3), -28)
                   .arg(c.target > 0 ? QStringLiteral("<= %1").arg(num(c.target, 2))
                                     : QStringLiteral("-"));
        if (c.failures)
            out << "    " << c.failures << " run(s) failed, last: " << c.lastFailure << "\n";
        if (!c.totalMs.empty())
            out << "    mean split: first command " << num(c.firstMs.mean(), 2) << " + air "
                << num(c.airMs.mean(), 1) << " + simulator beyond air "
                << num(c.sumLinkMs.mean(), 2) << " + engine gaps " << num(c.sumGapsMs.mean(), 2)
                << " (" << c.commands - 1 << ", each " << triple(c.gapsMs, 2)
                << ") + last reply handled " << num(c.lastHopMs.mean(), 2) << "\n";
        gapsAll.add(c.gapsMs);
        hopAll.add(c.hopMs);
        firstAll.add(c.firstMs);
        (c.reader == kReaderR321 ? linkR321 : linkFeig).add(c.linkMs);
        if (c.target > 0 && !c.ratio.empty())
            verdicts.add(name + QStringLiteral(" ratio"), c.ratio.median(), c.target,
                         QStringLiteral("x"));
    }
    out << "\nWhere the time goes (all reads and writes)\n";
    out << "  engine: reply returned by the reader -> next command at the reader, per reader\n";
    for (int reader : {kReaderR321, kReaderFeig}) {
        Stats g;
        for (const OpCase& c : cases)
            if (c.reader == reader)
                g.add(c.gapsMs);
        out << "    " << readerName(reader) << ": " << triple(g, 2) << " ms over " << g.size()
            << " gaps\n";
    }
    out << "    both: " << triple(gapsAll, 2) << " ms (median, min .. max = worst)\n";
    out << "  reply returned by the reader -> window's reply slot returned: " << triple(hopAll, 3)
        << " ms\n";
    out << "  trigger -> first command at the reader: " << triple(firstAll, 2) << " ms\n";
    out << "  simulator beyond the air time, per command: R321 " << triple(linkR321, 3)
        << " ms, FEIG " << triple(linkFeig, 3) << " ms\n";
    if (!gapsAll.empty())
        verdicts.add(QStringLiteral("engine time reply -> next command (median)"), gapsAll.median(),
                     kEngineGapTargetMs, QStringLiteral(" ms"));

    out << "\nAuto write: laying a driver (P-tag, the window's model) to its beep, verified\n"
        << "  (described pace: the drive area written whole; fast batch: the driver differs in "
           "one current, one block written)\n";
    for (const AutoCase& a : autos) {
        const QString pace = a.fast ? QStringLiteral("fast batch") : QStringLiteral("described");
        if (!a.layToBeepMs.empty())
            verdicts.add(QStringLiteral("auto write laid-to-beep %1, %2 (median)")
                             .arg(QLatin1String(readerName(a.reader)), pace),
                         a.layToBeepMs.median(),
                         a.fast ? kFastAutoWriteTargetMs : kAutoWriteTargetMs, QStringLiteral(" ms"));
        if (a.failures)
            allCompleted = false;
        out << "  " << readerName(a.reader) << ", " << pace << ": " << triple(a.layToBeepMs)
            << " ms, air bound "
            << num(a.airMs.median()) << " ms, ratio " << triple(a.ratio, 2) << "\n";
        out << "    lay -> inventory that finds it " << triple(a.layToInventoryMs)
            << ", -> first write " << triple(a.inventoryToWriteMs) << ", -> beep "
            << triple(a.writeToBeepMs) << "\n";
        if (a.failures)
            out << "    " << a.failures << " run(s) failed, last: " << a.lastFailure << "\n";
    }
    out << "\nA batch of " << opt.batch << " drivers, " << kHandlingMs
        << " ms handling time each (lift, lay the next), verified\n";
    for (int reader : {kReaderR321, kReaderFeig}) {
        double rate[2] = {0, 0};
        for (const BatchCase& bc : batches) {
            if (bc.reader != reader)
                continue;
            if (bc.failures)
                allCompleted = false;
            rate[bc.fast ? 1 : 0] = bc.perMinute;
            out << "  " << readerName(reader) << ", " << (bc.fast ? "fast batch" : "described")
                << ": " << num(bc.seconds, 1) << " s, " << num(bc.perMinute, 1)
                << " drivers per minute\n";
            if (bc.failures)
                out << "    " << bc.failures << " driver(s) failed, last: " << bc.lastFailure
                    << "\n";
        }
        if (rate[0] > 0 && rate[1] > 0) {
            out << "    fast over described: " << num(rate[1] / rate[0], 2) << " x\n";
            verdicts.addAtLeast(QStringLiteral("batch drivers per minute %1, fast over described")
                                    .arg(QLatin1String(readerName(reader))),
                                rate[1] / rate[0], kBatchRateTarget, QStringLiteral("x"));
        }
    }
    out << "  fast batch waiting, no driver laid (R321): process " << num(fastIdle.processPercent, 2)
        << " % of one core, " << fastIdlePolls << " inventories\n";
    verdicts.add(QStringLiteral("CPU of the fast batch waiting for a driver"),
                 fastIdle.processPercent, kIdleCpuTargetPercent, QStringLiteral(" %"));
    out.flush();

    // One read through the command line: the same engine without a window, from the
    // command to its exit (connect, read, the beep switched off again).
    {
        ReaderField field;
        SimR321 r321(&field);
        SimFeig feig(&field);
        field.setLatencyEnabled(true);
        field.layTag(demodrivers::makeTag(demodrivers::Kind::Dt8, 0x61));
        QString cliOut;
        QString cliErr;
        QTextStream o(&cliOut);
        QTextStream e(&cliErr);
        cli::Environment env;
        env.hid = &r321;
        env.feusb = &feig;
        env.out = &o;
        env.err = &e;
        QElapsedTimer cliClock;
        cliClock.start();
        const int rc = cli::run(
            {QStringLiteral("read"), QStringLiteral("--reader"), QStringLiteral("r321")}, env);
        const double ms = static_cast<double>(cliClock.nsecsElapsed()) / 1e6;
        out << "\nCommand line: vantory-cli read of a P-tag (R321, in process), command to exit: "
            << num(ms) << " ms"
            << (rc == 0 ? QString() : QStringLiteral(" FAILED (exit %1)").arg(rc)) << "\n";
        if (rc != 0)
            allCompleted = false;
    }

    // A station: the same batch on 1, 2 and 4 readers at once, one session per reader.
    {
        const int drivers = opt.quick ? 2 : 10;
        out << "\nStation: verified auto write on 1, 2 and 4 simulated R321s at once, " << drivers
            << " drivers each, the next laid " << kStationRelayMs << " ms after a beep\n";
        double one = 0;
        for (int readers : {1, 2, 4}) {
            QString why;
            const double perMinute = runStationCase(readers, drivers, &why);
            if (perMinute <= 0) {
                allCompleted = false;
                out << "  " << readers << " reader(s): FAILED, " << why << "\n";
                continue;
            }
            if (readers == 1)
                one = perMinute;
            const double times = one > 0 ? perMinute / one : 0;
            out << "  " << readers << " reader(s): " << num(perMinute) << " drivers per minute"
                << (readers > 1 ? QStringLiteral(", %1 x one reader").arg(num(times, 2)) : QString())
                << "\n";
            if (readers > 1)
                verdicts.addAtLeast(QStringLiteral("station of %1 readers vs one").arg(readers), times,
                                    readers == 2 ? kStation2Target : kStation4Target,
                                    QStringLiteral(" x"));
        }
        out.flush();
    }

    out << "\nIdle window (reader connected, nothing running) over " << opt.idleMs / 1000.0
        << " s\n";
    QTimer* tick = TestAccess::cmdTimer(*bench.w);
    long ticks = 0;
    const QMetaObject::Connection counter =
        QObject::connect(tick, &QTimer::timeout, &bench.tapContext, [&ticks] { ++ticks; });
    QElapsedTimer idleWall;
    idleWall.start();
    const CpuSample idle = measureIdleCpu(opt.idleMs);
    const double tickRate = static_cast<double>(ticks) * 1e9 / idleWall.nsecsElapsed();
    QObject::disconnect(counter);
    out << "  process " << num(idle.processPercent, 2) << " % of one core, GUI thread "
        << num(idle.guiThreadPercent, 2) << " %; " << num(tickRate, 0) << " ticks per second\n";
    verdicts.add(QStringLiteral("idle CPU"), idle.processPercent, kIdleCpuTargetPercent,
                 QStringLiteral(" %"));

    // What the tick costs by itself on this machine: the window without it, a bare 1 ms
    // Qt timer with an empty slot in its place, and a bare 1 ms sleep loop without Qt.
    const int compareMs = std::max(1000, opt.idleMs / 2);
    tick->stop();
    const CpuSample noTick = measureIdleCpu(compareMs);
    QTimer bare;
    bare.setTimerType(Qt::PreciseTimer);
    bare.setInterval(1);
    QObject::connect(&bare, &QTimer::timeout, &bench.tapContext, [] {});
    bare.start();
    const CpuSample bareTick = measureIdleCpu(compareMs);
    bare.stop();
    tick->start();
    const double loopPercent = bareSleepLoopPercent(compareMs);
    out << "  for comparison: the 1 ms tick stopped " << num(noTick.processPercent, 2)
        << " %; in its place a bare 1 ms Qt timer with an empty slot "
        << num(bareTick.processPercent, 2) << " %; a plain 1 ms sleep loop on a thread without Qt "
        << num(loopPercent, 2) << " %\n";

    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    out << "  this benchmark process (window, simulators, all runs): peak RSS "
        << num(self.ru_maxrss / 1024.0) << " MB\n";
    out.flush();

#ifdef VANTORY_HIDBENCH
    // The HID link under the R321 has figures of its own: command to wire and idle CPU
    // over hidapi, waiting on the device node (hidraw) and, as elsewhere, without one.
    for (const QString& mode : {QString(), QStringLiteral("--no-node")}) {
        QProcess hidbench;
        QStringList args;
        if (opt.quick)
            args << QStringLiteral("--quick");
        if (!mode.isEmpty())
            args << mode;
        hidbench.start(QStringLiteral(VANTORY_HIDBENCH), args);
        const bool done = hidbench.waitForFinished(120000) && hidbench.exitCode() == 0;
        out << "\n"
            << (mode.isEmpty() ? "[device node] " : "[no device node] ")
            << QString::fromLocal8Bit(hidbench.readAllStandardOutput());
        if (!done) {
            allCompleted = false;
            out << "  failed\n";
        }
    }
    out.flush();
#endif

    if (opt.starts > 0) {
        out << "\nStart-up of the real program: " << opt.program << " --simulate, " << opt.starts
            << " starts (the first may be cold)\n";
        Stats shown, mainShown, exited, rss;
        QString failure;
        if (!QFileInfo(opt.program).isExecutable()) {
            failure = QStringLiteral("no program at ") + opt.program;
        } else {
            for (int i = 0; i < opt.starts; ++i) {
                const StartSample s = runProgramOnce(opt.program);
                if (!s.ok) {
                    failure = s.why;
                    continue;
                }
                shown.add(s.spawnToShownMs);
                mainShown.add(s.mainToShownMs);
                exited.add(s.spawnToExitMs);
                rss.add(s.maxRssMb);
            }
        }
        if (!failure.isEmpty()) {
            allCompleted = false;
            out << "  failed: " << failure << "\n";
        }
        if (!shown.empty()) {
            out << "  process start -> window shown: " << triple(shown)
                << " ms (of which main() -> shown " << triple(mainShown) << ")\n";
            out << "  process start -> exit: " << triple(exited) << " ms\n";
            out << "  peak memory (the program's own VmHWM at that point): " << triple(rss)
                << " MB\n";
            verdicts.add(QStringLiteral("start -> window shown"), shown.median(), kStartTargetMs,
                         QStringLiteral(" ms"));
            verdicts.add(QStringLiteral("peak memory"), rss.max(), kPeakMemoryTargetMb,
                         QStringLiteral(" MB"));
        }
    }

    out << "\nTargets\n" << verdicts.lines.join(QLatin1Char('\n')) << "\n";
    out << (allCompleted ? "All cases completed.\n" : "Some cases FAILED.\n");
    out.flush();
    if (!allCompleted)
        return 1;
    if (opt.check && verdicts.missed > 0)
        return 2;
    return 0;
}
