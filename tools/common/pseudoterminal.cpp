// SPDX-License-Identifier: GPL-3.0-or-later
#include "pseudoterminal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QStringList>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// How many locked-looking pseudo-terminals to pass over before taking one.
constexpr int MaxPassedOver = 64;

// A lock file left by a program that has ended (killed before it could
// remove it) is stale: the serial-port module takes it over.
bool isHeld(const QString& lockPath)
{
    if (!QFileInfo::exists(lockPath))
        return false;
    qint64 pid = 0;
    QString host;
    QString application;
    if (!QLockFile(lockPath).getLockInfo(&pid, &host, &application) || pid <= 0)
        return true; // unreadable: assume someone holds it
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// The kernel hands out the lowest free pseudo-terminal number, so a number
// one process has just given back is soon handed to another. A process that
// held it through the serial-port module removes its lock file only after
// closing the device, so for that moment (long, on a loaded machine) the new
// pseudo-terminal looks locked by a live program and cannot be opened.
bool hasLockFile(const QString& slavePath)
{
    // The serial-port module names its lock "LCK.." and the device's name
    // under /dev with '/' turned into '_', in the first usable of these.
    QString name = slavePath;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace('/', '_');
    const QStringList lockDirectories {"/var/lock", "/etc/locks", "/var/spool/locks",
                                       "/var/spool/uucp", QDir::tempPath()};
    for (const QString& directory : lockDirectories) {
        if (isHeld(directory + "/LCK.." + name))
            return true;
    }
    return false;
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    // A passed-over master stays open until a good one is found, so that
    // the kernel does not hand the same number out again.
    std::vector<int> passedOver;
    while (openMaster() && hasLockFile(path) && int(passedOver.size()) < MaxPassedOver) {
        passedOver.push_back(fd);
        fd = -1;
        path.clear();
    }
    for (int held : passedOver)
        ::close(held);
    if (fd < 0)
        return;

    // Raw from the start, so that bytes written before the slave is opened
    // are neither echoed nor translated by the line discipline.
    termios settings {};
    if (::tcgetattr(fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(fd, TCSANOW, &settings);
    }
}

bool PseudoTerminal::openMaster()
{
    fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        close();
        return false;
    }
    char name[128];
    if (::ptsname_r(fd, name, sizeof name) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        close();
        return false;
    }
    path = QString::fromLocal8Bit(name);
    return true;
}

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::isOpen() const
{
    return fd >= 0;
}

QString PseudoTerminal::slavePath() const
{
    return path;
}

int PseudoTerminal::masterFd() const
{
    return fd;
}

QString PseudoTerminal::errorString() const
{
    return error;
}

bool PseudoTerminal::write(const QByteArray& bytes, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    qint64 done = 0;
    while (fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0) {
            error = QStringLiteral("timed out writing to the pseudo-terminal");
            return false;
        }
        pollfd p {fd, POLLOUT, 0};
        ::poll(&p, 1, int(qMin<qint64>(left, 50)));
    }
    return fd >= 0;
}

QByteArray PseudoTerminal::read(int timeoutMs, int maxBytes)
{
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    char buffer[4096];
    while (fd >= 0 && out.size() < maxBytes) {
        const ssize_t n = ::read(fd, buffer, size_t(qMin<qint64>(sizeof buffer, maxBytes - out.size())));
        if (n > 0) {
            out.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break; // EIO: nobody holds the slave open
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            break;
        pollfd p {fd, POLLIN, 0};
        ::poll(&p, 1, int(left));
    }
    return out;
}

void PseudoTerminal::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}
