// SPDX-License-Identifier: GPL-3.0-or-later
#include "noisetable.h"

#include "noiseplots.h"

#include <QHeaderView>

#include <algorithm>
#include <cmath>

namespace {

constexpr double MinutesPerHour = 60.0;
constexpr int PeaksListed = 3;
// Pixels above and below a line of a row.
constexpr int RowPadding = 6;
const QString None = QStringLiteral("—");

enum Row {
    Mean,
    Deviation,
    WhiteNoise,
    BiasInstability,
    BiasTau,
    RawMinimum,
    RandomWalk,
    AsdFloor,
    ResolutionLimit,
    DriftPerMinute,
    DriftPerHour,
    Peaks,
    Records,
    Rate,
    Duration,
    LostFrames,
    Segment,
    RowCount
};

const char* const RowTitles[RowCount] = {
    "Mean",
    "Standard deviation",
    "White noise N (τ = 1 s)",
    "Bias instability B",
    "B's τ",
    "Raw minimum (B × 0.664)",
    "Random walk K (τ = 3 s)",
    "ASD floor (one-sided)",
    "At the resolution limit",
    "Drift (°/min)",
    "Drift (°/h)",
    "Strongest peaks",
    "Records",
    "Rate",
    "Duration",
    "Lost frames",
    "Welch segment",
};

QString displayUnit(const Noise::ChannelResult& c)
{
    return c.angle ? QStringLiteral("°") : c.unit;
}

QString withUnit(double value, const QString& unit)
{
    const QString n = NoiseTable::number(value);
    return n == None || unit.isEmpty() ? n : n + QLatin1Char(' ') + unit;
}

// A value to the decimals of its error's two significant digits: more
// would claim what the error does not allow.
QString withError(double value, double error)
{
    if (!std::isfinite(value) || !std::isfinite(error))
        return None;
    if (error <= 0.0)
        return QStringLiteral("%1 ± 0").arg(NoiseTable::number(value));
    const int decimals = qBound(0, 1 - int(std::floor(std::log10(error))), 9);
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(value * scale) / scale;
    return QStringLiteral("%1 ± %2")
        .arg(QString::number(rounded == 0.0 ? 0.0 : rounded, 'f', decimals), QString::number(error, 'f', decimals));
}

QString duration(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0.0)
        return None;
    const qint64 ms = qint64(std::llround(seconds * 1000.0));
    return QStringLiteral("%1:%2:%3.%4 (h:min:s)")
        .arg(ms / 3600000)
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

} // namespace

