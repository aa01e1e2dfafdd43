// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef CHARTMARKS_H
#define CHARTMARKS_H

#include <QList>
#include <QObject>
#include <QString>
#include <QVector>

class QCPItemLine;
class QCPItemText;
class QCustomPlot;

// Marks drawn on a group of charts: at each mark's time a dashed vertical
// line across every chart, labelled small at its top. Lines and labels sit
// at plot coordinates, so they move with every zoom, pan and live scroll;
// those out of view are hidden before each redraw, so a long list of marks
// costs a redraw little.
class ChartMarks : public QObject
{
    Q_OBJECT

public:
    static constexpr double LabelPointSize = 7.5;

    ChartMarks(const QList<QCustomPlot*>& plots, QObject* parent = nullptr);

    // seconds since the epoch, as the charts' time axes.
    void add(double seconds, const QString& label);
    void clear();
    // Marks before this time leave the charts.
    void dropBefore(double seconds);
    int count() const { return marks.size(); }

private:
    struct Mark
    {
        double seconds = 0.0;
        QVector<QCPItemLine*> lines; // one per chart
        QVector<QCPItemText*> labels;
    };

    void showInView(int chart);
    void remove(const Mark& mark);

    QList<QCustomPlot*> plots;
    QVector<Mark> marks;
};

#endif // CHARTMARKS_H
