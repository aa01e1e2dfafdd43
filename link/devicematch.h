// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef DEVICEMATCH_H
#define DEVICEMATCH_H

#include "portlist.h"

// Whether a listed port is the device that was unplugged. A USB device is
// known by its vendor, product and serial number; without a serial number
// (CH340 adapters carry none) by the USB port it is plugged into; a device
// without USB identity (a built-in UART, a pseudo-terminal) by its name.
namespace DeviceMatch {

enum class Verdict {
    Same,
    // The same kind of device that is certainly not the one: another
    // serial number, or another USB port for one without.
    OtherBoard,
    Unrelated,
};

Verdict compare(const PortEntry& lost, const PortEntry& candidate);

// Among candidates that are all the same device by compare(), how well one
// fits: a dual-port adapter lists one serial number twice, and so do cloned
// adapters that share a made-up one.
int closeness(const PortEntry& lost, const PortEntry& candidate);

// What tells the device apart, in words: "serial A50285BI", "USB port
// 1-1.2:1.0", or its name.
QString distinction(const PortEntry& port);

} // namespace DeviceMatch

#endif // DEVICEMATCH_H
