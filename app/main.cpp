#include "app/branding.h"
#include "app/readerbackends.h"
#include "app/signalquit.h"
#include "app/simulatorwindow.h"
#include "app/vantory.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>

namespace
{

// With VANTORY_EXIT_AFTER_SHOW set, the program quits once its window has been painted
// for the first time and prints when that was; the start-up benchmark relies on it.
class ExitAfterShow : public QObject
{
  public:
    explicit ExitAfterShow(const QElapsedTimer& sinceMain) : m_sinceMain(sinceMain) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            // Report once this paint has reached the screen, from the event loop.
            QTimer::singleShot(0, this, [this] { report(); });
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    void report()
    {
        const double ms = static_cast<double>(m_sinceMain.nsecsElapsed()) / 1e6;
        const long long steady = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
        // Peak resident memory of this program image, where the system tells it (Linux).
        QByteArray peak = "unknown";
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("VmHWM:"))
                    peak = line.mid(6).simplified();
        }
        std::printf("vantory: window shown after %.1f ms since main, steady clock %lld ns, "
                    "peak memory %s\n",
                    ms, steady, peak.constData());
        std::fflush(stdout);
        QCoreApplication::quit();
    }

    QElapsedTimer m_sinceMain;
    bool m_seen = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    // Everything is drawn with the raster engine. Without this the X11 platform plugin sets
    // up OpenGL at start, which loads Mesa and LLVM: twice the memory, a slower start.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    QApplication::setApplicationName(branding::programName());
    QApplication::setApplicationVersion(QStringLiteral(VANTORY_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Configures DALI-2 LED drivers over NFC."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption simulateOption(
        QStringLiteral("simulate"),
        QStringLiteral("Use simulated R321 and FEIG readers with a demo driver."));
    parser.addOption(simulateOption);
    parser.process(app);

    ReaderBackends backends;
    backends.simulated = parser.isSet(simulateOption);

    // The simulated readers must outlive the window that borrows them.
    std::unique_ptr<SimulatorWindow> simulator;
    if (backends.simulated) {
        simulator = std::make_unique<SimulatorWindow>();
        backends.hid = simulator->r321();
        backends.feusb = simulator->feig();
    }

    Vantory w(backends);
    // ~/.config/<program>/settings.ini on Linux; the registry is not used on Windows.
    w.useSettings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                              QApplication::applicationName(),
                                              QStringLiteral("settings")));
    // Simulated drivers are no production, as with vantory-cli --simulate.
    if (!backends.simulated)
        w.setRecordFolder(record::defaultFolder());

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const QRect full = screen ? screen->geometry() : QRect();
    qCDebug(lcUi).nospace() << "width:" << available.width();
    qCDebug(lcUi).nospace() << "height:" << available.height();
    qCDebug(lcUi).nospace() << "width:" << full.width();
    qCDebug(lcUi).nospace() << "height:" << full.height();

    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(12);
    w.setFont(font);

    QPalette palette = w.palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(QColor(255, 255, 255, 255)));
    w.setPalette(palette);

    // The display scale, and the window placed where its status bar can be seen.
    w.placeOnScreen(available, full);

    ExitAfterShow exitAfterShow(sinceMain);
    if (qEnvironmentVariableIsSet("VANTORY_EXIT_AFTER_SHOW"))
        w.installEventFilter(&exitAfterShow);

    // A stopped service or a closed terminal closes the window as its close button does.
    SignalQuit signalQuit([&w](int signal) {
        w.closeForSignal(SignalQuit::name(signal));
        QCoreApplication::quit();
    });

    w.show();
    if (simulator)
        simulator->showBeside(&w);
    return app.exec();
}
