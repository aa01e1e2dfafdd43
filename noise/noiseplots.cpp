// SPDX-License-Identifier: GPL-3.0-or-later
#include "noiseplots.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Tau at which the white noise and the random walk are read (IEEE 952).
constexpr double WhiteNoiseTauS = 1.0;
constexpr double RandomWalkTauS = 3.0;
// Room about the data on a log axis, as a factor each side.
constexpr double LogMargin = 1.6;

// Positive extremes of what one axis shows, for a log range.
struct Extent
{
    double low = std::numeric_limits<double>::infinity();
    double high = 0.0;
    void add(double v)
    {
        if (v > 0.0 && std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    bool valid() const { return high > 0.0; }
    QCPRange range() const
    {
        // One value, or values all alike: a decade about them.
        const double lo = low / LogMargin;
        const double hi = high * LogMargin;
        return hi / lo < 10.0 ? QCPRange(std::sqrt(lo * hi) / 3.2, std::sqrt(lo * hi) * 3.2) : QCPRange(lo, hi);
    }
};

void makeLogAxis(QCPAxis* axis, const QString& label)
{
    axis->setScaleType(QCPAxis::stLogarithmic);
    QSharedPointer<QCPAxisTickerLog> ticker(new QCPAxisTickerLog);
    ticker->setLogBase(10);
    ticker->setSubTickCount(8);
    axis->setTicker(ticker);
    // 0.01, 1, 250, and powers for what is far from 1: within a decade
    // the ticks are not all powers of ten.
    axis->setNumberFormat("gb");
    axis->setNumberPrecision(3);
    axis->setLabel(label);
    axis->grid()->setSubGridVisible(true);
    // Solid: dotted lines across the whole plot cost more to draw than
    // everything else in it.
    axis->grid()->setSubGridPen(QPen(QColor(236, 236, 236), 0));
    axis->grid()->setPen(QPen(QColor(205, 205, 205), 0));
    axis->setRange(1e-3, 1.0);
}

void setUp(QCustomPlot* plot, const QString& key, const QString& left, const QString& right)
{
    plot->setNoAntialiasingOnDrag(true);
    makeLogAxis(plot->xAxis, key);
    makeLogAxis(plot->yAxis, left);
    makeLogAxis(plot->yAxis2, right);
    plot->yAxis2->grid()->setVisible(false);
    plot->legend->setVisible(true);
    QFont small = plot->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    plot->legend->setFont(small);
    plot->legend->setRowSpacing(0);
    plot->legend->setBrush(QColor(255, 255, 255, 210));
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
}

// A text in the plot's middle, for what the curves cannot say.
QCPItemText* makeNote(QCustomPlot* plot)
{
    auto* note = new QCPItemText(plot);
    note->position->setType(QCPItemPosition::ptAxisRectRatio);
    note->position->setCoords(0.5, 0.5);
    note->setColor(QColor(110, 110, 110));
    return note;
}

// Value in mg of a coefficient given in µg (or mg).
double inMg(const Noise::Coefficient& c)
{
    return c.unit.startsWith(QStringLiteral("mg")) ? c.value : c.value / 1000.0;
}

void showAxes(QCustomPlot* plot, const Extent& keys, const Extent& left, const Extent& right)
{
    // Room on the right for the marks' labels.
    if (keys.valid())
        plot->xAxis->setRange(keys.low / 1.3, keys.high * 3.0);
    plot->legend->setVisible(plot->legend->itemCount() > 0);
    // An axis without a channel stays out of the way; the left one stays
    // anyway, as the frame of an empty plot.
    plot->yAxis->setTickLabels(left.valid() || !right.valid());
    plot->yAxis->setLabelColor(left.valid() || !right.valid() ? Qt::black : Qt::gray);
    if (left.valid())
        plot->yAxis->setRange(left.range());
    plot->yAxis2->setVisible(right.valid());
    if (right.valid())
        plot->yAxis2->setRange(right.range());
}

} // namespace

QColor NoisePlots::channelColour(int channel)
{
    static const QColor colours[] = {QColor(31, 119, 180), QColor(255, 127, 14), QColor(44, 160, 44),
                                     QColor(214, 39, 40),  QColor(148, 103, 189), QColor(140, 86, 75)};
    return colours[qBound(0, channel, Noise::Channels - 1)];
}

QString NoisePlots::channelTitle(int channel)
{
    static const char* const titles[] = {"Yaw", "Pitch", "Roll", "X", "Y", "Z"};
    return QLatin1String(titles[qBound(0, channel, Noise::Channels - 1)]);
}

// ---------------------------------------------------------------- Allan

AllanPlot::AllanPlot(QWidget* parent)
    : QCustomPlot(parent)
{
    setUp(this, QStringLiteral("τ (s)"), QStringLiteral("Allan deviation, accelerations (mg)"),
          QStringLiteral("Allan deviation, angles (°/s)"));
    note = makeNote(this);
}

void AllanPlot::clearResult()
{
    clearPlottables();
    clearItems();
    note = makeNote(this);
    note->setText(QStringLiteral("No analysis yet"));
    replot();
}

QCPGraph* AllanPlot::addLine(QCPAxis* valueAxis, const QVector<double>& tau, const QVector<double>& dev,
                             const QPen& pen)
{
    QCPGraph* graph = addGraph(xAxis, valueAxis);
    graph->setData(tau, dev, true);
    graph->setPen(pen);
    graph->removeFromLegend();
    return graph;
}

void AllanPlot::addMark(double tau, double dev, const QString& label, const QColor& colour, int order)
{
    if (!(dev > 0.0) || !std::isfinite(dev))
        return;
    QCPGraph* mark = addLine(yAxis, {tau}, {dev}, QPen(colour));
    mark->setLineStyle(QCPGraph::lsNone);
    mark->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDiamond, colour, Qt::white, 9));
    auto* text = new QCPItemText(this);
    QFont bold = font();
    bold.setBold(true);
    text->setFont(bold);
    text->position->setAxes(xAxis, yAxis);
    text->position->setCoords(tau, dev);
    text->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
    // Several channels' marks lie close: their labels side by side.
    text->setPadding(QMargins(6 + order * QFontMetrics(text->font()).horizontalAdvance(label + QLatin1Char(' ')), 0, 0, 3));
    text->setText(label);
    text->setColor(colour);
}

