// SPDX-License-Identifier: GPL-3.0-or-later
#include "plotter.h"

#include <QDateTime>
#include <QResizeEvent>
#include <QTimer>
#include <qcustomplot.h>

#include <cmath>
#include <limits>

namespace {

// Points older than the visible window can never be seen again live (looking
// back draws from the window's history instead), so they are dropped.
// Keeping one extra second lets the line run out of the left edge; waiting
// for a further second before dropping makes the removal a batch, amortised
// over many points.
constexpr double KeptMarginSeconds = 1.0;
constexpr double DropBatchSeconds = 1.0;

Plotter::ClockSource& clockSource()
{
    static Plotter::ClockSource source;
    return source;
}

// The time axis in the local time of day, like the console's lines, with
// milliseconds once a view is short enough for them to tell ticks apart.
// Ticks go at the shortest whole step that keeps their labels apart.
//
// Its labels are made on every redraw of a live chart. Turning an instant
// into local time looks the time zone up each time, the costliest part of a
// label; the offset from UTC is looked up only when the view reaches a new
// second, and labels are made from it unless it changes within the view.
class ClockTicker : public QCPAxisTickerDateTime
{
public:
    static constexpr double MillisecondsBelowSeconds = 10.0;

    explicit ClockTicker(QCPAxis* axis)
        : axis(axis)
    {
        setDateTimeFormat(QStringLiteral("hh:mm:ss"));
    }

    void generate(const QCPRange& range, const QLocale& locale, QChar formatChar, int precision,
                  QVector<double>& ticks, QVector<double>* subTicks, QVector<QString>* tickLabels) override
    {
        const bool fine = range.size() < MillisecondsBelowSeconds;
        if (fine != showsMilliseconds) {
            showsMilliseconds = fine;
            setDateTimeFormat(fine ? QStringLiteral("hh:mm:ss.zzz") : QStringLiteral("hh:mm:ss"));
            width = -1.0;
        }
        const qint64 firstSecond = qint64(std::floor(range.lower));
        const qint64 lastSecond = qint64(std::floor(range.upper));
        if (firstSecond != offsetFirstSecond || lastSecond != offsetLastSecond) {
            offsetFirstSecond = firstSecond;
            offsetLastSecond = lastSecond;
            const int first = QDateTime::fromSecsSinceEpoch(firstSecond).offsetFromUtc();
            const int last = QDateTime::fromSecsSinceEpoch(lastSecond).offsetFromUtc();
            offsetSeconds = first == last ? first : NoSingleOffset;
        }

        QCPAxisTickerDateTime::generate(range, locale, formatChar, precision, ticks, subTicks, tickLabels);
        // A label centred on a tick near an end would run into the value
        // axis's labels or off the chart: such a tick goes, while two stay.
        const double half = labelWidth() / 2.0;
        const QRect area = axis->axisRect()->rect();
        for (int i = ticks.size() - 1; i >= 0 && ticks.size() > 2; --i) {
            const double at = (ticks.at(i) - range.lower) / range.size() * area.width() + area.left();
            if (at - half < area.left() || at + half > area.right()) {
                ticks.remove(i);
                if (tickLabels)
                    tickLabels->remove(i);
            }
        }
    }

protected:
    double getTickStep(const QCPRange& range) override
    {
        // Seconds, as a clock's hands go.
        static const double steps[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.25, 0.5, 1, 2, 2.5, 5,
                                       10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200,
                                       86400};
        const double shortest = range.size() * LabelSpacing * labelWidth() / qMax(1, axis->axisRect()->width());
        for (double step : steps) {
            if (step >= shortest && (showsMilliseconds || step == std::floor(step)))
                return step;
        }
        return QCPAxisTickerDateTime::getTickStep(range);
    }

    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar, int precision) override
    {
        if (offsetSeconds == NoSingleOffset)
            return QCPAxisTickerDateTime::getTickLabel(tick, locale, formatChar, precision);
        constexpr qint64 DayMs = 24 * 3600 * 1000;
        const qint64 ms = qRound64(tick * 1000.0) + offsetSeconds * qint64(1000);
        return QTime::fromMSecsSinceStartOfDay(int(((ms % DayMs) + DayMs) % DayMs)).toString(dateTimeFormat());
    }

private:
    double labelWidth()
    {
        // Digits take the same width in the fonts that tick labels use.
        if (width < 0.0 || axis->tickLabelFont() != widthFont) {
            widthFont = axis->tickLabelFont();
            width = QFontMetricsF(widthFont).horizontalAdvance(showsMilliseconds ? "00:00:00.000" : "00:00:00");
        }
        return width;
    }

