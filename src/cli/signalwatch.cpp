#include "signalwatch.h"

#include <QCoreApplication>
#include <QPointer>

#include <csignal>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace irlearn::cli {

namespace {

// Signals seen so far; the handlers may touch nothing else but the pipe.
volatile std::sig_atomic_t seen = 0;
QPointer<SignalWatch> current;

#ifdef Q_OS_UNIX
int pipeEnds[2] = {-1, -1};
QSocketNotifier *notifier = nullptr;

void onSignal(int signal)
{
    if (seen++ > 0)
        ::_exit(SignalWatch::exitCode(signal));
    const char byte = char(signal);
    // Only async-signal-safe calls here; the loop reads the byte and does the rest.
    [[maybe_unused]] const ssize_t n = ::write(pipeEnds[0], &byte, 1);
}
#endif

#ifdef Q_OS_WIN
BOOL WINAPI onConsoleEvent(DWORD event)
{
    const int signal = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    if (seen++ > 0)
        ::_exit(SignalWatch::exitCode(signal));
    // This runs on a thread of its own: the watch hears of it in its loop.
    if (current)
        QMetaObject::invokeMethod(
            current.data(), [signal] { emit current->interrupted(signal); }, Qt::QueuedConnection);
    return TRUE;
}
#endif

} // namespace

SignalWatch::SignalWatch(QObject *parent) : QObject(parent)
{
    current = this;
    seen = 0;
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeEnds) != 0)
        return;
    notifier = new QSocketNotifier(pipeEnds[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (::read(pipeEnds[1], &byte, 1) == 1)
            emit interrupted(int(byte));
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
#endif
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#endif
}

SignalWatch::~SignalWatch()
{
#ifdef Q_OS_UNIX
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    delete notifier;
    notifier = nullptr;
    for (int &end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
#endif
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
#endif
}

int SignalWatch::exitCode(int signal)
{
    return 128 + signal;
}

} // namespace irlearn::cli
