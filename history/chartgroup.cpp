// SPDX-License-Identifier: GPL-3.0-or-later
#include "chartgroup.h"

#include "chartmarks.h"
#include "history.h"
#include "plotter.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>
#include <qcustomplot.h>

#include <cmath>
#include <utility>

namespace {

// Decimals a record carries in display units; means and deviations get one
// more, being averages.
int decimalsOf(int channel)
{
    return channel < 3 ? 2 : 0;
}

QString number(double value, int decimals)
{
    // A mean of -0.004 reads 0.0, not -0.0.
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(value * scale) / scale;
    return QString::number(rounded == 0.0 ? 0.0 : rounded, 'f', decimals);
}

QString timeOfDay(qint64 msSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch).toString(QStringLiteral("hh:mm:ss.zzz"));
}

QCPItemText* makeText(QCustomPlot* plot, const QFont& font)
{
    auto* text = new QCPItemText(plot);
    text->setFont(font);
    text->setClipToAxisRect(false);
    text->position->setType(QCPItemPosition::ptAbsolute);
    text->setPadding(QMargins(3, 1, 3, 1));
    return text;
}

} // namespace

ChartGroup::ChartGroup(const QList<Plotter*>& plotters, const History* history, QObject* parent)
    : QObject(parent)
    , history(history)
{
    charts.resize(plotters.size());
    for (int channel = 0; channel < plotters.size(); ++channel)
        setUpChart(channel, plotters.at(channel));
    for (Chart& c : charts)
        c.chart->setFollowing(false);
    QList<QCustomPlot*> plots;
    for (const Chart& c : qAsConst(charts))
        plots.append(c.plot);
    marks = new ChartMarks(plots, this);
    showAll();
}

void ChartGroup::setUpChart(int channel, Plotter* chart)
{
    Chart& c = charts[channel];
    c.chart = chart;
    c.plot = chart->customPlot();
    c.title = qobject_cast<QCPTextElement*>(c.plot->plotLayout()->element(0, 0));
    QCustomPlot* plot = c.plot;

    // Looking back draws this graph; the chart's own is its live line.
    c.reduced = plot->addGraph();
    c.reduced->setPen(plot->graph(0)->pen());
    c.reduced->setAdaptiveSampling(false);

    c.cursor = new QCPItemLine(plot);
    c.cursor->setPen(QPen(QColor(200, 30, 30), 1));
    for (QCPItemPosition* end : {c.cursor->start, c.cursor->end}) {
        end->setTypeX(QCPItemPosition::ptPlotCoords);
        end->setTypeY(QCPItemPosition::ptAxisRectRatio);
    }
    c.cursor->start->setCoords(0, 0);
    c.cursor->end->setCoords(0, 1);
    c.cursor->setVisible(false);

    c.cursorText = makeText(plot, plot->xAxis->tickLabelFont());
    c.cursorText->setClipToAxisRect(true);
    c.cursorText->position->setType(QCPItemPosition::ptPlotCoords);
    c.cursorText->setBrush(QColor(255, 255, 255, 220));
    c.cursorText->setColor(c.cursor->pen().color());
    c.cursorText->setVisible(false);

    // Made after the text, so drawn over its box.
    c.cursorDot = new QCPItemTracer(plot);
    c.cursorDot->setStyle(QCPItemTracer::tsCircle);
    c.cursorDot->setPen(c.cursor->pen());
    c.cursorDot->setBrush(Qt::white);
    c.cursorDot->setVisible(false);

    QFont small = plot->xAxis->tickLabelFont();
    small.setPointSizeF(StatisticsPointSize);
    c.extremesText = makeText(plot, small);
    c.extremesText->setPositionAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    c.spreadText = makeText(plot, small);
    c.spreadText->setPositionAlignment(Qt::AlignRight | Qt::AlignVCenter);

    plot->setMouseTracking(true);
    plot->installEventFilter(this);
    connect(plot, &QCustomPlot::beforeReplot, this, [this, channel] { update(channel); });
    connect(plot, &QCustomPlot::afterLayout, this, [this, channel] {
        Chart& c = charts[channel];
        placeTexts(c);
        // Drawn for another width: the next redraw makes it again.
        if (!c.made.live && c.made.columns != qMax(1, c.plot->axisRect()->width()))
            c.chart->requestRedraw();
    });
    connect(plot, &QCustomPlot::mousePress, this, [this, channel](QMouseEvent* e) { pressed(channel, e); });
    connect(plot, &QCustomPlot::mouseMove, this, [this, channel](QMouseEvent* e) { moved(channel, e); });
    connect(plot, &QCustomPlot::mouseRelease, this, [this] { dragging = false; });
    connect(plot, &QCustomPlot::mouseWheel, this, [this, channel](QWheelEvent* e) { wheeled(channel, e); });
    connect(plot, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent* e) { doubleClicked(e); });
}