    // A label's width and a little more from one tick to the next.
    static constexpr double LabelSpacing = 1.1;
    static constexpr int NoSingleOffset = std::numeric_limits<int>::min();

    QCPAxis* const axis;
    bool showsMilliseconds = false;
    QFont widthFont;
    double width = -1.0;
    qint64 offsetFirstSecond = std::numeric_limits<qint64>::min();
    qint64 offsetLastSecond = std::numeric_limits<qint64>::min();
    int offsetSeconds = NoSingleOffset;
};

} // namespace

void Plotter::setClockSource(ClockSource source)
{
    clockSource() = std::move(source);
}

qint64 Plotter::now()
{
    const auto& source = clockSource();
    return source ? source() : QDateTime::currentMSecsSinceEpoch();
}

namespace {

// The library draws a chart into a buffer cleared to transparent, then fills
// the widget with the background and blends the buffer over it: two passes
// over the widget's pixels per redraw, the largest single cost of six charts
// redrawing at 25 Hz. A buffer cleared to the background is opaque instead,
// and copied over the widget as it is it gives the same picture in one pass.
class OpaqueBuffer : public QCPPaintBufferPixmap
{
public:
    OpaqueBuffer(const QSize& size, double devicePixelRatio, const QColor& background)
        : QCPPaintBufferPixmap(size, devicePixelRatio)
        , background(background)
    {
    }

    void clear(const QColor&) override { mBuffer.fill(background); }

private:
    const QColor background;
};

class OpaquePlot : public QCustomPlot
{
public:
    explicit OpaquePlot(QWidget* parent)
        : QCustomPlot(parent)
    {
        // The library only creates its first buffer while it has none, and
        // sizes and clears it before every redraw. Layers that keep buffers
        // of their own still get the library's transparent ones on top.
        const QColor backgroundColor = mBackgroundBrush.color();
        mPaintBuffers.clear();
        mPaintBuffers.append(QSharedPointer<QCPAbstractPaintBuffer>(
            new OpaqueBuffer(viewport().size(), bufferDevicePixelRatio(), backgroundColor)));
        setBackground(Qt::NoBrush);
    }
};

} // namespace

Plotter::Plotter(QWidget* parent)
    : QWidget(parent)
    , plot(new OpaquePlot(this))
{
    plot->setMinimumSize(400, 200);

    graph = plot->addGraph();

    plot->xAxis->setTicker(QSharedPointer<QCPAxisTicker>(new ClockTicker(plot->xAxis)));
    lastKey = now() / 1000.0;

    plot->axisRect()->setupFullAxesBox(false);
    plot->yAxis->setRange(-1, 1);

    title = new QCPTextElement(plot, "Plot-name", QFont("sans", 10, QFont::Bold));
    plot->plotLayout()->insertRow(0);
    plot->plotLayout()->addElement(0, 0, title);

    // The library keeps its (always empty) overlay layer in a paint buffer of
    // its own, which every redraw clears and composes over the plot for
    // nothing. Drawn with the other layers, the picture is the same and a
    // redraw costs about a fifth less.
    if (QCPLayer* overlay = plot->layer("overlay"))
        overlay->setMode(QCPLayer::lmLogical);

    // By default the library paints a redrawn plot on the screen at once,
    // a flush of the whole window's changes for each chart. Left to the
    // event loop, the paints of charts redrawn together go out together.
    plot->setPlottingHint(QCP::phImmediateRefresh, false);

    connect(plot->xAxis, SIGNAL(rangeChanged(QCPRange)), plot->xAxis2, SLOT(setRange(QCPRange)));
    connect(plot->yAxis, SIGNAL(rangeChanged(QCPRange)), plot->yAxis2, SLOT(setRange(QCPRange)));

    redrawTimer = new QTimer(this);
    connect(redrawTimer, SIGNAL(timeout()), this, SLOT(realtimeDataSlot()));
    redrawTimer->start(RedrawPeriodMs);
}

