#pragma once
// The window wired to the simulated readers, for tests of what the window shows of the
// engine's operations (status bar, notices, batch counts, the record). The engine's own
// behaviour is tested without a window in tests/engine.

#include "app/readerbackends.h"
#include "app/vantory.h"
#include "engine/enginebench.h"
#include "widgets/noticewidget.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>

namespace enginetest
{

// Field, both simulated readers and the window; the window goes first on destruction.
struct WindowBench {
    ReaderField field;
    SimR321 r321{&field};
    SimFeig feig{&field};
    RewritingHid hidProxy{&r321};
    RewritingFeig feigProxy{&feig};
    QStringList boxes; // texts of the modal boxes the window tried to show
    std::unique_ptr<Vantory> w;

    explicit WindowBench(bool proxies = false)
    {
        w = std::make_unique<Vantory>(proxies ? ReaderBackends{&hidProxy, &feigProxy, true}
                                              : ReaderBackends{&r321, &feig, true});
        w->setModalHook([this](const QString& caption, const QString& text) {
            boxes << caption + QLatin1Char('|') + text;
        });
    }
    ~WindowBench() { w.reset(); }

    Vantory& win() { return *w; }
    TagEngine& engine() { return TestAccess::engine(*w); }
    /// The tip the result label shows, 0 when none (cleared as each action starts).
    uint8_t lastTip() { return TestAccess::lastTip(*w); }
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
        if (TestAccess::engine(*w).readerType() != ReaderType(reader))
            return false;
        if (!TestAccess::engine(*w).Detection_Usb_Statue(0))
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
    // The toolbar's actions, named as the engine bench names them.
    void read() { trigger("actionRead"); }
    void write() { trigger("actionWrite"); }
    void toggleAutoWrite() { trigger("actionAuto_Write"); }

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
            engine().TIMER0_HANDLE();
    }
};

} // namespace enginetest