void ChartGroup::setLive(bool live)
{
    if (this->live == live)
        return;
    this->live = live;
    for (Chart& c : charts) {
        c.chart->setFollowing(live);
        c.reduced->setVisible(!live);
        if (live)
            c.reduced->data()->clear();
        c.made = Chart::Made();
        c.chart->requestRedraw();
    }
    emit liveChanged(live);
}

void ChartGroup::setView(double lowerSeconds, double upperSeconds)
{
    setLive(false);
    const double span = history->isEmpty() ? 0.0 : (history->lastTime() - history->firstTime()) / 1000.0;
    const double longest = 2.0 * qMax(span, Plotter::WindowSeconds);
    double size = qBound(ShortestViewSeconds, upperSeconds - lowerSeconds, longest);
    const double centre = (lowerSeconds + upperSeconds) / 2.0;
    for (Chart& c : charts) {
        c.plot->xAxis->setRange(centre - size / 2.0, centre + size / 2.0);
        c.chart->requestRedraw();
    }
}

void ChartGroup::showAll()
{
    if (history->isEmpty())
        return;
    double lower = history->firstTime() / 1000.0;
    double upper = history->lastTime() / 1000.0;
    // A lone record, or a burst within a millisecond: a short view about it.
    if (upper - lower < ShortestViewSeconds) {
        lower -= ShortestViewSeconds / 2.0;
        upper += ShortestViewSeconds / 2.0;
    }
    setView(lower, upper);
}

void ChartGroup::refresh()
{
    for (Chart& c : charts) {
        c.made = Chart::Made();
        c.chart->requestRedraw();
    }
}

void ChartGroup::redrawAll()
{
    for (Chart& c : charts)
        c.chart->requestRedraw();
}

void ChartGroup::update(int channel)
{
    Chart& c = charts[channel];
    const QCPRange range = c.plot->xAxis->range();
    const int columns = qMax(1, c.plot->axisRect()->width());
    // Records arriving or leaving outside the view change nothing in it:
    // what is in view is known by its ends, and whether the line runs on
    // beyond them.
    const qint64 first = history->lowerBound(range.lower * 1000.0);
    const qint64 end = history->upperBound(range.upper * 1000.0);
    const Chart::Made made {range.lower,
                           range.upper,
                           columns,
                           end - first,
                           first < end ? history->timeAt(first) : 0,
                           first < end ? history->timeAt(end - 1) : 0,
                           first > 0,
                           end < history->size(),
                           live};
    if (made == c.made)
        return;
    c.made = made;

    const History::Statistics stats = history->statistics(channel, range.lower * 1000.0, range.upper * 1000.0);
    const int decimals = decimalsOf(channel);
    if (stats.count == 0) {
        c.extremesText->setText(QString());
        c.spreadText->setText(QString());
    } else {
        c.extremesText->setText(QString("min %1 max %2").arg(number(stats.min, decimals), number(stats.max, decimals)));
        c.spreadText->setText(QString("mean %1 sd %2")
                                  .arg(number(stats.mean, decimals + 1), number(stats.standardDeviation, decimals + 1)));
    }
    if (live)
        return;

    fillReduced(c, channel, columns);
    // The value axis fits what is in view, by the live rule: exactly the
    // span of the values, and about them when they are all equal.
    if (stats.count > 0) {
        QCPRange values(stats.min, stats.max);
        if (!QCPRange::validRange(values)) {
            const double half = c.plot->yAxis->range().size() / 2.0;
            values = QCPRange(stats.min - half, stats.min + half);
        }
        c.plot->yAxis->setRange(values);
    }
}

