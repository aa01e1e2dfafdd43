// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PLOTTER_H
#define PLOTTER_H

#include <QWidget>

#include <functional>

class QCustomPlot;
class QCPGraph;
class QCPTextElement;
class QTimer;

// A strip chart: one value against the local clock time, showing the newest
// 8 seconds and redrawing itself every 40 ms however often values arrive.
// Keys are seconds since the epoch, so the time axis reads like the
// console's clock. A chart that stops following (a window looking back)
// holds its axes and hides its live line; whoever looks back draws instead.
class Plotter : public QWidget
{
    Q_OBJECT

public:
    static constexpr double WindowSeconds = 8.0;
    static constexpr int RedrawPeriodMs = 40;

    explicit Plotter(QWidget* parent = nullptr);

    void setTittle(const QString& text);
    void setLabels(const QString& keyLabel, const QString& valueLabel);
    void addPoint(double value);
    // The same at a given time: the window gives every chart the time its
    // history stored the record at, so that both agree to the millisecond.
    void addPoint(double value, qint64 msSinceEpoch);

    // Redraws on tick's timeouts instead of on a timer of its own. Charts
    // that share a tick redraw in one turn of the event loop, and so reach
    // the screen in one flush of their window instead of one each.
    void followTick(QTimer* tick);

    // A chart nobody can see (its window hidden or minimized) keeps its
    // points but does not redraw; seen again, it redraws at once, so the
    // first picture shown is current.
    void setExposed(bool exposed);

    // While following (the default), the time axis ends at the newest point
    // on every tick and the value axis spans every value of the run. Not
    // following, both axes stay as whoever looks back sets them and the
    // live line is hidden; its points still come in, and following again
    // shows the newest 8 seconds at the next tick.
    void setFollowing(bool following);
    bool isFollowing() const { return following; }
    // Redraws at the next tick, for changes made to the plot from outside.
    void requestRedraw() { replotNeeded = true; }
    QCustomPlot* customPlot() const { return plot; }
    double newestKey() const { return lastKey; }

    // The clock of the charts and the window, in milliseconds since the
    // epoch: the system clock, unless a replay of a long recording (the
    // long-run benchmark) or a test installs its own time base. An empty
    // function restores the system clock.
    using ClockSource = std::function<qint64()>;
    static void setClockSource(ClockSource source);
    static qint64 now();

protected:
    // The plot fills the chart, never smaller than its minimum size: in the
    // monitor's form the two are the same, and a chart in a layout (the
    // viewer's) grows with its window.
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void realtimeDataSlot();

private:
    void dropPointsLeftOfWindow();
    void updateValueRange(double value);

    QCustomPlot* plot = nullptr;
    QCPGraph* graph = nullptr;
    QCPTextElement* title = nullptr;
    QTimer* redrawTimer = nullptr;
    // Until the first point, the time the chart was made.
    double lastKey = 0.0;
    bool exposed = true;
    bool following = true;
    // Something changed since the last redraw (points, title, labels).
    bool replotNeeded = true;

    // The value axis spans every value of the run, also those whose points
    // have already been dropped, so the extremes are kept here.
    bool hasValues = false;
    double minValue = 0.0;
    double maxValue = 0.0;
};

#endif // PLOTTER_H