void AllanPlot::addFits(const Noise::ChannelResult& c, const QColor& colour, int order)
{
    QPen fit(colour, 1.2, Qt::DashLine);
    fit.setCosmetic(true);
    // The −½ line: sigma = N / sqrt(tau), over where it was fitted and on to
    // 1 s, where N is read.
    if (c.whiteNoise.valid && c.whiteNoise.value > 0.0) {
        const double n = inMg(c.whiteNoise);
        const double from = std::min(c.whiteNoise.fitFromTauS, WhiteNoiseTauS);
        const double to = std::max(c.whiteNoise.fitToTauS, WhiteNoiseTauS);
        addLine(yAxis, {from, to}, {n / std::sqrt(from), n / std::sqrt(to)}, fit);
        addMark(WhiteNoiseTauS, n, QStringLiteral("N"), colour, order);
    }
    // The +½ line: sigma = K sqrt(tau / 3), read at 3 s.
    if (c.randomWalk.valid && c.randomWalk.value > 0.0) {
        const double k = inMg(c.randomWalk);
        const double from = std::min(c.randomWalk.fitFromTauS, RandomWalkTauS);
        const double to = std::max(c.randomWalk.fitToTauS, RandomWalkTauS);
        addLine(yAxis, {from, to}, {k * std::sqrt(from / RandomWalkTauS), k * std::sqrt(to / RandomWalkTauS)}, fit);
        addMark(RandomWalkTauS, k, QStringLiteral("K"), colour, order);
    }
    // The flat minimum, drawn where it is: B itself is that ÷ 0.664.
    if (c.biasInstability.valid && c.biasRawMinimum > 0.0) {
        const double floor = c.biasRawMinimum / 1000.0;
        const double from = c.biasInstability.fitFromTauS > 0.0 ? c.biasInstability.fitFromTauS : c.biasTauS / 2.0;
        const double to = c.biasInstability.fitToTauS > 0.0 ? c.biasInstability.fitToTauS : c.biasTauS * 2.0;
        addLine(yAxis, {from, to}, {floor, floor}, fit);
        addMark(c.biasTauS, floor, QStringLiteral("B"), colour, order);
    }
}

