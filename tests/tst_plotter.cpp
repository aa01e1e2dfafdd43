// SPDX-License-Identifier: GPL-3.0-or-later
#include "plotter.h"

#include <QtTest>
#include <qcustomplot.h>

#include <cmath>
#include <limits>

// The chart is driven through its public operations; what it shows is read
// back from the QCustomPlot inside it, as the user would see it.
namespace {

QCustomPlot* plotOf(Plotter& chart)
{
    return chart.findChild<QCustomPlot*>();
}

QCPTextElement* titleOf(Plotter& chart)
{
    return qobject_cast<QCPTextElement*>(plotOf(chart)->plotLayout()->element(0, 0));
}

QSharedPointer<QCPGraphDataContainer> dataOf(Plotter& chart)
{
    return plotOf(chart)->graph(0)->data();
}

double newestKey(Plotter& chart)
{
    const auto data = dataOf(chart);
    return (data->constEnd() - 1)->key;
}

void tick(Plotter& chart)
{
    QVERIFY(QMetaObject::invokeMethod(&chart, "realtimeDataSlot"));
}

} // namespace

class TestPlotter : public QObject
{
    Q_OBJECT

    // A stand-in clock for the tests that need seconds to pass: the keys of
    // new points are taken from it, in milliseconds since the shared origin.
    qint64 fakeMs = 0;
    void useFakeClock(qint64 startMs)
    {
        fakeMs = startMs;
        Plotter::setElapsedSource([this] { return fakeMs; });
    }

private slots:
    void cleanup();

    // Runs first: the shared origin is taken on the first point of the process.
    void chartsShareOneTimeOrigin();

    void newChartShowsDefaults();
    void keyTicksAreTimesOfDay();
    void titleAndLabelsAreSet();
    void topAndRightAxesMirror();
    void timerMovesKeyAxisToNewestPoint();
    void pictureIsTheLibrarysDrawing();
    void valueAxisSpansEveryValue();
    void valueAxisKeepsDroppedExtremes();
    void valueAxisMatchesLibraryRescale_data();
    void valueAxisMatchesLibraryRescale();
    void droppedPointsKeepMemoryBounded();
    void slowPointsKeepLineIntoWindow();
};

void TestPlotter::cleanup()
{
    Plotter::setElapsedSource({});
}

void TestPlotter::chartsShareOneTimeOrigin()
{
    Plotter first;
    Plotter second;
    first.addPoint(1);
    const double firstKey = newestKey(first);
    QVERIFY2(firstKey >= 0.0 && firstKey < 0.5, qPrintable(QString::number(firstKey)));

    QTest::qWait(300);
    second.addPoint(1);
    const double secondKey = newestKey(second);
    // The second chart's first point is measured from the first chart's
    // origin, not from zero. Generous upper bound: shared, busy machines.
    QVERIFY2(secondKey - firstKey >= 0.29 && secondKey - firstKey < 10.0,
             qPrintable(QString("%1 -> %2").arg(firstKey).arg(secondKey)));
    // Keys are whole milliseconds.
    QCOMPARE(std::round(secondKey * 1000.0) / 1000.0, secondKey);

    // A chart created later still uses the same origin.
    Plotter third;
    third.addPoint(2);
    QVERIFY(newestKey(third) >= secondKey);
}

void TestPlotter::newChartShowsDefaults()
{
    Plotter chart;
    QCustomPlot* plot = plotOf(chart);
    QVERIFY(plot);
    QCOMPARE(plot->minimumSize(), QSize(400, 200));
    QCOMPARE(plot->pos(), QPoint(0, 0));

    QCOMPARE(plot->graphCount(), 1);
    QCOMPARE(plot->graph(0)->keyAxis(), plot->xAxis);
    QCOMPARE(plot->graph(0)->valueAxis(), plot->yAxis);
    QVERIFY(plot->graph(0)->data()->isEmpty());
    QCOMPARE(plot->interactions(), QCP::Interactions());

    QCOMPARE(plot->yAxis->range().lower, -1.0);
    QCOMPARE(plot->yAxis->range().upper, 1.0);

    // Title row above the axis rectangle.
    QCOMPARE(plot->plotLayout()->rowCount(), 2);
    QCPTextElement* title = titleOf(chart);
    QVERIFY(title);
    QCOMPARE(title->text(), QString("Plot-name"));
    QCOMPARE(title->font().family(), QString("sans"));
    QCOMPARE(title->font().pointSize(), 10);
    QVERIFY(title->font().bold());
    QCOMPARE(plot->plotLayout()->element(1, 0), static_cast<QCPLayoutElement*>(plot->axisRect()));

    // Full axes box: top and right axes shown as well.
    QVERIFY(plot->xAxis2->visible());
    QVERIFY(plot->yAxis2->visible());
}

