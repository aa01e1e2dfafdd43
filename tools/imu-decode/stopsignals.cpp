// SPDX-License-Identifier: GPL-3.0-or-later
#include "stopsignals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int pipeFds[2] = {-1, -1};
volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int)
{
    const int savedErrno = errno;
    stopRequested = 1;
    const char byte = 1;
    // A full pipe already says everything the byte would.
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = savedErrno;
}
} // namespace

namespace StopSignals {

bool install()
{
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return true;
}

int fd()
{
    return pipeFds[0];
}

bool received()
{
    return stopRequested != 0;
}

} // namespace StopSignals
