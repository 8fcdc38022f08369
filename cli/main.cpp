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
std::atomic<int> g_leaveNow{0};

extern "C" void onInterrupt(int signal)
{
    // The first: auto write stops after the write in progress. The second: the program
    // records the operation under way as interrupted and leaves. A third leaves at once,
    // should the program be stuck.
    if (!g_interrupted.exchange(true))
        return;
    int none = 0;
    if (!g_leaveNow.compare_exchange_strong(none, signal))
        std::_Exit(128 + signal);
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
#ifdef SIGHUP
    // A closed terminal or a dropped ssh session: the write in progress still finishes.
    std::signal(SIGHUP, onInterrupt);
#endif
#ifdef SIGXFSZ
    // A file-size limit makes the write fail with EFBIG, which is reported, instead of
    // killing the program with the file half written.
    std::signal(SIGXFSZ, SIG_IGN);
#endif

    QTextStream out(stdout);
    QTextStream err(stderr);
    cli::Environment env;
    env.out = &out;
    env.err = &err;
    env.interrupted = &g_interrupted;
    env.leaveNow = &g_leaveNow;
    // VANTORY_RECORD_DIR moves the record (test stations, tests); it also keeps one
    // under --simulate.
    const QString recordDir = qEnvironmentVariable("VANTORY_RECORD_DIR");
    env.recordDir = recordDir.isEmpty() ? record::defaultFolder() : recordDir;
    const int rc = cli::run(QCoreApplication::arguments().mid(1), env);
    out.flush();
    err.flush();
    return rc;
}