void TestPlotter::keyTicksAreTimesOfDay()
{
    Plotter chart;
    auto ticker = plotOf(chart)->xAxis->ticker().dynamicCast<QCPAxisTickerTime>();
    QVERIFY(ticker);
    QCOMPARE(ticker->timeFormat(), QString("%h:%m:%s"));

    QVector<double> ticks;
    QVector<QString> labels;
    ticker->generate(QCPRange(3720, 3728), QLocale::c(), 'g', 6, ticks, nullptr, &labels);
    QVERIFY(labels.size() >= 2);
    const QRegularExpression format("^\\d\\d:\\d\\d:\\d\\d$");
    for (const QString& label : labels)
        QVERIFY2(format.match(label).hasMatch(), qPrintable(label));
    const int at3722 = ticks.indexOf(3722);
    QVERIFY(at3722 >= 0);
    QCOMPARE(labels.at(at3722), QString("01:02:02"));
}

void TestPlotter::titleAndLabelsAreSet()
{
    Plotter chart;
    chart.setTittle("Yaw");
    chart.setLabels("Time", "mg");
    QCOMPARE(titleOf(chart)->text(), QString("Yaw"));
    QCOMPARE(plotOf(chart)->xAxis->label(), QString("Time"));
    QCOMPARE(plotOf(chart)->yAxis->label(), QString("mg"));

    chart.setTittle(QString());
    QCOMPARE(titleOf(chart)->text(), QString());
}

void TestPlotter::topAndRightAxesMirror()
{
    Plotter chart;
    QCustomPlot* plot = plotOf(chart);
    useFakeClock(42000);
    chart.addPoint(-7);
    chart.addPoint(9);
    tick(chart);
    QCOMPARE(plot->xAxis2->range().lower, plot->xAxis->range().lower);
    QCOMPARE(plot->xAxis2->range().upper, plot->xAxis->range().upper);
    QCOMPARE(plot->yAxis2->range().lower, -7.0);
    QCOMPARE(plot->yAxis2->range().upper, 9.0);
}

void TestPlotter::timerMovesKeyAxisToNewestPoint()
{
    // Before any point the chart's newest key is 0, whatever other charts
    // hold, and its own timer moves the key axis there.
    Plotter chart;
    QCustomPlot* plot = plotOf(chart);
    QTRY_COMPARE_WITH_TIMEOUT(plot->xAxis->range().lower, -8.0, 2000);
    QCOMPARE(plot->xAxis->range().upper, 0.0);

    useFakeClock(10000);
    chart.addPoint(3);
    QCOMPARE(newestKey(chart), 10.0);
    tick(chart);
    QCOMPARE(plot->xAxis->range().lower, 2.0);
    QCOMPARE(plot->xAxis->range().upper, 10.0);

    // And the timer follows later points on its own, without help.
    fakeMs = 12345;
    chart.addPoint(4);
    QTRY_COMPARE_WITH_TIMEOUT(plot->xAxis->range().upper, 12.345, 2000);
    QCOMPARE(plot->xAxis->range().size(), 8.0);
}

