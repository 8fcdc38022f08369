#include "app/signalquit.h"

#include "model/productionrecord.h"

#include <QSocketNotifier>
#include <csignal>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace
{

#ifdef Q_OS_UNIX
int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_seen = 0;

extern "C" void onQuitSignal(int signal)
{
    // The window may be stuck: a second signal does not wait for it.
    if (g_seen)
        std::_Exit(128 + signal);
    g_seen = 1;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &number, 1);
}

const int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
#endif

} // namespace

SignalQuit::SignalQuit(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal))
{
#ifdef Q_OS_UNIX
    if (::pipe(g_pipe) != 0)
        return;
    for (int fd : g_pipe)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    g_seen = 0;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        if (::read(g_pipe[0], &number, 1) == 1 && m_onSignal)
            m_onSignal(number);
    });
    struct sigaction action {
    };
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
#endif
}

SignalQuit::~SignalQuit()
{
#ifdef Q_OS_UNIX
    for (int signal : kSignals)
        std::signal(signal, SIG_DFL);
    delete m_notifier;
    for (int& fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
#endif
}

QString SignalQuit::name(int signal)
{
    return record::signalCause(signal);
}
