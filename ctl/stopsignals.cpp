#include "ctl/stopsignals.h"

#include <QtGlobal>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <unistd.h>

namespace {

const int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[std::size(stopSignals)];
int writeFd = -1;

extern "C" void onStopSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(writeFd, &byte, 1);
    errno = savedErrno;
}

} // namespace

StopSignals::StopSignals()
{
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("Stop signals not caught: pipe failed");
        return;
    }
    writeFd = fds[1];
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(stopSignals); ++i)
        ::sigaction(stopSignals[i], &action, &previous[i]);
}

StopSignals::~StopSignals()
{
    if (fds[0] < 0)
        return;
    for (size_t i = 0; i < std::size(stopSignals); ++i)
        ::sigaction(stopSignals[i], &previous[i], nullptr);
    writeFd = -1;
    ::close(fds[0]);
    ::close(fds[1]);
}

void StopSignals::drain()
{
    unsigned char byte;
    while (fds[0] >= 0 && ::read(fds[0], &byte, 1) == 1) {
        if (first == 0)
            first = byte;
    }
}

void StopSignals::wait(int ms)
{
    if (caught() != 0 || ms <= 0)
        return;
    struct pollfd watched = {fds[0], POLLIN, 0};
    // An interrupted poll comes back early; the pipe says whether to stop.
    ::poll(&watched, 1, ms);
    drain();
}

int StopSignals::caught()
{
    drain();
    return first;
}
