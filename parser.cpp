// SPDX-License-Identifier: GPL-3.0-or-later
#include "parser.h"

#include <QDataStream>

Parser::Parser(QObject* parent)
    : QObject(parent)
    , payload(PayloadSize, '\0')
{
}

uint Parser::getCSumMisses() const
{
    return checksumMisses;
}

uint Parser::getIndexMisses() const
{
    return indexMisses;
}

quint64 Parser::getDroppedBytes() const
{
    return droppedBytes;
}

quint8 Parser::calcCSum(const QByteArray& bytes)
{
    quint8 sum = 0;
    for (const char byte : bytes)
        sum = static_cast<quint8>(sum + static_cast<quint8>(byte));
    return sum;
}

void Parser::parse(const QByteArray& bytes)
{
    for (const char c : bytes) {
        const quint8 b = static_cast<quint8>(c);
        switch (state) {
        case SeekFirstSync:
            if (b == syncByte)
                state = SeekSecondSync;
            else
                ++droppedBytes;
            break;
        case SeekSecondSync:
            if (b == syncByte) {
                state = ReadPayload;
            } else {
                // The first sync byte turned out to be a stray one.
                droppedBytes += 2;
                state = SeekFirstSync;
            }
            break;
        case ReadPayload:
            // Not through a pointer kept across the loop: the decoding stream
            // shares payload during an emission, so a listener that runs
            // parse() again (a nested event loop) moves it to a new buffer.
            payload[received] = c;
            ++received;
            if (received >= PayloadSize)
                state = ReadChecksum;
            break;
        case ReadChecksum:
            // The frame is finished before it is delivered, so that bytes fed
            // from inside the emission start a new one.
            received = 0;
            state = SeekFirstSync;
            if (b == calcCSum(payload))
                processData(payload);
            else
                ++checksumMisses;
            break;
        }
    }
}

void Parser::processData(const QByteArray& bytes)
{
    QDataStream stream(bytes);
    stream.setByteOrder(QDataStream::LittleEndian);

    UART_RCV record;
    stream >> record.index >> record.angle1 >> record.angle2 >> record.angle3
           >> record.accel1 >> record.accel2 >> record.accel3;

    emit dataReady(record);

    if (firstRecord) {
        lastIndex = record.index;
        firstRecord = false;
        return;
    }
    if (breaksSequence(lastIndex, record.index))
        ++indexMisses;
    lastIndex = record.index;
}
