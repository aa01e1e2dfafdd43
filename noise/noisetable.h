// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef NOISETABLE_H
#define NOISETABLE_H

#include "noiseanalysis.h"

#include <QTableWidget>

// The figures of an analysis, a column per channel, each with its unit:
// what a datasheet states, read off as the analysis read it. A coefficient
// read outside the tau range where its slope was seen says "extrapolated";
// a figure with nothing to show (a coefficient of an angle, a drift of an
// acceleration, a value that is not a number) reads "—". The span's own
// figures (records, rate, duration, lost frames) close the table.
class NoiseTable : public QTableWidget
{
    Q_OBJECT

public:
    explicit NoiseTable(QWidget* parent = nullptr);
    void showResult(const Noise::Result& result);
    void clearResult();

    // Three significant digits (or as many as asked), "0" for zero, "—"
    // for what is not finite.
    static QString number(double value, int significantDigits = 3);
    QSize sizeHint() const override;

private:
    void setCell(int row, int column, const QString& text, const QString& tip = QString());
    void setSpanRow(int row, const QString& text);
};

#endif // NOISETABLE_H