void TestPlotter::pictureIsTheLibrarysDrawing()
{
    // What the chart shows on screen is what the library draws for the same
    // plot on a white page, redraw after redraw: nothing left over from the
    // previous picture, nothing missing, no transparent holes.
    Plotter chart;
    QCustomPlot* plot = plotOf(chart);
    chart.setTittle("Yaw");
    chart.setLabels("Time", "Degree");
    // The library's page drawing sets tick labels as text, while on screen
    // it pastes them from a cache, a pixel apart at times: both set as text.
    plot->setPlottingHint(QCP::phCacheLabels, false);
    useFakeClock(60000);
    auto compareWithLibrary = [&](const char* when) {
        tick(chart);
        const QImage shown = plot->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage page(shown.size(), QImage::Format_RGB32);
        page.fill(Qt::white);
        QPainter painter(&page);
        painter.drawPixmap(0, 0, plot->toPixmap(shown.width(), shown.height()));
        painter.end();
        int differing = 0;
        int largest = 0;
        for (int y = 0; y < page.height(); ++y) {
            const auto* a = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
            const auto* b = reinterpret_cast<const QRgb*>(page.constScanLine(y));
            for (int x = 0; x < page.width(); ++x) {
                const int d = qMax(qMax(qAbs(qRed(a[x]) - qRed(b[x])), qAbs(qGreen(a[x]) - qGreen(b[x]))),
                                   qAbs(qBlue(a[x]) - qBlue(b[x])));
                differing += d > 0;
                largest = qMax(largest, d);
            }
        }
        // Blending a transparent picture onto white rounds an edge pixel a
        // level apart at most from drawing it on white directly.
        QVERIFY2(largest <= 1, qPrintable(QString("%1: %2 of %3 pixels differ, by up to %4")
                                              .arg(when).arg(differing)
                                              .arg(page.width() * page.height()).arg(largest)));
    };
    compareWithLibrary("empty");
    if (QTest::currentTestFailed())
        return;
    for (int n = 0; n < 2000; ++n) {
        fakeMs = 60000 + n * 5;
        chart.addPoint(50.0 * std::sin(n * 0.01));
    }
    compareWithLibrary("a wave");
    if (QTest::currentTestFailed())
        return;
    for (int n = 0; n < 2000; ++n) {
        fakeMs += 5;
        chart.addPoint(-500.0 + n % 7);
    }
    compareWithLibrary("after a jump");
    if (QTest::currentTestFailed())
        return;
}

void TestPlotter::valueAxisSpansEveryValue()
{
    Plotter chart;
    QCustomPlot* plot = plotOf(chart);
    useFakeClock(1000);
    chart.addPoint(5);
    chart.addPoint(-3);
    QCOMPARE(plot->yAxis->range().lower, -3.0);
    QCOMPARE(plot->yAxis->range().upper, 5.0);
    chart.addPoint(20);
    QCOMPARE(plot->yAxis->range().lower, -3.0);
    QCOMPARE(plot->yAxis->range().upper, 20.0);
    // Values inside the span change nothing.
    chart.addPoint(0);
    QCOMPARE(plot->yAxis->range().lower, -3.0);
    QCOMPARE(plot->yAxis->range().upper, 20.0);

    // Narrower than the initial -1 ... 1 when the data is.
    Plotter narrow;
    narrow.addPoint(0.2);
    narrow.addPoint(0.5);
    QCOMPARE(plotOf(narrow)->yAxis->range().lower, 0.2);
    QCOMPARE(plotOf(narrow)->yAxis->range().upper, 0.5);
}

void TestPlotter::valueAxisKeepsDroppedExtremes()
{
    Plotter chart;
    QCustomPlot* plot = plotOf(chart);
    useFakeClock(0);
    chart.addPoint(5);
    fakeMs = 500;
    chart.addPoint(-3);
    for (fakeMs = 600; fakeMs < 30000; fakeMs += 100)
        chart.addPoint(0);
    chart.addPoint(20);
    // 5 and -3 left the 8-second window long ago and are gone from the
    // graph, but the value axis still spans them.
    const auto data = dataOf(chart);
    QVERIFY(data->constBegin()->key > 10.0);
    for (auto it = data->constBegin(); it != data->constEnd(); ++it)
        QVERIFY(it->value != 5 && it->value != -3);
    QCOMPARE(plot->yAxis->range().lower, -3.0);
    QCOMPARE(plot->yAxis->range().upper, 20.0);

    fakeMs = 60000;
    chart.addPoint(1);
    QCOMPARE(plot->yAxis->range().lower, -3.0);
    QCOMPARE(plot->yAxis->range().upper, 20.0);
}

