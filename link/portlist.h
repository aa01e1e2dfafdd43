// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PORTLIST_H
#define PORTLIST_H

#include <QList>
#include <QString>

#include <functional>

// One entry of the port list: the name the port is opened by, the text
// shown after it, and who the device is, so that it is known again after an
// unplug under whatever name it comes back. The identity is zero and empty
// for a port that is not on USB (a built-in UART, a pseudo-terminal).
struct PortEntry
{
    QString name;
    QString description;
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString serialNumber;
    // The USB interface's place on the bus as the kernel names it, such as
    // "1-1.2:1.0": what tells apart adapters that carry no serial number.
    QString usbPosition;
};

// Where the port list comes from. The monitor lists the system's serial
// ports; the demo and the tests add ports the system does not enumerate,
// such as pseudo-terminals.
using PortSource = std::function<QList<PortEntry>()>;

QList<PortEntry> systemSerialPorts();

// The USB interface a tty belongs to, from sysfs; empty for a tty that is
// not on USB.
QString usbPosition(const QString& portName);

#endif // PORTLIST_H