void ChartGroup::fillReduced(Chart& c, int channel, int columns)
{
    const double from = c.made.lower * 1000.0;
    const double to = c.made.upper * 1000.0;
    // One record beyond each edge, so the line runs out of the view.
    const qint64 first = qMax<qint64>(0, history->lowerBound(from) - 1);
    const qint64 last = qMin(history->size(), history->upperBound(to) + 1);
    QVector<QCPGraphData> points;
    auto addRecord = [&](qint64 i) { points.append({history->timeAt(i) / 1000.0, history->valueAt(i, channel)}); };

    if (last - first <= 2 * qint64(columns)) {
        points.reserve(int(last - first));
        for (qint64 i = first; i < last; ++i)
            addRecord(i);
    } else {
        points.reserve(2 * columns + 2);
        if (first < history->lowerBound(from))
            addRecord(first);
        const QVector<History::Column> reduced = history->columns(channel, from, to, columns);
        const double width = (to - from) / columns / 1000.0;
        for (int k = 0; k < reduced.size(); ++k) {
            const History::Column& column = reduced.at(k);
            if (column.count == 1) {
                addRecord(column.first);
            } else if (column.count > 1) {
                // The end nearer the line so far first: a steady slope
                // stays a line instead of a zigzag.
                const double key = c.made.lower + width * (k + 0.5);
                const bool minFirst = points.isEmpty()
                    || qAbs(points.last().value - column.min) <= qAbs(points.last().value - column.max);
                points.append({key, minFirst ? column.min : column.max});
                points.append({key, minFirst ? column.max : column.min});
            }
        }
        if (last > history->upperBound(to))
            addRecord(last - 1);
    }
    c.reduced->data()->set(points, true);
}

void ChartGroup::placeTexts(Chart& c)
{
    if (!c.title)
        return;
    const QRect row = c.title->outerRect();
    c.extremesText->position->setCoords(row.left() + 2, row.center().y());
    c.spreadText->position->setCoords(row.right() - 2, row.center().y());
}

void ChartGroup::showReadout(double seconds)
{
    showReadoutOf(history->nearest(seconds * 1000.0));
}

void ChartGroup::showReadoutOf(qint64 i)
{
    if (i < 0 || i >= history->size()) {
        hideReadout();
        return;
    }
    readout = i;
    const double key = history->timeAt(i) / 1000.0;
    const QString time = timeOfDay(history->timeAt(i));
    for (int channel = 0; channel < charts.size(); ++channel) {
        Chart& c = charts[channel];
        c.cursor->start->setCoords(key, 0);
        c.cursor->end->setCoords(key, 1);
        c.cursor->setVisible(true);
        const double value = history->valueAt(i, channel);
        c.cursorDot->position->setCoords(key, value);
        c.cursorDot->setVisible(true);
        c.cursorText->setText(time + "  " + number(value, decimalsOf(channel)));
        // Beside the record, on the side with the room, clear of the dot.
        const QCPRange keys = c.plot->xAxis->range();
        const QCPRange values = c.plot->yAxis->range();
        const bool left = key > keys.lower + keys.size() * 0.6;
        const bool below = value > values.center();
        c.cursorText->setPositionAlignment((below ? Qt::AlignTop : Qt::AlignBottom)
                                           | (left ? Qt::AlignRight : Qt::AlignLeft));
        c.cursorText->setPadding(left ? QMargins(3, 1, 9, 1) : QMargins(9, 1, 3, 1));
        c.cursorText->position->setCoords(key, value);
        c.cursorText->setVisible(true);
    }
    redrawMarkers();
}

void ChartGroup::hideReadout()
{
    if (readout < 0)
        return;
    readout = -1;
    for (Chart& c : charts) {
        c.cursor->setVisible(false);
        c.cursorDot->setVisible(false);
        c.cursorText->setVisible(false);
    }
    redrawMarkers();
}