void TestPlotter::valueAxisMatchesLibraryRescale_data()
{
    QTest::addColumn<QVector<double>>("values");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("one value") << QVector<double> {7};
    QTest::newRow("equal values") << QVector<double> {7, 7, 7};
    QTest::newRow("zero") << QVector<double> {0, 0};
    QTest::newRow("equal then wider") << QVector<double> {-2, -2, 3, 3, -5};
    QTest::newRow("5 -3 20") << QVector<double> {5, -3, 20};
    QTest::newRow("tiny values") << QVector<double> {1e-3, 1e-3, 2e-3};
    QTest::newRow("gaps") << QVector<double> {nan, 4, nan, 6, nan};
    QTest::newRow("degrees") << QVector<double> {-180, 179.99, 0.01, -0.01};
    QTest::newRow("milli-g") << QVector<double> {-32768, 32767, 1000};
}

void TestPlotter::valueAxisMatchesLibraryRescale()
{
    // The value axis is kept from a running minimum and maximum; after every
    // point it must equal the library's own full rescale over all points,
    // including its handling of a zero-size range.
    QFETCH(QVector<double>, values);
    Plotter chart;
    QCustomPlot* plot = plotOf(chart);
    QCustomPlot reference;
    QCPGraph* referenceGraph = reference.addGraph();
    reference.yAxis->setRange(-1, 1);
    useFakeClock(5000);
    for (double value : values) {
        chart.addPoint(value);
        referenceGraph->addData(5.0, value);
        referenceGraph->rescaleValueAxis(false, false);
        QCOMPARE(plot->yAxis->range().lower, reference.yAxis->range().lower);
        QCOMPARE(plot->yAxis->range().upper, reference.yAxis->range().upper);
    }
}

void TestPlotter::droppedPointsKeepMemoryBounded()
{
    // Two minutes at 500 points per second, the clock stepping 2 ms a point:
    // the graph holds the visible window plus a bounded margin, never the run.
    Plotter chart;
    QCustomPlot* plot = plotOf(chart);
    const int perSecond = 500;
    const int seconds = 120;
    useFakeClock(0);
    int largest = 0;
    for (int i = 0; i < perSecond * seconds; ++i) {
        fakeMs = i * (1000 / perSecond);
        chart.addPoint(i == 1000 ? 1e6 : std::sin(i * 0.01));
        largest = qMax(largest, dataOf(chart)->size());
    }
    const int windowPoints = int(Plotter::WindowSeconds) * perSecond;
    QVERIFY2(largest <= 2 * windowPoints, qPrintable(QString::number(largest)));

    // Nothing the user can see is missing: every point of the window is
    // there, and one at or before its left edge for the line running out.
    tick(chart);
    const QCPRange window = plot->xAxis->range();
    const auto data = dataOf(chart);
    QVERIFY(data->constBegin()->key <= window.lower);
    int inWindow = 0;
    for (auto it = data->constBegin(); it != data->constEnd(); ++it)
        inWindow += it->key >= window.lower ? 1 : 0;
    QCOMPARE(inWindow, windowPoints + 1); // both edges included

    // The spike of the second second is long gone but still sets the range.
    QCOMPARE(plot->yAxis->range().upper, 1e6);
    QVERIFY(plot->yAxis->range().lower < -0.99);
}

void TestPlotter::slowPointsKeepLineIntoWindow()
{
    // One point every 2.5 seconds: the newest point left of the window must
    // stay, or the line's first segment in the window would vanish.
    Plotter chart;
    useFakeClock(0);
    for (int i = 0; i < 20; ++i) {
        fakeMs = i * 2500;
        chart.addPoint(i);
        const auto data = dataOf(chart);
        QVERIFY(data->constBegin()->key <= qMax(0.0, newestKey(chart) - Plotter::WindowSeconds));
        QVERIFY(data->size() <= 5);
    }
}

QTEST_MAIN(TestPlotter)
#include "tst_plotter.moc"
