#pragma once
// A window wired to the simulated readers, and what the engine tests need to drive it.

#include "app/readerbackends.h"
#include "app/vantory.h"
#include "readers/feusbapi.h"
#include "readers/hidbackend.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"
#include "widgets/noticewidget.h"
#include "testaccess.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLoggingCategory>
#include <QMutex>
#include <QPushButton>
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

// Field, both simulated readers and the window; the window goes first on destruction.
struct Bench {
    ReaderField field;
    SimR321 r321{&field};
    SimFeig feig{&field};
    RewritingHid hidProxy{&r321};
    RewritingFeig feigProxy{&feig};
    QStringList boxes; // texts of the modal boxes the window tried to show
    std::unique_ptr<Vantory> w;

    explicit Bench(bool proxies = false)
    {
        w = std::make_unique<Vantory>(proxies ? ReaderBackends{&hidProxy, &feigProxy, true}
                                              : ReaderBackends{&r321, &feig, true});
        w->setModalHook([this](const QString& caption, const QString& text) {
            boxes << caption + QLatin1Char('|') + text;
        });
    }
    ~Bench() { w.reset(); }

    Vantory& win() { return *w; }
    const CommandState& cmd() { return TestAccess::cmd(*w); }
    // Read-back verification after writes (on by default); tests of the plain command
    // sequences switch it off.
    void verify(bool on) { TestAccess::engine(*w).setVerifyAfterWrite(on); }

    // Connects through the connection dialog: pick the brand, press OK.
    bool connect(int reader)
    {
        auto* dialog = w->findChild<QDialog*>(QStringLiteral("ConnectionConfig"));
        auto* combo =
            dialog ? dialog->findChild<QComboBox*>(QStringLiteral("comboBox_Reader")) : nullptr;
        auto* ok = dialog ? dialog->findChild<QPushButton*>(QStringLiteral("pushButton_Connect"))
                          : nullptr;
        if (!combo || !ok)
            return false;
        combo->setCurrentIndex(reader == Feig ? 0 : 1);
        ok->click();
        if (TestAccess::readerType(*w) != ReaderType(reader))
            return false;
        if (!TestAccess::readerGuard(*w, 0))
            return false;
        if (reader == R321) {
            // The set-up command goes out at once; let its reply pass before the tests.
            if (!QTest::qWaitFor([this] { return field.commandLog().size() >= 1; }, 3000))
                return false;
            QTest::qWait(30);
        }
        // The first clock tick puts the start lumen table into the image; let it pass so
        // that the image changes only through the engine from here on.
        if (!QTest::qWaitFor([this] { return TestAccess::cloChartReady(*w); }, 3000))
            return false;
        field.clearCommandLog();
        return true;
    }

    void trigger(const char* action)
    {
        QAction* a = w->findChild<QAction*>(QString::fromLatin1(action));
        QVERIFY2(a, action);
        a->trigger();
    }

    // Stopped on purpose: the window must not restart it when a sequence or beep starts.
    void stopTimer()
    {
        TestAccess::cmdTimer(*w)->stop();
        TestAccess::setTickParked(*w, false);
    }
    void startTimer() { TestAccess::cmdTimer(*w)->start(); }
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            TestAccess::tick(*w);
    }
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

inline QByteArray bytes(const TagImage::Bytes& b, int from, int n)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()) + from, n);
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
