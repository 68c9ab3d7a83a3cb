#include "app/unixsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Strobix {

namespace {

int signalPair[2] = {-1, -1};

void writeSignal(int number)
{
    const char byte = char(number);
    // Nothing to do if it fails: a byte is already waiting.
    [[maybe_unused]] const ssize_t written = ::write(signalPair[0], &byte, 1);
}

} // namespace

UnixSignals::UnixSignals(QObject *parent)
    : QObject(parent)
{
    std::signal(SIGXFSZ, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPair) != 0)
        return;
    // dfu-util must not inherit them. Set apart from socketpair(), as macOS
    // has no SOCK_CLOEXEC; no other thread starts a process yet.
    for (int end : signalPair)
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
    // A burst of signals before the event loop reads must not block the handler.
    ::fcntl(signalPair[0], F_SETFL, ::fcntl(signalPair[0], F_GETFL) | O_NONBLOCK);
    auto *notifier = new QSocketNotifier(signalPair[1], QSocketNotifier::Read, this);
    connect(notifier, SIGNAL(activated(int)), this, SLOT(signalArrived()));

    struct sigaction action = {};
    action.sa_handler = writeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(number, &action, nullptr);
}

void UnixSignals::signalArrived()
{
    char byte;
    [[maybe_unused]] const ssize_t read = ::read(signalPair[1], &byte, 1);
    // Leaves every event loop, the one of an open message box too; the main
    // window then goes as if closed.
    QCoreApplication::quit();
}

} // namespace Strobix
