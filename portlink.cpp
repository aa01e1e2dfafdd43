// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
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

void close(QSerialPort& port)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 always puts back, as it closes, the settings the tty had when it
    // was opened: cooked, for a device nobody had set raw. A duplicate of its
    // descriptor keeps the tty open through that close, so the raw settings
    // go back on the same open file before the last close. Nothing is opened
    // a second time: no extra DTR change at the board, no lock taken. Once
    // raw, the next open saves raw settings, and its close puts those back.
    termios raw {};
    int keep = -1;
    if (port.isOpen() && ::tcgetattr(int(port.handle()), &raw) == 0)
        keep = ::fcntl(int(port.handle()), F_DUPFD_CLOEXEC, 0);
    port.close();
    if (keep >= 0) {
        ::tcsetattr(keep, TCSANOW, &raw);
        ::close(keep);
    }
#else
    port.close();
#endif
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