void Plotter::followTick(QTimer* tick)
{
    delete redrawTimer;
    redrawTimer = nullptr;
    connect(tick, SIGNAL(timeout()), this, SLOT(realtimeDataSlot()));
}

void Plotter::setExposed(bool exposed)
{
    this->exposed = exposed;
    if (redrawTimer) {
        if (exposed)
            redrawTimer->start();
        else
            redrawTimer->stop();
    }
    if (exposed)
        realtimeDataSlot();
}

void Plotter::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    plot->resize(size().expandedTo(plot->minimumSize()));
}

void Plotter::setTittle(const QString& text)
{
    title->setText(text);
    replotNeeded = true;
}

void Plotter::setLabels(const QString& keyLabel, const QString& valueLabel)
{
    plot->xAxis->setLabel(keyLabel);
    plot->yAxis->setLabel(valueLabel);
    replotNeeded = true;
}

void Plotter::addPoint(double value)
{
    addPoint(value, now());
}

void Plotter::addPoint(double value, qint64 msSinceEpoch)
{
    // A clock set back must not put points before those already drawn: the
    // graph would have to re-sort everything it holds.
    double key = msSinceEpoch / 1000.0;
    const auto data = graph->data();
    if (!data->isEmpty())
        key = qMax(key, (data->constEnd() - 1)->key);
    graph->addData(key, value);
    replotNeeded = replotNeeded || following;
    updateValueRange(value);
    lastKey = key;
    dropPointsLeftOfWindow();
}

void Plotter::updateValueRange(double value)
{
    // A NaN is a gap in the line, not a value; the library's own rescale
    // skips it too.
    if (qIsNaN(value))
        return;
    if (!hasValues) {
        minValue = maxValue = value;
        hasValues = true;
    } else {
        minValue = qMin(minValue, value);
        maxValue = qMax(maxValue, value);
    }

    QCPRange range(minValue, maxValue);
    if (!QCPRange::validRange(range)) {
        // All values so far are equal: centre the current span on them, as
        // the plotting library does for a zero-size data range.
        const double center = (minValue + maxValue) * 0.5;
        const double halfSize = plot->yAxis->range().size() / 2.0;
        range = QCPRange(center - halfSize, center + halfSize);
    }
    // The axis announces every range it is given, changed or not, and the
    // mirrored right axis follows: only a new extreme is worth that.
    if (following && range != plot->yAxis->range())
        plot->yAxis->setRange(range);
}

void Plotter::dropPointsLeftOfWindow()
{
    const double keepFrom = lastKey - WindowSeconds - KeptMarginSeconds;
    const auto data = graph->data();
    if (data->isEmpty() || data->constBegin()->key >= keepFrom - DropBatchSeconds)
        return;
    // The newest point before keepFrom stays: when points come slower than
    // the margin, the line from it into the window is still on screen.
    data->removeBefore(data->findBegin(keepFrom)->key);
}

void Plotter::realtimeDataSlot()
{
    // Laying out and drawing the plot costs the same whether it is shown or
    // not.
    if (!exposed)
        return;
    if (!following) {
        if (replotNeeded) {
            replotNeeded = false;
            plot->replot(QCustomPlot::rpRefreshHint);
        }
        return;
    }
    const QCPRange shownKeys = plot->xAxis->range();
    plot->xAxis->setRange(lastKey, WindowSeconds, Qt::AlignRight);
    // Nothing new and nothing moved: the picture would come out the same.
    if (!replotNeeded && plot->xAxis->range() == shownKeys)
        return;
    replotNeeded = false;
    plot->replot(QCustomPlot::rpRefreshHint);
}

void Plotter::setFollowing(bool following)
{
    if (this->following == following)
        return;
    this->following = following;
    graph->setVisible(following);
    replotNeeded = true;
    // Back to the rule of the live view: every value of the run.
    if (following && hasValues)
        updateValueRange(maxValue);
    else if (following)
        plot->yAxis->setRange(-1, 1);
}
