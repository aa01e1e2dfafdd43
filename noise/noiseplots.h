// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef NOISEPLOTS_H
#define NOISEPLOTS_H

#include "noiseanalysis.h"

#include <qcustomplot.h>

#include <QVector>

// The two plots of a still test, both on log–log axes, accelerations on the
// left axis and angles on the right one, since their units differ. A value
// of zero (a perfectly constant channel) has no place on a log axis: it is
// left out, and the plot says so, rather than clamping the axis to zero.
namespace NoisePlots {

// Line colours of the six channels, in the charts' order.
QColor channelColour(int channel);
// "Yaw" … "Z".
QString channelTitle(int channel);

} // namespace NoisePlots

// The overlapping Allan deviation of the chosen channels against tau, with
// its 68.3 % confidence intervals as error bars, and for accelerations the
// lines the coefficients were read from: the −½ line with N at 1 s, the
// flat minimum with B at its tau, the +½ line with K at 3 s.
class AllanPlot : public QCustomPlot
{
    Q_OBJECT

public:
    explicit AllanPlot(QWidget* parent = nullptr);
    void showResult(const Noise::Result& result, const QVector<int>& channels);
    void clearResult();

private:
    void addResolutionFloors(const Noise::Result& result, const QVector<int>& channels);
    // order: the channel's place among those drawn, for its labels' place.
    void addFits(const Noise::ChannelResult& c, const QColor& colour, int order);
    void addMark(double tau, double dev, const QString& label, const QColor& colour, int order);
    QCPGraph* addLine(QCPAxis* valueAxis, const QVector<double>& tau, const QVector<double>& dev, const QPen& pen);
    QCPItemText* note = nullptr;
};

// The one-sided amplitude spectral density of the chosen channels (Welch),
// with each one's floor and its strongest peaks marked.
class SpectrumPlot : public QCustomPlot
{
    Q_OBJECT

public:
    static constexpr int PeaksMarked = 3;

    explicit SpectrumPlot(QWidget* parent = nullptr);
    void showResult(const Noise::Result& result, const QVector<int>& channels);
    void clearResult();

private:
    QCPItemText* note = nullptr;
};

#endif // NOISEPLOTS_H
