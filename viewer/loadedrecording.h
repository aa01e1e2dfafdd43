// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef LOADEDRECORDING_H
#define LOADEDRECORDING_H

#include "parser.h"
#include "recordingmarks.h"

#include <QString>

#include <memory>
#include <utility>
#include <vector>

class History;

// A recording read whole into a History for the viewer, with what its rows
// say beyond their values. Read with the replay's reader, so a file the
// viewer refuses is refused by imu-sim --replay in the same words.
class LoadedRecording
{
public:
    // The link's full rate: 115200 baud, ten bit times a byte, 19-byte frames.
    static constexpr double FramePeriodMs = 1000.0 * 10 * 19 / 115200;

    // Null on a file that is no recording (a raw capture included: it is
    // decoded first); error is then the reader's one line, FILE:LINE: what.
    static std::unique_ptr<LoadedRecording> load(const QString& path, QString& error);
    ~LoadedRecording();

    QString path() const { return filePath; }
    const History& history() const { return *records; }
    // Breaks in the frame index from one row to the next, counted as the
    // live window counts them.
    quint32 indexMisses() const { return misses; }
    // The history's times of those rows, in order.
    const std::vector<qint64>& indexBreakTimes() const { return breakTimes; }
    // Rows without host_time (a capture decoded later) are placed one frame
    // period apart, from midnight local time, so the time axis reads the
    // time since the first row.
    bool isTimed() const { return timed; }
    // The reader's line when the last row was cut off and left out, else empty.
    QString cutOffText() const { return cutOff; }
    // The marks of NAME.marks.csv beside NAME.csv, in their records' order;
    // marksNote() is the one line to say about them, or empty.
    const QVector<RecordingMark>& marks() const { return recordingMarks.marks(); }
    QString marksNote() const { return recordingMarks.note(); }

    // Record i as its row has it: the displayed values with the frame index,
    // and the row's host_time. The history's time is later than host_time
    // after the host's clock was set back (see History); a file without
    // host_time gives the time the row was placed at.
    UART_RCV recordAt(qint64 i) const;
    qint64 hostTimeAt(qint64 i) const;

private:
    LoadedRecording();

    QString filePath;
    std::unique_ptr<History> records;
    // The history keeps the six values; the index, a byte a record, is kept
    // here, and the history's shift of times from the record on where it
    // changed (rarely, if ever).
    std::vector<quint8> indices;
    std::vector<std::pair<qint64, qint64>> shiftFrom;
    quint32 misses = 0;
    std::vector<qint64> breakTimes;
    bool timed = true;
    QString cutOff;
    RecordingMarks recordingMarks;
};

#endif // LOADEDRECORDING_H
