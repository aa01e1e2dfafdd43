// SPDX-License-Identifier: GPL-3.0-or-later
#include "frameencoder.h"

namespace FrameEncoder {

namespace {
constexpr char SyncByte = char(0xAA);

void putLittleEndian16(QByteArray& out, qint16 value)
{
    const auto bits = static_cast<quint16>(value);
    out.append(char(bits & 0xFF));
    out.append(char(bits >> 8));
}
} // namespace

QByteArray payload(const UART_RCV& record, const Tail& tail)
{
    QByteArray out;
    out.reserve(16);
    out.append(char(record.index));
    for (qint16 value : {record.angle1, record.angle2, record.angle3, record.accel1, record.accel2,
                         record.accel3})
        putLittleEndian16(out, value);
    for (quint8 byte : tail)
        out.append(char(byte));
    return out;
}

quint8 checksum(const QByteArray& payload)
{
    unsigned sum = 0;
    for (char byte : payload)
        sum += static_cast<unsigned char>(byte);
    return static_cast<quint8>(sum % 256);
}

QByteArray frame(const UART_RCV& record, const Tail& tail)
{
    const QByteArray body = payload(record, tail);
    QByteArray out;
    out.reserve(19);
    out.append(SyncByte).append(SyncByte).append(body).append(char(checksum(body)));
    return out;
}

QByteArray corruptFrame(const UART_RCV& record, const Tail& tail)
{
    QByteArray out = frame(record, tail);
    out[out.size() - 1] = char(static_cast<quint8>(out.back()) ^ 0x5A);
    return out;
}

} // namespace FrameEncoder
