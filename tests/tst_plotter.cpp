// SPDX-License-Identifier: GPL-3.0-or-later
#include "plotter.h"
#include "chartgroup.h"
#include "history.h"

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

// A record with X acceleration x; the other channels tell records apart.
UART_RCV recordWith(qint16 x, int n = 0)
{
    return UART_RCV {quint8(n), qint16(n % 3000), qint16(-n % 700), 0, x, qint16(n % 5), 0};
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
    // new points are taken from it, in milliseconds since the epoch.
    qint64 fakeMs = 0;
    void useFakeClock(qint64 startMs)
    {
        fakeMs = startMs;
        Plotter::setClockSource([this] { return fakeMs; });
    }

private slots:
    void cleanup();

    void chartsShareTheClock();

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

    // Looking back
    void columnsKeepExtremes_data();
    void columnsKeepExtremes();
    void oldestRecordsLeave();
    void statisticsByHand_data();
    void statisticsByHand();
    void clockSetBackKeepsOrder();
};

void TestPlotter::cleanup()
{
    Plotter::setClockSource({});
}

void TestPlotter::chartsShareTheClock()
{
    Plotter first;
    Plotter second;
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    first.addPoint(1);
    const double firstKey = newestKey(first);
    QVERIFY2(firstKey * 1000.0 >= before && firstKey * 1000.0 < before + 500.0, qPrintable(QString::number(firstKey)));

    QTest::qWait(300);
    second.addPoint(1);
    const double secondKey = newestKey(second);
    // The second chart's point is on the same clock as the first's, not
    // counted from its own start. Generous upper bound: shared, busy machines.
    QVERIFY2(secondKey - firstKey >= 0.29 && secondKey - firstKey < 10.0,
             qPrintable(QString("%1 -> %2").arg(firstKey).arg(secondKey)));
    // Keys are whole milliseconds.
    QCOMPARE(std::round(secondKey * 1000.0) / 1000.0, secondKey);
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
    // The local clock time of the console's lines, with milliseconds only
    // in a view under 10 seconds.
    Plotter chart;
    chart.show(); // laid out: the ticks fit the axis's width
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    plotOf(chart)->replot();
    QSharedPointer<QCPAxisTicker> ticker = plotOf(chart)->xAxis->ticker();
    const double noon = QDateTime(QDate(2026, 12, 8), QTime(12, 0)).toMSecsSinceEpoch() / 1000.0;
    for (double span : {8.0, 600.0}) {
        QVector<double> ticks;
        QVector<QString> labels;
        ticker->generate(QCPRange(noon, noon + span), QLocale::c(), 'g', 6, ticks, nullptr, &labels);
        QVERIFY2(labels.size() >= 2, qPrintable(QString("%1 s: %2 ticks").arg(span).arg(labels.size())));
        for (int i = 0; i < labels.size(); ++i) {
            const QDateTime at = QDateTime::fromMSecsSinceEpoch(qRound64(ticks.at(i) * 1000.0));
            QCOMPARE(labels.at(i), at.toString(span < 10 ? "hh:mm:ss.zzz" : "hh:mm:ss"));
        }
    }
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
    // Before any point the chart's newest key is the time it was made, and
    // its own timer moves the key axis there.
    useFakeClock(7000);
    Plotter chart;
    QCustomPlot* plot = plotOf(chart);
    QTRY_COMPARE_WITH_TIMEOUT(plot->xAxis->range().lower, -1.0, 2000);
    QCOMPARE(plot->xAxis->range().upper, 7.0);

    fakeMs = 10000;
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

void TestPlotter::columnsKeepExtremes_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("spikeAt");
    QTest::addColumn<int>("columns");
    // Spikes inside a summarised block, on a block's and a chunk's edge,
    // and in a view with fewer records than columns.
    QTest::newRow("mid-block") << 3 * History::ChunkSize << 1000 << 97;
    QTest::newRow("block edge") << 3 * History::ChunkSize << 5 * History::BlockSize << 400;
    QTest::newRow("chunk edge") << 3 * History::ChunkSize << History::ChunkSize - 1 << 13;
    QTest::newRow("few records") << 150 << 77 << 400;
}

