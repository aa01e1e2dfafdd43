// SPDX-License-Identifier: GPL-3.0-or-later
#include "decodesession.h"

#include "recordcsv.h"
#include "recordformat.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
// Big enough that a file is decoded with few writes, small enough that a
// port's lines are not held back for long between timed flushes.
constexpr int FlushThreshold = 64 * 1024;

// Writes all of data; on failure, error says why.
bool writeAll(int fd, const QByteArray& data, QString& error)
{
    const char* next = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, next, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        next += n;
        left -= n;
    }
    return true;
}
} // namespace

DecodeSession::DecodeSession(OutputFormat format, int outputFd, quint64 countLimit)
    : format(format)
    , fd(outputFd)
    , countLimit(countLimit)
{
    pending.reserve(FlushThreshold + 4096);
    connect(&parser, &Parser::dataReady, this, &DecodeSession::onRecord);
}

DecodeSession::~DecodeSession()
{
    flush();
}

void DecodeSession::writeHeader()
{
    if (format == OutputFormat::Csv)
        pending.append(RecordCsv::Header);
}

void DecodeSession::keepRawBytes(int fd)
{
    rawFd = fd;
}

void DecodeSession::feed(const QByteArray& bytes, const QByteArray& time)
{
    hostTime = time;
    // All of them, even past the count limit: the capture is the link's.
    if (rawFd >= 0)
        rawPending.append(bytes);
    if (countLimit == 0) {
        parser.parse(bytes);
        bytesSeen += quint64(bytes.size());
    } else {
        // A slice just long enough to complete the records still wanted, if
        // every byte counts, cannot complete more of them; if it completes
        // them all, its last byte is the last one's checksum. So the parser
        // stops right after the record that reaches the limit.
        int offset = 0;
        while (offset < bytes.size() && !countReached()) {
            const quint64 left = countLimit - recordCount;
            const quint64 needed = quint64(Parser::FrameSize - unfinishedBytes())
                                   + (left - 1) * quint64(Parser::FrameSize);
            const int slice = int(qMin<quint64>(quint64(bytes.size() - offset), needed));
            parser.parse(QByteArray::fromRawData(bytes.constData() + offset, slice));
            offset += slice;
            bytesSeen += quint64(slice);
        }
    }
    if (pending.size() >= FlushThreshold || rawPending.size() >= FlushThreshold)
        flush();
}

int DecodeSession::unfinishedBytes() const
{
    // Every byte seen was dropped, belongs to a whole frame (good or not), or
    // to the frame still being read.
    const quint64 framed = (recordCount + parser.getCSumMisses()) * quint64(Parser::FrameSize);
    return int(bytesSeen - framed - parser.getDroppedBytes());
}

bool DecodeSession::countReached() const
{
    return countLimit != 0 && recordCount >= countLimit;
}

void DecodeSession::onRecord(UART_RCV& data)
{
    ++recordCount;
    RecordFormat::remap(data);
    if (format == OutputFormat::Console) {
        pending.append(RecordFormat::consoleLine(data).toUtf8());
        pending.append('\n');
    } else {
        RecordCsv::appendRow(pending, hostTime, data);
    }
}

bool DecodeSession::flush()
{
    if (!writeFailed && !writeAll(fd, pending, writeErrorText))
        writeFailed = true;
    if (!writeFailed && rawFd >= 0 && !writeAll(rawFd, rawPending, writeErrorText))
        writeFailed = rawWriteFailed = true;
    pending.clear();
    rawPending.clear();
    return !writeFailed;
}

bool DecodeSession::hasPendingOutput() const
{
    return !pending.isEmpty() || !rawPending.isEmpty();
}

bool DecodeSession::outputFailed() const
{
    return writeFailed;
}

bool DecodeSession::rawOutputFailed() const
{
    return rawWriteFailed;
}

QString DecodeSession::writeError() const
{
    return writeErrorText;
}

quint64 DecodeSession::records() const
{
    return recordCount;
}

QString DecodeSession::summary(double framesPerSecond) const
{
    QString line = QStringLiteral("imu-decode: records decoded: %1, checksum misses: %2, "
                                  "index misses: %3, bytes dropped: %4")
                       .arg(recordCount)
                       .arg(parser.getCSumMisses())
                       .arg(parser.getIndexMisses())
                       .arg(parser.getDroppedBytes());
    // Say so rather than lose the start of a frame without a trace.
    const int unfinished = unfinishedBytes();
    if (unfinished > 0)
        line += QStringLiteral(", unfinished frame at the end: %1 bytes").arg(unfinished);
    if (framesPerSecond >= 0.0)
        line += QStringLiteral(", frames per second: %1").arg(framesPerSecond, 0, 'f', 1);
    return line;
}
