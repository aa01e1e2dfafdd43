// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink.h"

#include <poll.h>

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
