// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordingmarks.h"

#include "history.h"

#include <QFileInfo>

#include <algorithm>

void RecordingMarks::readBeside(const QString& recordingPath)
{
    path = MarksFile::pathFor(recordingPath);
    if (!QFileInfo::exists(path))
        return;
    if (!MarksFile::read(path, entries, noteText)) {
        noteText += QStringLiteral("; the recording is shown without marks");
        return;
    }
    records.fill(-1, entries.size());
    for (int i = 0; i < entries.size(); ++i)
        byTime.append({entries.at(i).msSinceEpoch, i});
    std::sort(byTime.begin(), byTime.end());
}

void RecordingMarks::row(qint64 record, qint64 msSinceEpoch, int index)
{
    const QPair<qint64, int> first(msSinceEpoch, -1);
    if (nextByTime > 0 && byTime.at(nextByTime - 1).first >= msSinceEpoch)
        nextByTime = int(std::lower_bound(byTime.cbegin(), byTime.cend(), first) - byTime.cbegin());
    while (nextByTime < byTime.size() && byTime.at(nextByTime).first < msSinceEpoch)
        ++nextByTime;
    // Not stepped past: the next row may have the same time.
    for (int i = nextByTime; i < byTime.size() && byTime.at(i).first == msSinceEpoch; ++i) {
        const int entry = byTime.at(i).second;
        if (records.at(entry) < 0 && entries.at(entry).index == index)
            records[entry] = record;
    }
}

void RecordingMarks::place(const History& history, bool timed)
{
    if (entries.isEmpty())
        return;
    if (!timed || history.isEmpty()) {
        noteText = QStringLiteral("%1: the recording has no host_time to place its marks by; shown without marks")
                       .arg(path);
        return;
    }
    QVector<int> unmatched;
    for (int i = 0; i < entries.size(); ++i) {
        const MarksFile::Entry& entry = entries.at(i);
        RecordingMark mark;
        mark.number = entry.number;
        mark.note = entry.note;
        mark.msSinceEpoch = entry.msSinceEpoch;
        mark.matched = records.at(i) >= 0;
        mark.record = mark.matched ? records.at(i) : qMax<qint64>(0, history.upperBound(entry.msSinceEpoch) - 1);
        if (!mark.matched)
            unmatched.append(i);
        placed.append(mark);
    }
    std::stable_sort(placed.begin(), placed.end(),
                     [](const RecordingMark& a, const RecordingMark& b) { return a.record < b.record; });
    if (unmatched.isEmpty())
        return;
    const MarksFile::Entry& first = entries.at(unmatched.first());
    noteText = QStringLiteral("%1:%2: mark %3 matches no row of the recording (host_time %4, index %5); placed by "
                              "its time")
                   .arg(path)
                   .arg(first.line)
                   .arg(first.number)
                   .arg(QString::fromLatin1(first.hostTime))
                   .arg(first.index);
    if (unmatched.size() > 1)
        noteText += QStringLiteral(", and so are %1 more marks").arg(unmatched.size() - 1);
}
