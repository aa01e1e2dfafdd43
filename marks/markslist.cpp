// SPDX-License-Identifier: GPL-3.0-or-later
#include "markslist.h"

#include "chartgroup.h"
#include "consoleclock.h"
#include "history.h"
#include "marker.h"

#include <QComboBox>
#include <QShortcut>

MarksList::MarksList(const QVector<RecordingMark>& marks, const History& history, ChartGroup* charts,
                     QComboBox* box, QWidget* window, CurrentRecord current, Seek seek)
    : QObject(window)
    , marks(marks)
    , box(box)
    , current(std::move(current))
    , seek(std::move(seek))
{
    for (const RecordingMark& mark : marks) {
        box->addItem(itemText(mark));
        // On its record's time, as the charts have it; one placed by its
        // time where that time is.
        const qint64 ms = mark.matched ? history.timeAt(mark.record) : mark.msSinceEpoch;
        charts->addMark(ms / 1000.0, Marker::label(mark.number, mark.note));
    }
    box->setEnabled(!marks.isEmpty());
    connect(box, QOverload<int>::of(&QComboBox::activated), this, &MarksList::go);
    connect(new QShortcut(PreviousKey, window), &QShortcut::activated, this, [this] {
        if (!Marker::textFieldHasFocus())
            go(previous());
    });
    connect(new QShortcut(NextKey, window), &QShortcut::activated, this, [this] {
        if (!Marker::textFieldHasFocus())
            go(next());
    });
}

QString MarksList::itemText(const RecordingMark& mark)
{
    QString text = QStringLiteral("%1  %2").arg(mark.number).arg(ConsoleClock().at(mark.msSinceEpoch));
    const QString note = Marker::oneLine(mark.note);
    if (!note.isEmpty())
        text += QStringLiteral("  ") + note;
    return text;
}

int MarksList::previous() const
{
    const qint64 at = current();
    // Marks on one record are stepped through one by one from the one chosen.
    const int chosen = box->currentIndex();
    if (chosen >= 0 && marks.at(chosen).record == at)
        return chosen - 1;
    for (int i = marks.size() - 1; i >= 0; --i)
        if (at >= 0 && marks.at(i).record < at)
            return i;
    return -1;
}

int MarksList::next() const
{
    const qint64 at = current();
    const int chosen = box->currentIndex();
    if (chosen >= 0 && marks.at(chosen).record == at)
        return chosen + 1 < marks.size() ? chosen + 1 : -1;
    for (int i = 0; i < marks.size(); ++i)
        if (marks.at(i).record > at)
            return i;
    return -1;
}

void MarksList::go(int mark)
{
    if (mark < 0 || mark >= marks.size())
        return;
    box->setCurrentIndex(mark);
    seek(marks.at(mark).record);
}
