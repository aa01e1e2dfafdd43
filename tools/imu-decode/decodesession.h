// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef IMU_DECODE_DECODESESSION_H
#define IMU_DECODE_DECODESESSION_H

#include "options.h"
#include "parser.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// Bytes in, lines out: one parser for the whole run, each record remapped and
// formatted exactly as the monitor's console does, written to a file
// descriptor through a buffer that is flushed when full or on request.
class DecodeSession : public QObject
{
    Q_OBJECT

public:
    DecodeSession(OutputFormat format, int outputFd, quint64 countLimit);
    ~DecodeSession() override;

    // The CSV header; nothing for console lines.
    void writeHeader();

    // From now on every byte fed is also kept as received in rawFd, and
    // written out along with the lines.
    void keepRawBytes(int rawFd);

    // Decodes bytes, stamping every record completed in them with hostTime
    // (may be empty). Stops exactly after the record that reaches the count
    // limit: later bytes are not looked at, so the counters describe the
    // stream up to that record.
    void feed(const QByteArray& bytes, const QByteArray& hostTime = QByteArray());

    bool countReached() const;

    // Writes out everything buffered. False once a write has failed; the
    // reason is in writeError(), and rawOutputFailed() says which output.
    bool flush();
    bool hasPendingOutput() const;
    QString writeError() const;
    bool outputFailed() const;
    bool rawOutputFailed() const;

    quint64 records() const;
    // One line: records, checksum misses, index misses, bytes dropped, and
    // the rate when framesPerSecond is not negative.
    QString summary(double framesPerSecond = -1.0) const;

    // The monitor's link settings, for every port the recorder opens.
    static constexpr qint32 BaudRate = 115200;

private:
    void onRecord(UART_RCV& data);
    // Bytes of a frame begun but not finished (0 to 18).
    int unfinishedBytes() const;

    Parser parser;
    const OutputFormat format;
    const int fd;
    const quint64 countLimit;
    quint64 recordCount = 0;
    quint64 bytesSeen = 0;
    QByteArray hostTime;
    QByteArray pending;
    int rawFd = -1;
    QByteArray rawPending;
    bool writeFailed = false;
    bool rawWriteFailed = false;
    QString writeErrorText;
};

#endif // IMU_DECODE_DECODESESSION_H
