// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace PortLink {

const char* const HungUpText = "The device hung up: it was unplugged or its other end was closed";

void prepare(QSerialPort& port)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Deprecated as a setting one rarely needs, but still what the Unix
    // backend does on close.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    port.setSettingsRestoredOnClose(false);
    QT_WARNING_POP
#else
    Q_UNUSED(port)
#endif
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
namespace {

// A tty of no consequence, opened as the slave of a new pseudo-terminal whose
// master is returned in master; -1 if none could be made.
int standInTty(int& master)
{
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return -1;
    const char* name = ::grantpt(master) == 0 && ::unlockpt(master) == 0 ? ::ptsname(master) : nullptr;
    const int slave = name ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (slave < 0) {
        ::close(master);
        master = -1;
    }
    return slave;
}

} // namespace
#endif

void close(QSerialPort& port)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 always puts back, as it closes, the settings the tty had when it
    // was opened: cooked and echoing, for a device nobody had set raw. Even
    // set raw again at once, the device would echo whatever arrived in
    // between. So the toolkit restores onto a stand-in instead: the device
    // stays open on a duplicate of its descriptor, the descriptor's number
    // is pointed at a throwaway tty, and once the toolkit has closed that,
    // the duplicate's close is the device's last, its raw settings untouched.
    // Nothing is opened on the device: no extra DTR change at the board, no
    // lock taken.
    if (!port.isOpen()) {
        port.close();
        return;
    }
    const int fd = int(port.handle());
    int master = -1;
    const int standIn = standInTty(master);
    const int keep = standIn >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    // Should the swap fail, the toolkit restores onto the device after all.
    if (keep >= 0)
        ::dup3(standIn, fd, O_CLOEXEC);
    port.close();
    if (keep >= 0)
        ::close(keep);
    if (standIn >= 0) {
        ::close(standIn);
        ::close(master);
    }
#else
    port.close();
#endif
}

bool open(QSerialPort& port, const QString& name)
{
    port.setPortName(name);
    port.setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    settle(port);
    return true;
}

void settle(QSerialPort& port)
{
    port.clear(QSerialPort::AllDirections);
}

bool hungUp(const QSerialPort& port)
{
    if (!port.isOpen())
        return false;
    pollfd p {int(port.handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
}

QString errorText(const QSerialPort& port, QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::ReadError && hungUp(port))
        return QString::fromLatin1(HungUpText);
    return port.errorString();
}

} // namespace PortLink
