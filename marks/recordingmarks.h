// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RECORDINGMARKS_H
#define RECORDINGMARKS_H

#include "marksfile.h"

#include <QString>
#include <QVector>

class History;

// A mark of a recording opened in the viewer, on its record.
struct RecordingMark
{
    int number = 0;
    QString note;
    qint64 msSinceEpoch = 0; // its host_time
    qint64 record = 0;       // the record it marks, or the last at or before its time
    bool matched = false;    // a row has its host_time and index
};

// The marks file beside a recording, read as the recording is: each mark is
// matched to the row with its host_time and frame index while the rows go
// by. A mark that matches no row (a file edited, rows lost to a full disk)
// is placed by its time, at the last record at or before it, and said in
// note(). A marks file that cannot be read or is no marks file leaves no
// marks, and note() says why; no marks file says nothing.
class RecordingMarks
{
public:
    void readBeside(const QString& recordingPath);
    // Whether rows are to be handed to row(): there are marks to match.
    bool wantsRows() const { return !byTime.isEmpty(); }
    // Each row of the recording in its order, with its host_time.
    void row(qint64 record, qint64 msSinceEpoch, int index);
    // After the last row: the marks placed on history's records, in their
    // records' order.
    void place(const History& history, bool timed);

    const QVector<RecordingMark>& marks() const { return placed; }
    // One line for the viewer's notes, or empty.
    QString note() const { return noteText; }

private:
    QString path;
    QVector<MarksFile::Entry> entries;
    QVector<qint64> records; // per entry, -1 until matched
    // The entries by time, and where the rows have got to in them: rows
    // come in time order but for a clock set back, so a row costs a
    // comparison or two, not a search.
    QVector<QPair<qint64, int>> byTime;
    int nextByTime = 0;
    QVector<RecordingMark> placed;
    QString noteText;
};

#endif // RECORDINGMARKS_H
