// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef MARKSLIST_H
#define MARKSLIST_H

#include "recordingmarks.h"

#include <QObject>
#include <QVector>

#include <functional>

class ChartGroup;
class History;
class QComboBox;
class QWidget;

// A recording's marks in the viewer: drawn on its charts and listed in a
// combo box, "3  14:02:11.377  nose up" (number, time of day on the
// console's clock, note). Choosing one, or [ and ] for the previous and the
// next from the current record, moves to the mark's record.
class MarksList : public QObject
{
    Q_OBJECT

public:
    using CurrentRecord = std::function<qint64()>; // -1 when none
    using Seek = std::function<void(qint64 record)>;

    static constexpr Qt::Key PreviousKey = Qt::Key_BracketLeft;
    static constexpr Qt::Key NextKey = Qt::Key_BracketRight;

    // window takes the keys; everything given outlives the list.
    MarksList(const QVector<RecordingMark>& marks, const History& history, ChartGroup* charts, QComboBox* box,
              QWidget* window, CurrentRecord current, Seek seek);

    static QString itemText(const RecordingMark& mark);

    // The mark before or after the current record, -1 if none.
    int previous() const;
    int next() const;

private:
    void go(int mark);

    QVector<RecordingMark> marks;
    QComboBox* box;
    CurrentRecord current;
    Seek seek;
};

#endif // MARKSLIST_H
