// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef FRAMEENCODER_H
#define FRAMEENCODER_H

#include "parser.h"

#include <QByteArray>

#include <array>

// Builds the board's 19-byte frames, written independently of the parser so
// that tests can check the parser against it and tools can play the board.
namespace FrameEncoder {

using Tail = std::array<quint8, 3>;

// The 16-byte little-endian payload of a record, ending in the three bytes
// that the host does not decode.
QByteArray payload(const UART_RCV& record, const Tail& tail = {0, 0, 0});

// The sum of the payload bytes modulo 256.
quint8 checksum(const QByteArray& payload);

// Sync bytes, payload and checksum.
QByteArray frame(const UART_RCV& record, const Tail& tail = {0, 0, 0});

// The same frame with a checksum byte that does not match its payload.
QByteArray corruptFrame(const UART_RCV& record, const Tail& tail = {0, 0, 0});

} // namespace FrameEncoder

#endif // FRAMEENCODER_H
