// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PARSER_H
#define PARSER_H

#include <QByteArray>
#include <QObject>

// One decoded measurement record, as the board sends it (before any remapping
// for display). Angles are hundredths of a degree, accelerations milli-g.
struct UART_RCV
{
    quint8 index;
    qint16 angle1;
    qint16 angle2;
    qint16 angle3;
    qint16 accel1;
    qint16 accel2;
    qint16 accel3;
};

// Turns the board's byte stream into UART_RCV records. Bytes may arrive in
// chunks of any size; a frame cut across calls is completed by the next call.
class Parser : public QObject
{
    Q_OBJECT

public:
    // Frame layout: two sync bytes, the payload, one additive checksum byte.
    static constexpr int PayloadSize = 16;
    static constexpr int FrameSize = 2 + PayloadSize + 1;

    explicit Parser(QObject* parent = nullptr);

    void parse(const QByteArray& bytes);

    uint getCSumMisses() const;
    uint getIndexMisses() const;

    // Bytes dropped while searching for sync: outside any frame. Not shown by
    // the monitor; the recorder reports it.
    quint64 getDroppedBytes() const;

    // Whether index, following previous, counts as an index miss: a step of
    // one forward or back is in sequence. A recording read back is counted
    // by the same rule.
    static bool breaksSequence(quint8 previous, quint8 index)
    {
        const quint8 step = static_cast<quint8>(index - previous);
        return step != 1 && step != 255;
    }

signals:
    // Emitted synchronously from inside parse(); listeners may modify the record.
    void dataReady(UART_RCV& data);

private:
    enum State { SeekFirstSync, SeekSecondSync, ReadPayload, ReadChecksum };

    static quint8 calcCSum(const QByteArray& bytes);
    void processData(const QByteArray& bytes);

    int state = SeekFirstSync;
    QByteArray payload;
    quint8 received = 0;
    quint32 checksumMisses = 0;
    quint32 indexMisses = 0;
    bool firstRecord = true;
    quint8 lastIndex = 0;
    const quint8 syncByte = 0xAA;
    quint64 droppedBytes = 0;
};

#endif // PARSER_H
