// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef MARKSFILE_H
#define MARKSFILE_H

#include <QByteArray>
#include <QString>
#include <QVector>

// The marks of a recording, kept beside it: for NAME.csv the file
// NAME.marks.csv, a header and one row per mark, each naming the marked
// record by its host_time and frame index exactly as the recording's row has
// them. Notes are CSV fields as spreadsheets write them: one with a comma,
// a double quote or a line break is enclosed in double quotes, its quotes
// doubled.
namespace MarksFile {

// The first line of every marks file, with its line end.
extern const char Header[];
constexpr int FieldCount = 4;
// Larger is no file of marks; reading it whole would only cost memory.
constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;

// NAME.marks.csv beside NAME.csv (a name not ending in .csv keeps it whole).
QString pathFor(const QString& recordingPath);

// A field as CSV writes it: as it is, or quoted when it has to be.
QByteArray field(const QByteArray& text);
// Appends the row of mark number `number` on the record of hostTime and
// index, with its note (empty: none).
void appendRow(QByteArray& out, const QByteArray& hostTime, int index, int number, const QString& note);

// One row read back.
struct Entry
{
    QByteArray hostTime;
    qint64 msSinceEpoch = 0; // the instant host_time names
    int index = 0;           // the frame index, 0 to 255
    int number = 0;
    QString note;
    qint64 line = 0; // where its row starts, counted from 1
};

// Reads the marks file at path into entries. False, with error set to one
// line "FILE:LINE: what" (or "FILE: what"), when it is unreadable or not a
// marks file; entries are then empty.
bool read(const QString& path, QVector<Entry>& entries, QString& error);
// The same for text already read, named path in the error.
bool parse(const QByteArray& text, const QString& path, QVector<Entry>& entries, QString& error);

// host_time as a recording writes it, 2026-12-08T14:02:11.377+01:00 or with
// Z for UTC: the instant in ms since the epoch, or false.
bool parseHostTime(const QByteArray& text, qint64& msSinceEpoch);

} // namespace MarksFile

#endif // MARKSFILE_H
