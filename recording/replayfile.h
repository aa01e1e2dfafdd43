// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef REPLAYFILE_H
#define REPLAYFILE_H

#include "parser.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <functional>
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

    // Takes each row as it is read, as displayed (the remapping not undone),
    // with its host_time in ms since 1970 UTC (0 without host_time), instead
    // of the rows being kept: for a reader that keeps them in a form of its
    // own. Rows of a file refused part-way have been handed out already.
    using RowSink = std::function<void(const UART_RCV& shown, qint64 msSinceEpoch)>;

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

    // Set when the file was accepted without its last row, cut off by a
    // crash while it was written: "FILE:LINE: the last row is cut off ...;
    // N whole rows used", one line for standard error. Empty otherwise.
    QString cutOffText() const { return cutOff; }

    // Before load() or read(): rows go to sink instead of rows().
    void setRowSink(RowSink sink) { rowSink = std::move(sink); }
    // Rows read, kept or handed to the sink.
    qint64 rowCount() const { return rowsRead; }

    Kind kind() const { return fileKind; }
    // Whether the rows carry host_time: all of them do, or none.
    bool isTimed() const { return timed; }
    const std::vector<Row>& rows() const { return csvRows; }
    const char* captureData() const { return capture; }
    qint64 captureSize() const { return captureBytes; }

private:
    // A recording read piece by piece into the sink; csv false when the
    // file does not start with the header, and nothing was read.
    bool readInPieces(bool& csv);
    void startRows();
    bool readCsv(const char* data, const char* end);
    // Reads the rows in [data, end), counting lines on from lineNumber.
    bool readRows(const char* data, const char* end, qint64& previousMs, bool& cutOffFound);
    bool readRow(const char* begin, const char* end, qint64& previousMs);
    bool acceptCutOff(qint64 line);
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
    // The last fault is one a row cut short gives: too few fields, or the
    // last field wrong.
    bool faultCutsShort = false;
    QString cutOff;
    RowSink rowSink;
    qint64 rowsRead = 0;
};

#endif // REPLAYFILE_H
