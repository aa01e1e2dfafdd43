// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef MARKER_H
#define MARKER_H

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class ChartGroup;
class History;
class Recorder;
class Recording;
class QWidget;

// Marks in the live window: M (unless a text field has the focus) or
// "Mark with a note…" in a chart's context menu marks the newest record.
// Marks are numbered from 1 in each run, said in the console ("Mark 3",
// "Mark 3: nose up"), drawn on the six charts, and, while recording,
// written beside the recording with the marked row's host_time and index.
class Marker : public QObject
{
    Q_OBJECT

public:
    static constexpr Qt::Key MarkKey = Qt::Key_M;

    // window takes the key and parents the note's dialog; the charts, the
    // history they show and the recorder outlive the marker.
    Marker(QWidget* window, ChartGroup* charts, const History* history, Recorder* recorder);

    // Marks the newest record now, with note (empty: none); false when
    // there is no record yet.
    bool mark(const QString& note = QString());
    int marksMade() const { return made; }

    // A note as it reads on one line: the console, a chart's label.
    static QString oneLine(const QString& note);
    // A mark's label on the charts: its number, and its note if any.
    static QString label(int number, const QString& note);
    // Single keys are the text field's while one has the focus; the
    // read-only console and counters take none.
    static bool textFieldHasFocus();

signals:
    void said(const QString& line);

private:
    // The record a mark is made on, taken when it is asked for: a note is
    // typed for a while, and the moment is the one the user chose.
    struct Target
    {
        bool valid = false;
        double seconds = 0.0; // on the charts' time axes
        QPointer<Recording> recording;
        QByteArray hostTime;
        int index = -1;
    };
    Target newest() const;
    void markAt(const Target& target, const QString& note);
    void markWithNote();

    QWidget* window;
    ChartGroup* charts;
    const History* history;
    Recorder* recorder;
    int made = 0;
};

#endif // MARKER_H
