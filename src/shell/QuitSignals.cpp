#include "QuitSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Only what a signal handler may touch.
int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_quitting = 0;

void OnSignal(int signal)
{
    if (g_quitting) {
        // At once, with the shell's status for death by that signal.
        ::_exit(128 + signal);
    }
    g_quitting = 1;
    const int saved = errno;
    const char number = char(signal);
    // The write end never blocks; a full pipe already holds a quit.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &number, 1);
    errno = saved;
}

} // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_pipe) != 0) {
        qWarning("QuitSignals: no socket pair (%s); signals end the program as before", strerror(errno));
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    g_quitting = 0;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::OnReadable);

    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier)
        return;
    for (int signal : kSignals)
        ::signal(signal, SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void QuitSignals::OnReadable()
{
    char number = 0;
    while (::read(g_pipe[0], &number, 1) == 1) {
        if (m_received)
            continue;
        m_received = true;
        emit QuitRequested(int(number));
    }
}
