#include "plotter.h"

#include <QtTest>
#include <qcustomplot.h>

class TestPlotter : public QObject
{
    Q_OBJECT
private slots:
    void newChartShowsDefaults();
};

void TestPlotter::newChartShowsDefaults()
{
    Plotter chart;
    auto* plot = chart.findChild<QCustomPlot*>();
    QVERIFY(plot);
    QCOMPARE(plot->yAxis->range().lower, -1.0);
    QCOMPARE(plot->yAxis->range().upper, 1.0);
}

QTEST_MAIN(TestPlotter)
#include "tst_plotter.moc"