void AllanPlot::addResolutionFloors(const Noise::Result& result, const QVector<int>& channels)
{
    // What the stream's steps alone would give, one line per kind of
    // channel chosen: curves near it measure the stream, not the sensor.
    QPen dotted(QColor(150, 150, 150), 1.0);
    for (const bool angle : {false, true}) {
        QVector<double> tau, dev;
        for (int channel : channels) {
            const Noise::ChannelResult& c = result.channels[size_t(channel)];
            if (c.angle != angle || c.adev.size() <= tau.size())
                continue;
            tau.clear();
            dev.clear();
            for (const Noise::AdevPoint& p : c.adev) {
                tau << p.tauS;
                dev << Noise::adevFloor(angle, result.rateHz, p.tauS);
            }
        }
        if (tau.isEmpty())
            continue;
        QCPGraph* floor = addLine(angle ? yAxis2 : yAxis, tau, dev, dotted);
        floor->setName(angle ? QStringLiteral("0.01° step") : QStringLiteral("1 mg step"));
        floor->addToLegend();
    }
}

void AllanPlot::showResult(const Noise::Result& result, const QVector<int>& channels)
{
    clearPlottables();
    clearItems();
    note = makeNote(this);
    Extent keys, left, right;
    QStringList constant;
    int fitted = 0;
    for (int channel : channels) {
        const Noise::ChannelResult& c = result.channels[size_t(channel)];
        QCPAxis* axis = c.angle ? yAxis2 : yAxis;
        Extent& extent = c.angle ? right : left;
        QVector<double> tau, dev, minus, plus;
        for (const Noise::AdevPoint& p : c.adev) {
            if (!(p.dev > 0.0) || !std::isfinite(p.dev))
                continue;
            tau << p.tauS;
            dev << p.dev;
            // A lower bound at or under zero has no place on a log axis.
            const double lo = p.lo > 0.0 ? p.lo : p.dev / 10.0;
            minus << p.dev - std::min(lo, p.dev);
            plus << std::max(p.hi - p.dev, 0.0);
            keys.add(p.tauS);
            extent.add(lo);
            extent.add(p.hi);
            extent.add(p.dev);
        }
        if (tau.isEmpty()) {
            if (!c.adev.isEmpty())
                constant << NoisePlots::channelTitle(channel);
            continue;
        }
        const QColor colour = NoisePlots::channelColour(channel);
        QCPGraph* graph = addGraph(xAxis, axis);
        graph->setName(NoisePlots::channelTitle(channel) + (c.angle ? QStringLiteral(" (°/s)") : QStringLiteral(" (mg)")));
        graph->setData(tau, dev, true);
        graph->setPen(QPen(colour, 1.5));
        graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, colour, colour, 4));
        auto* bars = new QCPErrorBars(xAxis, axis);
        bars->removeFromLegend();
        bars->setDataPlottable(graph);
        bars->setData(minus, plus);
        bars->setPen(QPen(colour.lighter(130), 1));
        bars->setWhiskerWidth(5);
        if (!c.angle) {
            addFits(c, colour, fitted++);
            // Marks lie on the curve's scale; taus 1 and 3 s may lie beyond it.
            keys.add(WhiteNoiseTauS);
            if (c.randomWalk.valid)
                keys.add(RandomWalkTauS);
        }
    }
    addResolutionFloors(result, channels);
    if (!constant.isEmpty())
        note->setText(QStringLiteral("%1: constant, Allan deviation 0").arg(constant.join(QStringLiteral(", "))));
    else if (keys.valid())
        note->setText(QString());
    else
        note->setText(channels.isEmpty() ? QStringLiteral("No channel chosen") : QStringLiteral("Too few records"));
    showAxes(this, keys, left, right);
}

// ------------------------------------------------------------- spectrum