void TestPlotter::columnsKeepExtremes()
{
    // Each column's extremes are those of its records, found one by one; a
    // one-sample spike stays in the reduced view the charts draw.
    QFETCH(int, records);
    QFETCH(int, spikeAt);
    QFETCH(int, columns);
    History history(0);
    const qint64 start = 1765000000000;
    for (int n = 0; n < records; ++n)
        history.append(start + n * 3 / 2, recordWith(n == spikeAt ? 30000 : qint16(std::lround(800 * std::sin(n * 0.01))), n));
    const double from = start + 100, to = start + records * 3 / 2 - 50;
    const QVector<History::Column> reduced = history.columns(3, from, to, columns);
    QCOMPARE(reduced.size(), columns);
    qint64 seen = 0;
    for (int k = 0; k < columns; ++k) {
        const double left = from + (to - from) * k / columns, right = from + (to - from) * (k + 1) / columns;
        double low = 1e9, high = -1e9;
        qint64 inside = 0;
        for (qint64 i = 0; i < history.size(); ++i) {
            const qint64 t = history.timeAt(i);
            if (t >= left && (t < right || (k == columns - 1 && t <= to))) {
                ++inside;
                low = qMin(low, history.valueAt(i, 3));
                high = qMax(high, history.valueAt(i, 3));
            }
        }
        QCOMPARE(reduced.at(k).count, inside);
        if (inside > 0) {
            QCOMPARE(reduced.at(k).min, low);
            QCOMPARE(reduced.at(k).max, high);
        }
        seen += inside;
    }
    QCOMPARE(seen, history.upperBound(to) - history.lowerBound(from));

    QList<Plotter*> charts;
    for (int c = 0; c < History::Channels; ++c)
        charts.append(new Plotter);
    ChartGroup group(charts, &history);
    group.setView(from / 1000.0, to / 1000.0);
    QCustomPlot* plot = charts.at(3)->customPlot();
    plot->replot();
    const auto drawn = plot->graph(1)->data();
    QVERIFY(drawn->size() <= 2 * plot->axisRect()->width() + 2);
    QCOMPARE(plot->yAxis->range().upper, 30000.0);
    double top = 0;
    for (auto it = drawn->constBegin(); it != drawn->constEnd(); ++it)
        top = qMax(top, it->value);
    QCOMPARE(top, 30000.0);
    qDeleteAll(charts);
}

void TestPlotter::oldestRecordsLeave()
{
    // Kept for 10 s, fed for 100 s at 1 record per ms: the store holds the
    // newest 10 s, and its memory stays that of 10 s.
    History history(10000);
    qint64 largest = 0;
    for (qint64 t = 0; t < 100000; ++t) {
        history.append(t, recordWith(qint16(t % 1000), int(t)));
        largest = qMax(largest, history.bytesHeld());
    }
    QCOMPARE(history.lastTime(), qint64(99999));
    QCOMPARE(history.firstTime(), qint64(89999));
    QCOMPARE(history.size(), qint64(10001));
    QCOMPARE(history.rawAt(0, 3), qint16(999));
    QVERIFY2(largest < (10001 + 2 * History::ChunkSize) * 24, qPrintable(QString::number(largest)));
}

void TestPlotter::statisticsByHand_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QVector<int>>("values");
    QTest::addColumn<QVector<double>>("expected"); // min, max, mean, standard deviation
    QTest::newRow("mg") << 3 << QVector<int> {2, 4, 4, 4, 5, 5, 7, 9} << QVector<double> {2, 9, 5, 2};
    QTest::newRow("degrees") << 0 << QVector<int> {100, 300} << QVector<double> {1, 3, 2, 1};
    // Near full scale, about 10^5 records: a sum of squares in floating
    // point loses the deviation of 1 in the square of the mean.
    QVector<int> high;
    for (int n = 0; n < 100000; ++n)
        high << 32765 + 2 * (n % 2);
    QTest::newRow("full scale") << 4 << high << QVector<double> {32765, 32767, 32766, 1};
}

void TestPlotter::statisticsByHand()
{
    QFETCH(int, channel);
    QFETCH(QVector<int>, values);
    QFETCH(QVector<double>, expected);
    History history;
    for (int n = 0; n < values.size(); ++n) {
        UART_RCV r {};
        (channel == 0 ? r.angle1 : channel == 3 ? r.accel1 : r.accel2) = qint16(values.at(n));
        history.append(1000 + n, r);
    }
    const History::Statistics stats = history.statistics(channel, 1000, 1000 + values.size());
    QCOMPARE(stats.count, qint64(values.size()));
    QCOMPARE(stats.min, expected.at(0));
    QCOMPARE(stats.max, expected.at(1));
    QCOMPARE(stats.mean, expected.at(2));
    QCOMPARE(stats.standardDeviation, expected.at(3));
    // A span holding only the second half.
    const qint64 half = values.size() / 2;
    QCOMPARE(history.statistics(channel, 1000 + half, 5e6).count, values.size() - half);
}

void TestPlotter::clockSetBackKeepsOrder()
{
    // The clock goes back 5 s after the third record: later records follow
    // the newest instead of landing among older ones, and searches hold.
    History history;
    const qint64 stamps[] = {10000, 10010, 10020, 5030, 5040, 30000};
    for (qint64 t : stamps)
        history.append(t, recordWith(1));
    QCOMPARE(history.timeAt(3), qint64(10020));
    QCOMPARE(history.timeAt(4), qint64(10030));
    QCOMPARE(history.timeAt(5), qint64(30000 + 4990));
    QCOMPARE(history.clockShiftMs(), qint64(4990));
    QCOMPARE(history.lowerBound(10025), qint64(4));
    QCOMPARE(history.nearest(10019), qint64(2));
}

QTEST_MAIN(TestPlotter)
#include "tst_plotter.moc"
