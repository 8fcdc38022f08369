#include "cli/clirunner.h"
#include "model/productionrecord.h"

#include <QCoreApplication>
#include <QTextStream>
#include <atomic>
#include <csignal>
#include <cstdio>

namespace
{

std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int)
{
    // Auto write stops after the write in progress; a second Ctrl-C ends at once.
    if (g_interrupted.exchange(true))
        std::_Exit(130);
}

} // namespace

int main(int argc, char* argv[])
{
    // The engine's trace texts are for developers: QT_LOGGING_RULES turns them on.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        qputenv("QT_LOGGING_RULES", "*.debug=false");
    QCoreApplication app(argc, argv);
    // The same name as the window's program, so that both keep one production record.
    QCoreApplication::setApplicationName(QStringLiteral("vantory"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTORY_VERSION));
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    QTextStream out(stdout);
    QTextStream err(stderr);
    cli::Environment env;
    env.out = &out;
    env.err = &err;
    env.interrupted = &g_interrupted;
    env.recordDir = record::defaultFolder();
    const int rc = cli::run(QCoreApplication::arguments().mid(1), env);
    out.flush();
    err.flush();
    return rc;
}