void ChartGroup::setPlayHead(double seconds)
{
    if (charts.isEmpty())
        return;
    if (playHeadLines.isEmpty()) {
        for (Chart& c : charts) {
            // The head and the read-out move on every redraw while playing:
            // on a layer of their own, drawn alone, the rest of the chart is
            // drawn only when the view changes.
            QCPLayer* overlay = c.plot->layer(QStringLiteral("overlay"));
            overlay->setMode(QCPLayer::lmBuffered);
            for (QCPLayerable* item : {static_cast<QCPLayerable*>(c.cursor), static_cast<QCPLayerable*>(c.cursorText),
                                       static_cast<QCPLayerable*>(c.cursorDot)})
                item->setLayer(overlay);
            auto* line = new QCPItemLine(c.plot);
            line->setLayer(overlay);
            line->setPen(QPen(QColor(0, 130, 60), 2));
            for (QCPItemPosition* end : {line->start, line->end}) {
                end->setTypeX(QCPItemPosition::ptPlotCoords);
                end->setTypeY(QCPItemPosition::ptAxisRectRatio);
            }
            playHeadLines.append(line);
        }
    }
    for (QCPItemLine* line : std::as_const(playHeadLines)) {
        line->start->setCoords(seconds, 0);
        line->end->setCoords(seconds, 1);
        line->setVisible(true);
    }
    const QCPRange view = charts.first().plot->xAxis->range();
    if (view.contains(seconds)) {
        redrawMarkers();
        return;
    }
    // Forward, the head starts the new page; back, it ends it.
    const double width = view.size();
    const double lower = seconds > view.upper ? seconds - width * PlayHeadMargin : seconds - width * (1.0 - PlayHeadMargin);
    setView(lower, lower + width);
}

void ChartGroup::clearPlayHead()
{
    for (QCPItemLine* line : std::as_const(playHeadLines))
        line->setVisible(false);
    redrawMarkers();
}

void ChartGroup::redrawMarkers()
{
    if (playHeadLines.isEmpty()) {
        redrawAll();
        return;
    }
    // A chart whose view moved is drawn whole at its next tick anyway.
    for (Chart& c : charts) {
        const QCPRange view = c.plot->xAxis->range();
        if (view.lower == c.made.lower && view.upper == c.made.upper)
            c.cursor->layer()->replot();
        else
            c.chart->requestRedraw();
    }
}

bool ChartGroup::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Leave && !dragging)
        hideReadout();
    if (event->type() == QEvent::ContextMenu) {
        for (int channel = 0; channel < charts.size(); ++channel) {
            if (charts[channel].plot == watched) {
                showContextMenu(channel, static_cast<QContextMenuEvent*>(event)->pos());
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

Plotter* ChartGroup::chart(int channel) const
{
    return charts.value(channel).chart;
}

void ChartGroup::addMark(double seconds, const QString& label)
{
    if (live && !history->isEmpty())
        marks->dropBefore(history->firstTime() / 1000.0);
    marks->add(seconds, label);
    redrawAll();
}

void ChartGroup::clearMarks()
{
    marks->clear();
    redrawAll();
}

int ChartGroup::markCount() const
{
    return marks->count();
}

void ChartGroup::showContextMenu(int channel, const QPoint& pos)
{
    QCustomPlot* plot = charts[channel].plot;
    QMenu menu(plot);
    emit contextMenuRequested(&menu, channel, plot->xAxis->pixelToCoord(pos.x()));
    if (!menu.isEmpty())
        menu.exec(plot->mapToGlobal(pos));
}

void ChartGroup::pressed(int channel, QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QCPRange range = charts[channel].plot->xAxis->range();
    dragging = true;
    dragMoved = false;
    dragStartX = event->pos().x();
    dragLower = range.lower;
    dragUpper = range.upper;
}

void ChartGroup::moved(int channel, QMouseEvent* event)
{
    QCustomPlot* plot = charts[channel].plot;
    if (dragging && (event->buttons() & Qt::LeftButton)) {
        const int dx = event->pos().x() - dragStartX;
        if (!dragMoved && qAbs(dx) < QApplication::startDragDistance())
            return;
        dragMoved = true;
        const double shift = -dx * (dragUpper - dragLower) / qMax(1, plot->axisRect()->width());
        setView(dragLower + shift, dragUpper + shift);
    }
    if (plot->axisRect()->rect().contains(event->pos()))
        showReadout(plot->xAxis->pixelToCoord(event->pos().x()));
    else
        hideReadout();
}

void ChartGroup::wheeled(int channel, QWheelEvent* event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0.0)
        return;
    QCustomPlot* plot = charts[channel].plot;
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    const double x = event->position().x();
#else
    const double x = event->pos().x();
#endif
    const double about = plot->xAxis->pixelToCoord(x);
    const QCPRange range = plot->xAxis->range();
    const double factor = std::pow(ZoomPerWheelStep, steps);
    setView(about + (range.lower - about) * factor, about + (range.upper - about) * factor);
}

void ChartGroup::doubleClicked(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        showAll();
}
