#include "cli/clirunner.h"
#include "model/productionrecord.h"

#include <QCoreApplication>
#include <QTextStream>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace
{

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_leaveNow{0};
QtMessageHandler g_defaultHandler = nullptr;

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

// Standard error carries the messages meant for the user; the program's traces (Qt's
// debug, info and warning messages) only with --verbose or rules of the user's own.
void userMessagesOnly(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        g_defaultHandler(type, context, text);
}

} // namespace

int main(int argc, char* argv[])
{
    bool verbose = false;
    for (int i = 1; i < argc; ++i)
        verbose = verbose || std::strcmp(argv[i], "--verbose") == 0;
    if (!verbose && qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        g_defaultHandler = qInstallMessageHandler(userMessagesOnly);
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
#ifdef SIGPIPE
    // A reader of the output that went away (`| head -1`) must not kill a batch between a
    // write and its record line: the failed write to standard output stops the batch instead.
    std::signal(SIGPIPE, SIG_IGN);
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