NoiseTable::NoiseTable(QWidget* parent)
    : QTableWidget(RowCount, Noise::Channels, parent)
{
    QStringList columns;
    for (int channel = 0; channel < Noise::Channels; ++channel)
        columns << NoisePlots::channelTitle(channel);
    setHorizontalHeaderLabels(columns);
    QStringList rows;
    for (const char* title : RowTitles)
        rows << QString::fromUtf8(title);
    setVerticalHeaderLabels(rows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // Fitting every row to its contents on every result measures every
    // cell; a row is fitted again only when its number of lines changes.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(fontMetrics().lineSpacing() + RowPadding);
    for (int row = Records; row < RowCount; ++row)
        setSpan(row, 0, 1, Noise::Channels);
    // A coefficient's mark and a drift's error go on a second line rather
    // than being cut off.
    setWordWrap(true);
    clearResult();
}

QString NoiseTable::number(double value, int significantDigits)
{
    if (!std::isfinite(value))
        return None;
    if (value == 0.0)
        return QStringLiteral("0");
    // Fixed notation with three significant digits, as a datasheet writes
    // them: 0.0123, 1.23, 123, 12300.
    const int magnitude = int(std::floor(std::log10(std::abs(value))));
    // Far from 1, a power of ten reads better than a row of zeros.
    if (magnitude < -3 || magnitude > 6)
        return QString::number(value, 'g', significantDigits);
    const int decimals = qBound(0, significantDigits - 1 - magnitude, 9);
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(value * scale) / scale;
    return QString::number(rounded == 0.0 ? 0.0 : rounded, 'f', decimals);
}

QSize NoiseTable::sizeHint() const
{
    // Tall enough for every row, so the plots get the rest.
    const QSize hint = QTableWidget::sizeHint();
    return {hint.width(), horizontalHeader()->height() + verticalHeader()->length() + 2 * frameWidth()};
}

void NoiseTable::setCell(int row, int column, const QString& text, const QString& tip)
{
    // Kept from one result to the next: only a changed text costs a
    // repaint, and a changed height a layout.
    QTableWidgetItem* cell = item(row, column);
    if (!cell) {
        cell = new QTableWidgetItem;
        cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        setItem(row, column, cell);
    }
    if (cell->text() != text) {
        const bool taller = cell->text().count(QLatin1Char('\n')) != text.count(QLatin1Char('\n'));
        cell->setText(text);
        if (taller)
            resizeRowToContents(row);
    }
    if (cell->toolTip() != tip)
        cell->setToolTip(tip);
}

void NoiseTable::setSpanRow(int row, const QString& text)
{
    QTableWidgetItem* cell = item(row, 0);
    if (!cell) {
        cell = new QTableWidgetItem;
        cell->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setItem(row, 0, cell);
    }
    if (cell->text() != text)
        cell->setText(text);
}

void NoiseTable::clearResult()
{
    for (int row = 0; row < Records; ++row)
        for (int column = 0; column < Noise::Channels; ++column)
            setCell(row, column, None);
    for (int row = Records; row < RowCount; ++row)
        setSpanRow(row, None);
}

void NoiseTable::showResult(const Noise::Result& result)
{
    auto coefficient = [](const Noise::Coefficient& k) {
        if (!k.valid)
            return None;
        const QString text = withUnit(k.value, k.unit);
        return k.extrapolated && text != None ? text + QStringLiteral("\n(extrapolated)") : text;
    };
    auto fitRange = [](const Noise::Coefficient& k) {
        return k.valid ? QStringLiteral("Line fitted over τ = %1 … %2 s")
                             .arg(number(k.fitFromTauS), number(k.fitToTauS))
                       : QString();
    };
    for (int column = 0; column < Noise::Channels; ++column) {
        const Noise::ChannelResult& c = result.channels[size_t(column)];
        const QString unit = displayUnit(c);
        setCell(Mean, column, withUnit(c.mean, unit));
        setCell(Deviation, column, withUnit(c.sd, unit));
        setCell(AsdFloor, column, withUnit(c.spectrum.floor, c.spectrum.unit),
                QStringLiteral("Median over 1 Hz … the Nyquist frequency; white noise sits at √2 · N here"));
        QStringList peaks;
        for (int i = 0; i < std::min(int(c.spectrum.peaks.size()), PeaksListed); ++i)
            peaks << QStringLiteral("%1 Hz").arg(number(c.spectrum.peaks.at(i).hz));
        setCell(Peaks, column, peaks.isEmpty() ? None : peaks.join(QLatin1Char('\n')),
                QStringLiteral("Frequency of the strongest narrow peaks of the spectrum, strongest first"));
        setCell(ResolutionLimit, column, c.atResolutionLimit ? QStringLiteral("yes") : QStringLiteral("no"),
                c.angle ? QStringLiteral("Under twice the floor of a 0.01° step at this rate")
                        : QStringLiteral("Under twice the floor of a 1 mg step at this rate"));
        if (c.angle) {
            for (int row : {WhiteNoise, BiasInstability, BiasTau, RawMinimum, RandomWalk})
                setCell(row, column, None);
            setCell(DriftPerMinute, column,
                    withError(c.driftDegPerMin, c.driftStdErrDegPerMin),
                    QStringLiteral("Least-squares slope of the unwrapped angle, with its standard error"));
            setCell(DriftPerHour, column,
                    withError(c.driftDegPerMin * MinutesPerHour, c.driftStdErrDegPerMin * MinutesPerHour));
        } else {
            setCell(WhiteNoise, column, coefficient(c.whiteNoise), fitRange(c.whiteNoise));
            setCell(BiasInstability, column, coefficient(c.biasInstability), fitRange(c.biasInstability));
            setCell(BiasTau, column, c.biasInstability.valid ? withUnit(c.biasTauS, QStringLiteral("s")) : None);
            setCell(RawMinimum, column,
                    c.biasInstability.valid ? withUnit(c.biasRawMinimum, c.biasInstability.unit) : None);
            setCell(RandomWalk, column, coefficient(c.randomWalk), fitRange(c.randomWalk));
            setCell(DriftPerMinute, column, None);
            setCell(DriftPerHour, column, None);
        }
    }
    setSpanRow(Records, QString::number(result.records));
    setSpanRow(Rate, withUnit(result.rateHz, QStringLiteral("Hz")));
    setSpanRow(Duration, duration(result.durationS));
    setSpanRow(LostFrames, result.lostFrames == 0
                               ? QStringLiteral("0")
                               : QStringLiteral("%1: the records are taken as evenly spaced, not filled in")
                                     .arg(result.lostFrames));
    const Noise::Spectrum& s = result.channels[0].spectrum;
    setSpanRow(Segment, s.nperseg > 0 ? QStringLiteral("%1 records, %2 segments, 50 % overlap, Hann window")
                                            .arg(s.nperseg)
                                            .arg(s.segments)
                                      : None);
}
