// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PLOTTER_H
#define PLOTTER_H

#include <QWidget>

#include <functional>

class QCustomPlot;
class QCPGraph;
class QCPTextElement;
class QTimer;

// A strip chart: one value against elapsed time, showing the newest 8 seconds
// and redrawing itself every 40 ms however often values arrive.
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

    // Redraws on tick's timeouts instead of on a timer of its own. Charts
    // that share a tick redraw in one turn of the event loop, and so reach
    // the screen in one flush of their window instead of one each.
    void followTick(QTimer* tick);

    // A chart nobody can see (its window hidden or minimized) keeps its
    // points but does not redraw; seen again, it redraws at once, so the
    // first picture shown is current.
    void setExposed(bool exposed);

    // Milliseconds since the shared time origin, as the keys of new points
    // use them. By default a monotonic clock started at the first point; a
    // replay of a long recording (the long-run benchmark) installs its own
    // time base instead. An empty function restores the default.
    using ElapsedSource = std::function<qint64()>;
    static void setElapsedSource(ElapsedSource source);

private slots:
    void realtimeDataSlot();

private:
    void dropPointsLeftOfWindow();
    void updateValueRange(double value);

    QCustomPlot* plot = nullptr;
    QCPGraph* graph = nullptr;
    QCPTextElement* title = nullptr;
    QTimer* redrawTimer = nullptr;
    double lastKey = 0.0;
    bool exposed = true;
    // Something changed since the last redraw (points, title, labels).
    bool replotNeeded = true;

    // The value axis spans every value of the run, also those whose points
    // have already been dropped, so the extremes are kept here.
    bool hasValues = false;
    double minValue = 0.0;
    double maxValue = 0.0;
};

#endif // PLOTTER_H
