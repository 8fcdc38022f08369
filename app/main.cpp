#include "app/branding.h"
#include "app/readerbackends.h"
#include "app/simulatorwindow.h"
#include "app/vantory.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QScreen>
#include <memory>

int main(int argc, char* argv[])
{
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

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const QRect full = screen ? screen->geometry() : QRect();
    qCDebug(lcUi).nospace() << "width:" << available.width();
    qCDebug(lcUi).nospace() << "height:" << available.height();
    qCDebug(lcUi).nospace() << "width:" << full.width();
    qCDebug(lcUi).nospace() << "height:" << full.height();

    w.Select_Display_Scale(full.height() - available.height(), static_cast<uint16_t>(full.width()),
                           static_cast<uint16_t>(full.height()));

    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(12);
    w.setFont(font);

    QPalette palette = w.palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(QColor(255, 255, 255, 255)));
    w.setPalette(palette);

    w.show();
    if (simulator)
        simulator->showBeside(&w);
    return app.exec();
}
