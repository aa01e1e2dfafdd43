// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef CHARTGROUP_H
#define CHARTGROUP_H

#include <QList>
#include <QObject>
#include <QVector>

class ChartMarks;
class History;
class Plotter;
class QCPGraph;
class QCPItemLine;
class QCPItemText;
class QCPItemTracer;
class QCPTextElement;
class QCustomPlot;
class QMenu;
class QMouseEvent;
class QWheelEvent;

// Six charts looked at together over one History, as the monitor's window
// and a viewer of a recording both show them.
//
// The time axes of all six move as one: the wheel over a chart zooms about
// the pointer, dragging with the left button pans, a double-click shows the
// whole history; value axes are never zoomed or panned. Hovering over a
// chart draws a line at the nearest record's instant on all six, each
// reading out that record's time and value. The title row of each chart
// gives the minimum, maximum, mean and standard deviation of what is in
// view.
//
// Looking back, a chart's graph gets at most two points per pixel column,
// the column's minimum and maximum, so an hour draws as fast as 8 seconds
// and a single-sample spike still shows; the reduced view is made again only
// when the view, the chart's width or the history changed. Each value axis
// fits the data in view.
//
// Live: the charts follow the newest 8 seconds on their own (Plotter), and
// the statistics follow what they show. A group starts looking back at the
// whole history, as a viewer wants it (a viewer that fills its history after
// making the group calls showAll() then); a live window turns live on with
// setLive(true), feeds its history and gives each chart the history's time
// of the record (Plotter::addPoint(value, History::lastTime())). Zooming,
// panning or a double-click then stops following and says so through
// liveChanged(false).
class ChartGroup : public QObject
{
    Q_OBJECT

public:
    static constexpr double ZoomPerWheelStep = 0.85;
    static constexpr double ShortestViewSeconds = 0.05;
    // Small enough for the statistics to fit beside the title.
    static constexpr double StatisticsPointSize = 7.5;

    // charts: one per channel of the history, in its order; they and the
    // history outlive the group.
    ChartGroup(const QList<Plotter*>& charts, const History* history, QObject* parent = nullptr);

    bool isLive() const { return live; }
    void setLive(bool live);

    // Time axes, in seconds since the epoch. Setting them stops following.
    void setView(double lowerSeconds, double upperSeconds);
    void showAll();
    // After records were added while looking back, e.g. a viewer that has
    // read its file: the next redraw takes them in.
    void refresh();

    // The hover read-out at the record nearest to this time (seconds since
    // the epoch), or none.
    void showReadout(double seconds);
    void hideReadout();
    // The record read out, -1 when none.
    qint64 readoutRecord() const { return readout; }
    // The read-out at this very record (a play head's: the record at or
    // before it, not the nearest), or none for -1.
    void showReadoutOf(qint64 record);

    // A play head at this time (seconds since the epoch): a line across all
    // six in a colour of its own. When it leaves the view, the view pages
    // along to it, as wide as it was.
    void setPlayHead(double seconds);
    void clearPlayHead();
    static constexpr double PlayHeadMargin = 0.05; // of the view's width, before a paged-to head

    // The chart of this channel.
    Plotter* chart(int channel) const;

    // A mark: a labelled line across all six charts at this time (seconds
    // since the epoch), live and looking back. Live, marks older than the
    // history's oldest record leave the charts as the next one is added.
    void addMark(double seconds, const QString& label);
    void clearMarks();
    int markCount() const;

signals:
    void liveChanged(bool live);
    // A chart's context menu is about to open, at the time under the
    // pointer (seconds since the epoch): whoever offers something there
    // adds its actions to menu. A menu left empty is not shown.
    void contextMenuRequested(QMenu* menu, int channel, double seconds);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Chart
    {
        Plotter* chart = nullptr;
        QCustomPlot* plot = nullptr;
        QCPTextElement* title = nullptr;
        QCPGraph* reduced = nullptr;
        QCPItemLine* cursor = nullptr;
        QCPItemTracer* cursorDot = nullptr;
        QCPItemText* cursorText = nullptr;
        QCPItemText* extremesText = nullptr;
        QCPItemText* spreadText = nullptr;
        // What the reduced graph and the statistics were made for.
        struct Made
        {
            double lower = 0.0;
            double upper = 0.0;
            int columns = -1;
            qint64 records = -1;
            qint64 oldest = 0;
            qint64 newest = 0;
            bool before = false;
            bool after = false;
            bool live = false;
            bool operator==(const Made& o) const
            {
                return lower == o.lower && upper == o.upper && columns == o.columns && records == o.records
                    && oldest == o.oldest && newest == o.newest && before == o.before && after == o.after
                    && live == o.live;
            }
        } made;
    };

    void setUpChart(int channel, Plotter* chart);
    void update(int channel);
    void fillReduced(Chart& c, int channel, int columns);
    void placeTexts(Chart& c);
    void redrawAll();
    // The read-out and the play head only, when they have a layer of their own.
    void redrawMarkers();

    void pressed(int channel, QMouseEvent* event);
    void moved(int channel, QMouseEvent* event);
    void wheeled(int channel, QWheelEvent* event);
    void doubleClicked(QMouseEvent* event);
    void showContextMenu(int channel, const QPoint& pos);

    const History* history;
    QVector<Chart> charts;
    // One a chart, made on the first play head.
    QVector<QCPItemLine*> playHeadLines;
    ChartMarks* marks = nullptr;
    bool live = false;
    qint64 readout = -1;

    // A left-button drag: where it started, and the view then.
    bool dragging = false;
    bool dragMoved = false;
    int dragStartX = 0;
    double dragLower = 0.0;
    double dragUpper = 0.0;
};

#endif // CHARTGROUP_H
