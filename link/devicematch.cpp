// SPDX-License-Identifier: GPL-3.0-or-later
#include "devicematch.h"

namespace DeviceMatch {

namespace {

bool onUsb(const PortEntry& port)
{
    return port.vendorId != 0 || port.productId != 0;
}

// "1.0" of "1-1.2:1.0": which of a device's interfaces.
QString interfaceOf(const QString& usbPosition)
{
    return usbPosition.section(QLatin1Char(':'), 1);
}

} // namespace

Verdict compare(const PortEntry& lost, const PortEntry& candidate)
{
    if (!onUsb(lost))
        return candidate.name == lost.name ? Verdict::Same : Verdict::Unrelated;
    if (candidate.vendorId != lost.vendorId || candidate.productId != lost.productId)
        return Verdict::Unrelated;
    if (!lost.serialNumber.isEmpty())
        return candidate.serialNumber == lost.serialNumber ? Verdict::Same : Verdict::OtherBoard;
    if (!candidate.serialNumber.isEmpty())
        return Verdict::OtherBoard;
    if (!lost.usbPosition.isEmpty())
        return candidate.usbPosition == lost.usbPosition ? Verdict::Same : Verdict::OtherBoard;
    // Nothing tells two such devices apart: only the name is safe to go by,
    // and another name is no proof of another board.
    return candidate.name == lost.name ? Verdict::Same : Verdict::Unrelated;
}

int closeness(const PortEntry& lost, const PortEntry& candidate)
{
    const bool samePlace = !lost.usbPosition.isEmpty() && candidate.usbPosition == lost.usbPosition;
    const bool sameInterface = interfaceOf(candidate.usbPosition) == interfaceOf(lost.usbPosition);
    return 2 * samePlace + sameInterface;
}

QString distinction(const PortEntry& port)
{
    if (!port.serialNumber.isEmpty())
        return QStringLiteral("serial ") + port.serialNumber;
    if (!port.usbPosition.isEmpty())
        return QStringLiteral("USB port ") + port.usbPosition;
    return port.name;
}

} // namespace DeviceMatch
