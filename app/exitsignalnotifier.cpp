#include "app/exitsignalnotifier.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int exitSignals[] = {SIGTERM, SIGINT, SIGHUP};
struct sigaction previous[std::size(exitSignals)];
int writeFd = -1;

extern "C" void onExitSignal(int signalNumber)
{
    // Only async-signal-safe calls here.
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(writeFd, &byte, 1);
    errno = savedErrno;
}

} // namespace
#endif

ExitSignalNotifier::ExitSignalNotifier(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        qWarning("Exit signals not caught: socketpair failed");
        return;
    }
    // A full pipe drops the byte rather than blocking the handler.
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    writeFd = fds[1];

    notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
    notifier->setEnabled(false);
    connect(notifier, &QSocketNotifier::activated, this, &ExitSignalNotifier::readPending);

    struct sigaction action = {};
    action.sa_handler = onExitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(exitSignals); ++i)
        ::sigaction(exitSignals[i], &action, &previous[i]);
#endif
}

ExitSignalNotifier::~ExitSignalNotifier()
{
#ifdef Q_OS_UNIX
    if (fds[0] < 0)
        return;
    for (size_t i = 0; i < std::size(exitSignals); ++i)
        ::sigaction(exitSignals[i], &previous[i], nullptr);
    writeFd = -1;
    ::close(fds[0]);
    ::close(fds[1]);
#endif
}

void ExitSignalNotifier::start()
{
    if (notifier)
        notifier->setEnabled(true);
}

void ExitSignalNotifier::readPending()
{
#ifdef Q_OS_UNIX
    unsigned char byte;
    while (::read(fds[0], &byte, 1) == 1)
        emit received(byte);
#endif
}
