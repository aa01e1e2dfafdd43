// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlist.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

QList<PortEntry> systemSerialPorts()
{
    QList<PortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos) {
        PortEntry port {info.portName(), info.description()};
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            port.vendorId = info.vendorIdentifier();
            port.productId = info.productIdentifier();
            port.serialNumber = info.serialNumber();
            port.usbPosition = usbPosition(info.portName());
        }
        ports.append(port);
    }
    return ports;
}

QString usbPosition(const QString& portName)
{
    // The tty's device is the USB interface itself (cdc_acm) or a port
    // device below it (usb-serial drivers); either way the interface is the
    // nearest folder of the form bus-port[.port...]:config.interface.
    static const QRegularExpression interface(QStringLiteral("^\\d+-\\d+(\\.\\d+)*:\\d+\\.\\d+$"));
    const QString device = QFileInfo(QStringLiteral("/sys/class/tty/") + portName + QStringLiteral("/device"))
                               .canonicalFilePath();
    const QStringList folders = device.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        if (interface.match(*folder).hasMatch())
            return *folder;
    }
    return QString();
}
