// SPDX-License-Identifier: GPL-3.0-or-later
#include "chartmarks.h"

#include <qcustomplot.h>

namespace {
// Apart from the read-out's red line and the data's own colours.
const QColor MarkColour(0, 120, 90);
} // namespace

ChartMarks::ChartMarks(const QList<QCustomPlot*>& plots, QObject* parent)
    : QObject(parent)
    , plots(plots)
{
    for (int chart = 0; chart < plots.size(); ++chart)
        connect(plots.at(chart), &QCustomPlot::beforeReplot, this, [this, chart] { showInView(chart); });
}

void ChartMarks::add(double seconds, const QString& label)
{
    Mark mark;
    mark.seconds = seconds;
    for (QCustomPlot* plot : plots) {
        auto* line = new QCPItemLine(plot);
        line->setPen(QPen(MarkColour, 1, Qt::DashLine));
        line->setSelectable(false);
        for (QCPItemPosition* end : {line->start, line->end}) {
            end->setTypeX(QCPItemPosition::ptPlotCoords);
            end->setTypeY(QCPItemPosition::ptAxisRectRatio);
        }
        line->start->setCoords(seconds, 0);
        line->end->setCoords(seconds, 1);

        auto* text = new QCPItemText(plot);
        QFont font = plot->xAxis->tickLabelFont();
        font.setPointSizeF(LabelPointSize);
        text->setFont(font);
        text->setColor(MarkColour);
        text->setBrush(QColor(255, 255, 255, 200));
        text->setPadding(QMargins(2, 0, 2, 0));
        text->setSelectable(false);
        text->setClipToAxisRect(true);
        text->position->setTypeX(QCPItemPosition::ptPlotCoords);
        text->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        text->position->setCoords(seconds, 0);
        text->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        text->setText(label);
        mark.lines.append(line);
        mark.labels.append(text);
    }
    marks.append(mark);
}

void ChartMarks::remove(const Mark& mark)
{
    for (int chart = 0; chart < plots.size(); ++chart) {
        plots.at(chart)->removeItem(mark.lines.at(chart));
        plots.at(chart)->removeItem(mark.labels.at(chart));
    }
}

void ChartMarks::clear()
{
    for (const Mark& mark : qAsConst(marks))
        remove(mark);
    marks.clear();
}

void ChartMarks::dropBefore(double seconds)
{
    QVector<Mark> kept;
    for (const Mark& mark : qAsConst(marks)) {
        if (mark.seconds < seconds)
            remove(mark);
        else
            kept.append(mark);
    }
    marks = kept;
}

void ChartMarks::showInView(int chart)
{
    const QCPRange view = plots.at(chart)->xAxis->range();
    for (const Mark& mark : qAsConst(marks)) {
        const bool inView = view.contains(mark.seconds);
        mark.lines.at(chart)->setVisible(inView);
        mark.labels.at(chart)->setVisible(inView);
    }
}