SpectrumPlot::SpectrumPlot(QWidget* parent)
    : QCustomPlot(parent)
{
    setUp(this, QStringLiteral("Frequency (Hz)"), QStringLiteral("ASD, accelerations (µg/√Hz)"),
          QStringLiteral("ASD, angles ((°/s)/√Hz)"));
    note = makeNote(this);
}

void SpectrumPlot::clearResult()
{
    clearPlottables();
    clearItems();
    note = makeNote(this);
    note->setText(QStringLiteral("No analysis yet"));
    replot();
}

void SpectrumPlot::showResult(const Noise::Result& result, const QVector<int>& channels)
{
    clearPlottables();
    clearItems();
    note = makeNote(this);
    Extent keys, left, right;
    QStringList constant;
    int labels = 0;
    for (int channel : channels) {
        const Noise::ChannelResult& c = result.channels[size_t(channel)];
        const Noise::Spectrum& s = c.spectrum;
        QCPAxis* axis = c.angle ? yAxis2 : yAxis;
        Extent& extent = c.angle ? right : left;
        QVector<double> hz, asd;
        // The mean's bin (0 Hz) and empty bins have no place on log axes.
        for (int i = 0; i < std::min(s.hz.size(), s.asd.size()); ++i)
            if (s.hz.at(i) > 0.0 && s.asd.at(i) > 0.0 && std::isfinite(s.asd.at(i))) {
                hz << s.hz.at(i);
                asd << s.asd.at(i);
                keys.add(s.hz.at(i));
                extent.add(s.asd.at(i));
            }
        if (hz.isEmpty()) {
            if (!s.hz.isEmpty())
                constant << NoisePlots::channelTitle(channel);
            continue;
        }
        const QColor colour = NoisePlots::channelColour(channel);
        QCPGraph* graph = addGraph(xAxis, axis);
        graph->setName(NoisePlots::channelTitle(channel));
        graph->setData(hz, asd, true);
        graph->setPen(QPen(colour, 1));

        if (s.floor > 0.0 && std::isfinite(s.floor)) {
            QPen dashed(colour.darker(120), 1.2, Qt::DashLine);
            QCPGraph* floor = addGraph(xAxis, axis);
            floor->removeFromLegend();
            floor->setPen(dashed);
            floor->setData({std::max(1.0, hz.first()), hz.last()}, {s.floor, s.floor}, true);
        }
        const int marked = std::min(int(s.peaks.size()), PeaksMarked);
        for (int i = 0; i < marked; ++i) {
            const Noise::Peak& p = s.peaks.at(i);
            if (!(p.hz > 0.0 && p.asd > 0.0))
                continue;
            QCPGraph* mark = addGraph(xAxis, axis);
            mark->removeFromLegend();
            mark->setLineStyle(QCPGraph::lsNone);
            mark->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssTriangleInverted, colour, colour, 8));
            mark->setData({p.hz}, {p.asd}, true);
            // The strongest peak of each channel is labelled (the table
            // lists the others), the labels stacked so none covers another.
            if (i > 0)
                continue;
            auto* text = new QCPItemText(this);
            text->position->setAxes(xAxis, axis);
            text->position->setCoords(p.hz, p.asd);
            text->setPositionAlignment(Qt::AlignHCenter | Qt::AlignBottom);
            // Stacked by rank, so that neighbouring peaks' labels stay apart.
            text->setPadding(QMargins(0, 0, 0, 7 + labels++ * QFontMetrics(text->font()).height()));
            text->setColor(colour);
            text->setText(QStringLiteral("%1 Hz").arg(p.hz, 0, 'f', p.hz < 10.0 ? 2 : 1));
            extent.add(p.asd * (3.0 + labels)); // room for the labels above it
        }
    }
    if (!constant.isEmpty())
        note->setText(QStringLiteral("%1: constant, no spectrum to draw").arg(constant.join(QStringLiteral(", "))));
    else if (keys.valid())
        note->setText(QString());
    else
        note->setText(channels.isEmpty() ? QStringLiteral("No channel chosen") : QStringLiteral("Too few records"));
    showAxes(this, keys, left, right);
}
