// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef REPLAYFILE_H
#define REPLAYFILE_H

#include "parser.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <vector>

// A file to replay, read and checked whole before anything is streamed: a
// CSV recording (the monitor's and imu-decode's format, see recordcsv.h) or
// a raw capture of the link's bytes. A CSV starts with the header; a file
// without it is a capture when it holds at least one valid frame, otherwise
// it is refused, naming the line at fault.
class ReplayFile
{
public:
    enum class Kind { Csv, Capture };

    // One CSV row as the board sent it (the display's remapping undone), and
    // how long after the row before it the host read it. The first row's gap
    // is the recording's mean gap, the pause before it starts again.
    struct Row
    {
        UART_RCV record;
        quint32 gapMs;
    };

    ReplayFile() = default;
    ReplayFile(const ReplayFile&) = delete;
    ReplayFile& operator=(const ReplayFile&) = delete;

    // Reads the file. False when it cannot be read or is no recording; then
    // errorText() says why.
    bool load(const QString& path);
    // The same for a file's content already in memory, which must outlive
    // the capture it may hold.
    bool read(const char* data, qint64 size);

    // "FILE:LINE: what is wrong", or "FILE: what is wrong" for the file as a
    // whole. One line, safe to print.
    QString errorText() const;
    // The line at fault, counted from 1; 0 when the file as a whole is.
    qint64 errorLine() const { return faultLine; }

    Kind kind() const { return fileKind; }
    // Whether the rows carry host_time: all of them do, or none.
    bool isTimed() const { return timed; }
    const std::vector<Row>& rows() const { return csvRows; }
    const char* captureData() const { return capture; }
    qint64 captureSize() const { return captureBytes; }

private:
    bool readCsv(const char* data, const char* end);
    bool readRow(const char* begin, const char* end, qint64& previousMs);
    bool holdsFrame(const char* data, qint64 size) const;
    bool fail(qint64 line, const QString& what);

    QString path;
    QFile file;
    QByteArray content; // the file held in memory: a pipe's, or a capture to send
    Kind fileKind = Kind::Csv;
    bool timed = false;
    std::vector<Row> csvRows;
    const char* capture = nullptr;
    qint64 captureBytes = 0;
    qint64 lineNumber = 0; // of the row being read
    qint64 faultLine = 0;
    QString fault;
};

#endif // REPLAYFILE_H
