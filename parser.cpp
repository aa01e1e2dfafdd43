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
    // Index access on a non-const payload would detach it on every byte if it
    // were shared; it never is, so data() stays the same buffer for the
    // object's life.
    char* const buffer = payload.data();

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
            buffer[received] = c;
            ++received;
            if (received >= PayloadSize)
                state = ReadChecksum;
            break;
        case ReadChecksum:
            if (b == calcCSum(payload))
                processData(payload);
            else
                ++checksumMisses;
            received = 0;
            state = SeekFirstSync;
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
    const quint8 step = static_cast<quint8>(record.index - lastIndex);
    if (step != 1 && step != 255)
        ++indexMisses;
    lastIndex = record.index;
}
